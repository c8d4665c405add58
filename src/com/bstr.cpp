#include "com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "com/unicode.h"

namespace {

// The byte length stands in the four bytes before the first character.
constexpr std::size_t kPrefixBytes = sizeof(DWORD);

char* BlockOf(BSTR text) {
    return reinterpret_cast<char*>(text) - kPrefixBytes;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) {
        return nullptr;
    }
    const std::size_t length = std::char_traits<OLECHAR>::length(text);
    if (length > std::numeric_limits<UINT>::max()) {
        return nullptr;
    }
    return SysAllocStringLen(text, static_cast<UINT>(length));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    // The byte length must fit the 32-bit prefix, with room for the terminator.
    constexpr UINT kMaxLength = (std::numeric_limits<DWORD>::max() - kPrefixBytes) / 2 - 1;
    if (length > kMaxLength) {
        return nullptr;
    }
    const DWORD bytes = length * static_cast<DWORD>(sizeof(OLECHAR));
    auto* block = static_cast<char*>(std::malloc(kPrefixBytes + bytes + sizeof(OLECHAR)));
    if (block == nullptr) {
        return nullptr;
    }
    std::memcpy(block, &bytes, kPrefixBytes);
    auto* chars = reinterpret_cast<OLECHAR*>(block + kPrefixBytes);
    if (text != nullptr) {
        std::memcpy(chars, text, bytes);
    } else {
        std::memset(chars, 0, bytes);
    }
    chars[length] = u'\0';
    return chars;
}

void SysFreeString(BSTR text) {
    if (text != nullptr) {
        std::free(BlockOf(text));
    }
}

UINT SysStringByteLen(BSTR text) {
    if (text == nullptr) {
        return 0;
    }
    DWORD bytes = 0;
    std::memcpy(&bytes, BlockOf(text), kPrefixBytes);
    return bytes;
}

UINT SysStringLen(BSTR text) {
    return SysStringByteLen(text) / sizeof(OLECHAR);
}

BSTR SysAllocStringUtf8(std::string_view text) {
    const std::u16string wide = Utf8ToUtf16(text);
    if (wide.size() > std::numeric_limits<UINT>::max()) {
        return nullptr;
    }
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string BstrToUtf8(BSTR text) {
    return Utf16ToUtf8(BstrView(text));
}

std::u16string_view BstrView(BSTR text) {
    if (text == nullptr) {
        return {};
    }
    return {text, SysStringLen(text)};
}
