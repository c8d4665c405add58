#pragma once
// The recent-file list of the File menu: the files last opened or saved, most recent first,
// with at most a fixed number of entries. The GUI stores the entries in its settings.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class CRecentFileList {
  public:
    explicit CRecentFileList(std::size_t size = 4);

    std::size_t GetSize() const { return size_; }
    const std::vector<std::string>& GetEntries() const { return entries_; }
    bool IsEmpty() const { return entries_.empty(); }

    // Puts the file first (as an absolute path), moving it up if it is listed already; the
    // oldest entry drops out when the list is full.
    void Add(std::string_view path);
    // Removes entry index (0-based); an index beyond the list changes nothing.
    void Remove(std::size_t index);
    // Replaces the entries, for loading them from the settings: empty and repeated paths are
    // skipped, and only the first GetSize() entries are kept.
    void SetEntries(const std::vector<std::string>& entries);

    // The menu text of entry index: "&1 " and the file's name when it lies in currentDir,
    // otherwise its path, shortened to about maxLength characters by leaving out directories
    // after the first one ("/home/.../configs/plant.tgv"). "" beyond the list.
    std::string GetMenuText(std::size_t index, std::string_view currentDir,
                            std::size_t maxLength = 30) const;

  private:
    std::size_t size_;
    std::vector<std::string> entries_;
};
