#include "com/guid.h"

#include <array>
#include <cstdio>
#include <cstring>

bool operator==(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

namespace {

constexpr std::size_t kBracedLength = 38;  // "{8-4-4-4-12}"

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads `digits` hex digits at text[pos]; false when any of them is not a hex digit.
bool ReadHex(std::string_view text, std::size_t pos, int digits, std::uint32_t& out) {
    std::uint32_t value = 0;
    for (int i = 0; i < digits; ++i) {
        const int v = HexValue(text[pos + static_cast<std::size_t>(i)]);
        if (v < 0) {
            return false;
        }
        value = (value << 4) | static_cast<std::uint32_t>(v);
    }
    out = value;
    return true;
}

}  // namespace

std::string GuidToString(REFGUID guid) {
    std::array<char, kBracedLength + 1> buf{};
    std::snprintf(buf.data(), buf.size(), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
                  static_cast<unsigned>(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return std::string(buf.data(), kBracedLength);
}

std::optional<GUID> GuidFromString(std::string_view text) {
    if (text.size() != kBracedLength || text.front() != '{' || text.back() != '}' ||
        text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') {
        return std::nullopt;
    }
    GUID g{};
    std::uint32_t v = 0;
    if (!ReadHex(text, 1, 8, v)) {
        return std::nullopt;
    }
    g.Data1 = v;
    if (!ReadHex(text, 10, 4, v)) {
        return std::nullopt;
    }
    g.Data2 = static_cast<std::uint16_t>(v);
    if (!ReadHex(text, 15, 4, v)) {
        return std::nullopt;
    }
    g.Data3 = static_cast<std::uint16_t>(v);
    // Data4: two bytes before the last dash, six after it.
    constexpr std::array<std::size_t, 8> kData4At{20, 22, 25, 27, 29, 31, 33, 35};
    for (std::size_t i = 0; i < kData4At.size(); ++i) {
        if (!ReadHex(text, kData4At[i], 2, v)) {
            return std::nullopt;
        }
        g.Data4[i] = static_cast<std::uint8_t>(v);
    }
    return g;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buf, int cchMax) {
    constexpr int kNeeded = static_cast<int>(kBracedLength) + 1;
    if (buf == nullptr || cchMax < kNeeded) {
        return 0;
    }
    const std::string text = GuidToString(guid);
    for (std::size_t i = 0; i < text.size(); ++i) {
        buf[i] = static_cast<OLECHAR>(text[i]);
    }
    buf[text.size()] = u'\0';
    return kNeeded;
}

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
    if (clsid == nullptr) {
        return E_INVALIDARG;
    }
    *clsid = GUID_NULL;
    if (text == nullptr) {
        return CO_E_CLASSSTRING;
    }
    // Only ASCII can be part of a GUID; anything longer than the braced form is refused before
    // it is read to the end.
    std::string narrow;
    for (std::size_t i = 0; text[i] != u'\0'; ++i) {
        if (i >= kBracedLength || text[i] > 0x7F) {
            return CO_E_CLASSSTRING;
        }
        narrow.push_back(static_cast<char>(text[i]));
    }
    const std::optional<GUID> g = GuidFromString(narrow);
    if (!g) {
        return CO_E_CLASSSTRING;
    }
    *clsid = *g;
    return S_OK;
}

std::size_t GuidHash::operator()(const GUID& g) const noexcept {
    // FNV-1a over the 16 bytes in field order.
    std::uint64_t h = 1469598103934665603ULL;
    auto mix = [&h](std::uint64_t byte) {
        h ^= byte;
        h *= 1099511628211ULL;
    };
    for (int s = 0; s < 32; s += 8) {
        mix((g.Data1 >> s) & 0xFF);
    }
    for (int s = 0; s < 16; s += 8) {
        mix((g.Data2 >> s) & 0xFF);
    }
    for (int s = 0; s < 16; s += 8) {
        mix((g.Data3 >> s) & 0xFF);
    }
    for (std::uint8_t b : g.Data4) {
        mix(b);
    }
    return static_cast<std::size_t>(h);
}
