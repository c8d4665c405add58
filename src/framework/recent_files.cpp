#include "framework/recent_files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

namespace fs = std::filesystem;

std::string AbsolutePath(std::string_view path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return error ? std::string(path) : absolute.lexically_normal().string();
}

// A directory path without a trailing separator, so that "/a/b/" and "/a/b" compare equal.
std::string DirectoryKey(std::string_view dir) {
    std::string key = fs::path(dir).lexically_normal().string();
    while (key.size() > 1 && key.back() == '/') {
        key.pop_back();
    }
    return key;
}

// The number of the entry as the menu shows it, with its access key.
std::string MenuNumber(std::size_t index) {
    if (index < 9) {
        return "&" + std::to_string(index + 1) + " ";
    }
    if (index == 9) {
        return "1&0 ";
    }
    return std::to_string(index + 1) + " ";
}

// A path shortened to about maxLength characters: the root and first directory, "...", and as
// many of the last directories as fit before the file name. The file name alone when not even
// that fits.
std::string Abbreviate(const std::string& path, std::size_t maxLength) {
    if (path.size() <= maxLength) {
        return path;
    }
    const fs::path p(path);
    std::vector<std::string> parts;
    for (const fs::path& part : p.relative_path()) {
        parts.push_back(part.string());
    }
    const std::string name = p.filename().string();
    if (parts.size() < 3) {
        return name;
    }
    const std::string head = p.root_path().string() + parts.front() + "/...";
    std::string tail = "/" + name;
    if (head.size() + tail.size() > maxLength) {
        return name;
    }
    for (std::size_t i = parts.size() - 1; i-- > 1;) {
        const std::string longer = "/" + parts[i] + tail;
        if (head.size() + longer.size() > maxLength) {
            break;
        }
        tail = longer;
    }
    return head + tail;
}

// Menus take "&" as the mark of an access key: a file name's own "&" is doubled.
std::string EscapeAccessKeys(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        escaped += c;
        if (c == '&') {
            escaped += '&';
        }
    }
    return escaped;
}

}  // namespace

CRecentFileList::CRecentFileList(std::size_t size) : size_(size) {}

void CRecentFileList::Add(std::string_view path) {
    if (path.empty() || size_ == 0) {
        return;
    }
    std::string full = AbsolutePath(path);
    std::erase(entries_, full);
    entries_.insert(entries_.begin(), std::move(full));
    if (entries_.size() > size_) {
        entries_.resize(size_);
    }
}

void CRecentFileList::Remove(std::size_t index) {
    if (index < entries_.size()) {
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

void CRecentFileList::SetEntries(const std::vector<std::string>& entries) {
    entries_.clear();
    for (const std::string& entry : entries) {
        if (entries_.size() == size_) {
            break;
        }
        if (!entry.empty() &&
            std::find(entries_.begin(), entries_.end(), entry) == entries_.end()) {
            entries_.push_back(entry);
        }
    }
}

std::string CRecentFileList::GetMenuText(std::size_t index, std::string_view currentDir,
                                         std::size_t maxLength) const {
    if (index >= entries_.size()) {
        return {};
    }
    const std::string& entry = entries_[index];
    const fs::path path(entry);
    std::string shown;
    if (!currentDir.empty() &&
        DirectoryKey(path.parent_path().string()) == DirectoryKey(currentDir)) {
        shown = path.filename().string();
    } else {
        shown = Abbreviate(entry, maxLength);
    }
    return MenuNumber(index) + EscapeAccessKeys(shown);
}
