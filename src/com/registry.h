#pragma once
// The registry: keys and values read from registration files, with the Windows API over them.
//
// Where the files come from: the directories named by TAGVISTA_REGISTRY (colon-separated; when
// the variable is set, only those), otherwise /etc/tagvista/registry and then
// $XDG_DATA_HOME/tagvista/registry (~/.local/share/tagvista/registry by default). The *.reg
// files of each directory are read in name order; what a later file says overrides what an
// earlier one said. A file that does not parse is named once on standard output and left out as
// a whole. The files are looked at again whenever a key is opened from a root, so a server
// registered while the program runs is found.
//
// HKEY_CLASSES_ROOT is the merged view of HKEY_CURRENT_USER\SOFTWARE\Classes over
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes; a file section or an in-memory registration that names
// HKEY_CLASSES_ROOT lands in HKEY_LOCAL_MACHINE\SOFTWARE\Classes, where a remote client's
// look-up through the node's HKEY_LOCAL_MACHINE finds it too.
//
// The API is read-only over the files; registrations are written as whole files
// (RegistryWriteFile) or held in memory for the life of the process (RegSetKeyValueInMemory).
// Handles are checked, never dereferenced: a closed or made-up handle gives
// ERROR_INVALID_HANDLE. Every function may be called from any thread.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "com/reg_file.h"
#include "com/types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using LSTATUS = LONG;
using REGSAM = DWORD;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});

// Win32 error codes the registry functions return.
inline constexpr LSTATUS ERROR_SUCCESS = 0;
inline constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
inline constexpr LSTATUS ERROR_PATH_NOT_FOUND = 3;
inline constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
inline constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
inline constexpr LSTATUS ERROR_OUTOFMEMORY = 14;
inline constexpr LSTATUS ERROR_WRITE_FAULT = 29;
inline constexpr LSTATUS ERROR_BAD_NETPATH = 53;
inline constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
inline constexpr LSTATUS ERROR_BAD_PATHNAME = 161;
inline constexpr LSTATUS ERROR_MORE_DATA = 234;
inline constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
inline constexpr LSTATUS ERROR_KEY_DELETED = 1018;

// Access rights. Only reading is granted: a request for any right to change a key is refused
// with ERROR_ACCESS_DENIED.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_READ = 0x00020019;
inline constexpr REGSAM KEY_EXECUTE = KEY_READ;
inline constexpr REGSAM KEY_WRITE = 0x00020006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      PHKEY phkResult);
// lpValueName null or "" reads the default value. With lpData null only the type and size are
// answered; a buffer smaller than the data gives ERROR_MORE_DATA with the size needed in
// *lpcbData. Text data counts and carries its terminating zero.
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD* lpReserved, DWORD* lpType,
                         BYTE* lpData, DWORD* lpcbData);
// Sub-keys in case-insensitive name order. *lpcchName is the buffer size in characters with
// room for the terminator; on success it becomes the length without it.
LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName, DWORD* lpReserved,
                      LPSTR lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime);
LSTATUS RegCloseKey(HKEY hKey);
// A null or empty machine name opens the local hive. Any other name reaches the node's
// HKEY_LOCAL_MACHINE through the remote registry provider; without one, ERROR_BAD_NETPATH.
LSTATUS RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult);

// The registry of another node, as the remote registry provider reaches it. Key paths are
// relative to the node's HKEY_LOCAL_MACHINE, parts separated by '\', "" for the hive itself.
class IRemoteRegistryHive {
  public:
    virtual ~IRemoteRegistryHive() = default;
    // ERROR_SUCCESS when the key exists.
    virtual LSTATUS OpenKey(const std::string& keyPath) = 0;
    // valueName "" is the default value.
    virtual LSTATUS QueryValue(const std::string& keyPath, const std::string& valueName,
                               DWORD& type, std::vector<BYTE>& data) = 0;
    // The index-th sub-key's name; ERROR_NO_MORE_ITEMS past the last.
    virtual LSTATUS EnumKey(const std::string& keyPath, DWORD index, std::string& name) = 0;
};

class IRemoteRegistryProvider {
  public:
    virtual ~IRemoteRegistryProvider() = default;
    // Reaches the HKEY_LOCAL_MACHINE hive of node ("host" or "host:port"); a Win32 error code
    // (ERROR_BAD_NETPATH when the node cannot be reached) otherwise.
    virtual LSTATUS Connect(const std::string& node,
                            std::shared_ptr<IRemoteRegistryHive>& hive) = 0;
};

// A text value (REG_SZ or REG_EXPAND_SZ) without its terminator; nullopt when the key or value
// is missing or holds something else. valueName "" is the default value.
std::optional<std::string> RegReadString(HKEY hKey, std::string_view subKey,
                                         std::string_view valueName);

// Installs the process-wide remote registry provider (null removes it); returns the one before.
std::shared_ptr<IRemoteRegistryProvider> SetRemoteRegistryProvider(
    std::shared_ptr<IRemoteRegistryProvider> provider);

// In-memory registrations: keys and values above the files, for the life of the process (or
// until removed), seen by every look-up of this process. hRoot is one of the three predefined
// roots. Text types take their data with or without the terminating zero.
LSTATUS RegSetKeyValueInMemory(HKEY hRoot, LPCSTR lpSubKey, LPCSTR lpValueName, DWORD dwType,
                               const void* lpData, DWORD cbData);
LSTATUS RegSetStringInMemory(HKEY hRoot, std::string_view subKey, std::string_view valueName,
                             std::string_view text);
// Creates the key (and the keys above it) without values.
LSTATUS RegCreateKeyInMemory(HKEY hRoot, LPCSTR lpSubKey);
// Removes an in-memory key with everything below it; keys from files stay.
// ERROR_FILE_NOT_FOUND when memory holds no such key.
LSTATUS RegDeleteTreeInMemory(HKEY hRoot, LPCSTR lpSubKey);

// The directories searched, in reading order.
std::vector<std::filesystem::path> RegistryDirectories();
// Where this user's registrations are written: the last directory searched, which overrides
// the others.
std::filesystem::path RegistryUserDirectory();
// Writes a registration file whole (created with its directories, replaced atomically). The
// next look-up sees it. ERROR_INVALID_PARAMETER for keys the format cannot hold.
LSTATUS RegistryWriteFile(const std::filesystem::path& file, const std::vector<RegFileKey>& keys);
// Removes a registration file; ERROR_FILE_NOT_FOUND when there is none.
LSTATUS RegistryRemoveFile(const std::filesystem::path& file);
