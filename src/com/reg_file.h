#pragma once
// Registration files: the REGEDIT4 text in which the registry is kept on disk.
//
//   REGEDIT4
//   ; a comment
//   [HKEY_CLASSES_ROOT\Vendor.Server.1\Clsid]
//   @="{...}"
//   "Flags"=dword:0000002a
//   "Blob"=hex:01,02,03    (a line ending in a backslash continues on the next)
//   "Old"=-
//   [-HKEY_CURRENT_USER\SOFTWARE\Stale]
//
// The text is UTF-8. A file that starts with the UTF-16 byte order mark (as the version 5.00
// editor writes) is read as UTF-16 too.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "com/types.h"

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

// The hives a registration file may name. HKEY_CLASSES_ROOT stands for
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes when a file is loaded.
enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine };

// "HKEY_LOCAL_MACHINE" and so on; nullopt for any other name (case-insensitive).
std::optional<RegRoot> RegRootFromName(std::string_view name);
std::string_view RegRootName(RegRoot root);

struct RegFileValue {
    std::string name;  // "" is the key's default value, written "@"
    DWORD type = REG_NONE;
    // REG_SZ and REG_EXPAND_SZ: UTF-8 text with its terminating zero; REG_DWORD: 4 bytes,
    // little-endian.
    std::vector<BYTE> data;
    bool remove = false;  // "name"=- deletes the value

    static RegFileValue String(std::string name, std::string_view text);
    static RegFileValue Dword(std::string name, DWORD value);
    static RegFileValue Binary(std::string name, std::vector<BYTE> bytes);
    static RegFileValue Removal(std::string name);
};

struct RegFileKey {
    RegRoot root = RegRoot::LocalMachine;
    std::string subKey;   // below the root, parts separated by '\'; "" is the root itself
    bool remove = false;  // [-...] deletes the key with everything below it
    std::vector<RegFileValue> values;
};

struct RegFileParseResult {
    std::vector<RegFileKey> keys;
    int errorLine = 0;  // 1-based line of the first fault; 0 when the whole text parsed
    std::string error;

    bool ok() const { return errorLine == 0; }
};

// Parses a whole file. On the first fault, parsing stops and the result names the line; a
// caller that honours the file all-or-nothing ignores the keys then.
RegFileParseResult ParseRegFile(std::string_view bytes);

// The REGEDIT4 text for keys, in their order. nullopt when something cannot be written in the
// format: an empty part in a key path, a deletion of a root, a line break in a name.
std::optional<std::string> FormatRegFile(const std::vector<RegFileKey>& keys);

// Splits "A\B\C" into its parts; nullopt when a part is empty. "" gives no parts.
std::optional<std::vector<std::string>> SplitRegPath(std::string_view path);
