#include "tgvtool/server_list.h"

#include <optional>

#include "com/registry.h"
#include "document/server_dlg.h"
#include "opc/opc_server.h"
#include "opcda/ids.h"

namespace {

// A registry key closed when it goes out of scope.
class RegKey {
  public:
    RegKey() = default;
    ~RegKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    PHKEY Put() { return &key_; }
    HKEY Get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

bool HasKey(HKEY parent, const std::string& subKey) {
    RegKey key;
    return RegOpenKeyExA(parent, subKey.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

// True when the key has at least one sub-key.
bool HasSubKeys(HKEY parent, const std::string& subKey) {
    RegKey key;
    if (RegOpenKeyExA(parent, subKey.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
        return false;
    }
    char name[256] = {};
    DWORD size = sizeof name;
    return RegEnumKeyExA(key.Get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

// The class keys under HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID of the node's hive that
// qualify, as the category manager selects them on this machine.
LSTATUS ListRemoteServers(const std::string& node, CServerDlg& list) {
    RegKey hive;
    if (const LSTATUS status = RegConnectRegistryA(node.c_str(), HKEY_LOCAL_MACHINE, hive.Put());
        status != ERROR_SUCCESS) {
        return status;
    }
    RegKey classes;
    if (RegOpenKeyExA(hive.Get(), "SOFTWARE\\Classes\\CLSID", 0, KEY_READ, classes.Put()) !=
        ERROR_SUCCESS) {
        return ERROR_SUCCESS;  // a node without any class registered
    }
    const std::string implemented =
        "\\Implemented Categories\\" + GuidToString(CATID_OPCDAServer20);
    for (DWORD index = 0; index < kMaxRemoteClassKeys; ++index) {
        char name[256] = {};
        DWORD size = sizeof name;
        const LSTATUS status =
            RegEnumKeyExA(classes.Get(), index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) {
            continue;  // not a class id: those are 38 characters long
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        const std::string classKey(name, size);
        if (!HasKey(classes.Get(), classKey + implemented) ||
            HasSubKeys(classes.Get(), classKey + "\\Required Categories")) {
            continue;
        }
        std::optional<std::string> progId = RegReadString(classes.Get(), classKey + "\\ProgID", "");
        if (progId && !progId->empty()) {
            list.AddListEntry(std::move(*progId));
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS ListOpcServers(const std::string& node, std::vector<std::string>& progIds) {
    COPCServer unused;
    CServerDlg list(unused);
    LSTATUS status = ERROR_SUCCESS;
    if (node.empty()) {
        list.OnInitDialog();
    } else {
        status = ListRemoteServers(node, list);
    }
    progIds = list.ListEntries();
    return status;
}
