#pragma once
// GUIDs: class, interface and category identifiers.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "com/hresult.h"
#include "com/types.h"

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend bool operator==(const GUID& a, const GUID& b);
};
using IID = GUID;
using CLSID = GUID;
using CATID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPCLSID = CLSID*;

inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    return a == b;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
    return a == b;
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return a == b;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, as the registry writes it.
std::string GuidToString(REFGUID guid);
// Accepts the braced form, case-insensitive; nothing else.
std::optional<GUID> GuidFromString(std::string_view text);
// The Windows forms: StringFromGUID2 writes the braced text with its terminator into buf
// (39 characters) and returns the characters written, 0 when the buffer is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR buf, int cchMax);
// CLSIDFromString takes the braced form only (a ProgID goes through CLSIDFromProgID);
// CO_E_CLASSSTRING when it does not parse.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);

struct GuidHash {
    std::size_t operator()(const GUID& g) const noexcept;
};
