#include "document/offline_doc.h"

#include <string_view>

#include "framework/ui_services.h"
#include "model/archive.h"

namespace {

// Keeps the first message box's text instead of showing it, and drops trace lines, so that a
// tool's standard output carries only what the tool prints itself.
class MessageCatcher final : public IUiServices {
  public:
    int MessageBox(std::string_view text, UINT type) override {
        if (message_.empty()) {
            message_ = text;
        }
        return NeutralAnswer(type);
    }
    void Trace(std::string_view /*line*/) override {}
    const std::string& Message() const { return message_; }

  private:
    std::string message_;
};

// A message on one line: line breaks inside become spaces, trailing ones go.
std::string OneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

}  // namespace

COfflineDoc::COfflineDoc() : CDoc(LoadMode::recordsOnly) {}

std::string COfflineDoc::Open(const std::string& path) {
    MessageCatcher catcher;
    const ScopedUiServices installed(catcher);
    if (OnOpenDocument(path)) {
        return {};
    }
    // A failure always says why; a silent one would still be a failure.
    return catcher.Message().empty() ? "Failed to open document." : OneLine(catcher.Message());
}

std::string COfflineDoc::OpenBytes(std::span<const std::uint8_t> bytes, const std::string& path) {
    bytes_ = &bytes;
    std::string message = Open(path);
    bytes_ = nullptr;
    return message;
}

std::string COfflineDoc::Save(const std::string& path) {
    MessageCatcher catcher;
    const ScopedUiServices installed(catcher);
    if (OnSaveDocument(path)) {
        return {};
    }
    return catcher.Message().empty() ? "Failed to save document." : OneLine(catcher.Message());
}

std::vector<std::uint8_t> COfflineDoc::SaveToBytes() {
    CArchive ar;
    Serialize(ar);
    return ar.TakeBytes();
}

int COfflineDoc::ReadDocumentFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    if (bytes_ == nullptr) {
        return CDoc::ReadDocumentFile(path, bytes);
    }
    bytes.assign(bytes_->begin(), bytes_->end());
    return 0;
}
