#include "com/clipboard_format.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

std::string FoldCase(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return folded;
}

class FormatTable {
  public:
    UINT Register(std::string_view name) {
        const std::string key = FoldCase(name);
        const std::lock_guard lock(mutex_);
        if (const auto it = numbers_.find(key); it != numbers_.end()) {
            return it->second;
        }
        if (names_.size() > CF_LAST_REGISTERED - CF_FIRST_REGISTERED) {
            return 0;
        }
        const UINT number = CF_FIRST_REGISTERED + static_cast<UINT>(names_.size());
        names_.emplace_back(name);
        numbers_.emplace(key, number);
        return number;
    }

    bool NameOf(UINT format, std::string& out) const {
        const std::lock_guard lock(mutex_);
        if (format < CF_FIRST_REGISTERED || format - CF_FIRST_REGISTERED >= names_.size()) {
            return false;
        }
        out = names_[format - CF_FIRST_REGISTERED];
        return true;
    }

  private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, UINT> numbers_;  // by upper-cased name
    std::vector<std::string> names_;                 // as first registered, by number - 0xC000
};

FormatTable& Table() {
    static FormatTable table;
    return table;
}

}  // namespace

UINT RegisterClipboardFormatA(LPCSTR lpszFormat) {
    if (lpszFormat == nullptr) {
        return 0;
    }
    // Bounded read: a name longer than the limit is refused without scanning it to the end.
    const std::size_t length = strnlen(lpszFormat, CF_MAX_NAME_LENGTH + 1);
    if (length == 0 || length > CF_MAX_NAME_LENGTH) {
        return 0;
    }
    try {
        return Table().Register(std::string_view(lpszFormat, length));
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

int GetClipboardFormatNameA(UINT format, LPSTR lpszFormatName, int cchMaxCount) {
    if (lpszFormatName == nullptr || cchMaxCount <= 0) {
        return 0;
    }
    std::string name;
    if (!Table().NameOf(format, name)) {
        lpszFormatName[0] = '\0';
        return 0;
    }
    const std::size_t copied = std::min(name.size(), static_cast<std::size_t>(cchMaxCount) - 1);
    std::memcpy(lpszFormatName, name.data(), copied);
    lpszFormatName[copied] = '\0';
    return static_cast<int>(copied);
}
