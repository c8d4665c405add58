#pragma once
// A configuration document for tools: it reads and writes configuration files exactly as the
// application opens and saves them, but connects no server, and hands back the message the
// application would have shown instead of showing it.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "document/doc.h"

class COfflineDoc : public CDoc {
  public:
    COfflineDoc();

    // Opens the file as File Open does. Returns "" on success, else the message the operator
    // would have seen ("Unexpected file format.", "%1 was not found." with the path, ...); the
    // document is then new and empty, or untouched when the file could not be read at all.
    std::string Open(const std::string& path);
    // Opens bytes as if they were the content of the file at path.
    std::string OpenBytes(std::span<const std::uint8_t> bytes, const std::string& path);
    // Saves to the file as File Save does. Returns "" on success, else the message.
    std::string Save(const std::string& path);
    // The bytes a save would write.
    std::vector<std::uint8_t> SaveToBytes();

  protected:
    int ReadDocumentFile(const std::string& path, std::vector<std::uint8_t>& bytes) override;

  private:
    const std::span<const std::uint8_t>* bytes_ = nullptr;  // while OpenBytes reads
};
