#include "opc/opc_server.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "com/activation.h"
#include "com/class_factory.h"
#include "com/guid.h"
#include "com/registry.h"
#include "com/unicode.h"
#include "framework/ui_services.h"
#include "model/archive.h"
#include "model/text_compare.h"
#include "opc/com_environment.h"
#include "opcda/server.h"

namespace {

std::unique_ptr<CObject> CreateServerObject() {
    return std::make_unique<COPCServer>();
}

// Creates the server object of a class registered on this machine, as a local server.
ComPtr<IUnknown> CreateLocalServer(const std::string& progId) {
    const std::u16string wideProgId = Utf8ToUtf16(progId);
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(wideProgId.c_str(), &clsid))) {
        AfxMessageBox(Format("Failed connect to %s", progId.c_str()));
        return nullptr;
    }
    ComPtr<IClassFactory> factory;
    HRESULT hr =
        CoGetClassObject(clsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr) || !factory) {
        AfxMessageBox(Format("CoGetClassObject- no Local server for (%lx)\n", HrArg(hr)));
        return nullptr;
    }
    ComPtr<IUnknown> server;
    hr = factory->CreateInstance(nullptr, IID_IUnknown, server.PutVoid());
    factory.Reset();
    if (FAILED(hr) || !server) {
        AfxMessageBox(Format("Error from CreateInstance (%lx)\n", HrArg(hr)));
        return nullptr;
    }
    return server;
}

// The class id registered for the ProgID in the node's own registry.
bool ReadRemoteClassId(const std::string& progId, const std::string& node, CLSID& clsid) {
    HKEY hive = nullptr;
    if (RegConnectRegistryA(node.c_str(), HKEY_LOCAL_MACHINE, &hive) != ERROR_SUCCESS) {
        return false;
    }
    bool found = false;
    HKEY key = nullptr;
    const std::string keyPath = "SOFTWARE\\Classes\\" + progId + "\\Clsid";
    if (RegOpenKeyExA(hive, keyPath.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char buffer[100] = {};
        DWORD size = sizeof buffer;
        DWORD type = 0;
        if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                             &size) == ERROR_SUCCESS) {
            const std::string text(buffer,
                                   strnlen(buffer, std::min<std::size_t>(size, sizeof buffer)));
            const std::u16string wideText = Utf8ToUtf16(text);
            if (SUCCEEDED(CLSIDFromString(wideText.c_str(), &clsid))) {
                found = true;
            } else {
                Trace(std::string_view("Failed"));
            }
        }
        RegCloseKey(key);
    }
    RegCloseKey(hive);
    return found;
}

// Creates the server object on another node; failures are silent.
ComPtr<IUnknown> CreateRemoteServer(const std::string& progId, const std::string& node) {
    try {
        CLSID clsid{};
        if (!ReadRemoteClassId(progId, node, clsid)) {
            return nullptr;
        }
        std::u16string wideNode = Utf8ToUtf16(node);
        COSERVERINFO serverInfo{0, wideNode.data(), nullptr, 0};
        MULTI_QI result{&IID_IUnknown, nullptr, S_OK};
        const HRESULT hr =
            CoCreateInstanceEx(clsid, nullptr, CLSCTX_REMOTE_SERVER, &serverInfo, 1, &result);
        ComPtr<IUnknown> server = ComPtr<IUnknown>::Attach(result.pItf);
        if (FAILED(hr) || FAILED(result.hr) || !server) {
            return nullptr;
        }
        return server;
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace

const CRuntimeClass COPCServer::runtimeClass{"COPCServer", 1, &CreateServerObject};

COPCServer::COPCServer() = default;

COPCServer::COPCServer(IRuntimeHost* host) : host_(host) {}

COPCServer::~COPCServer() {
    while (!groups_.empty()) {
        std::unique_ptr<COPCGroup> group = std::move(groups_.front());
        groups_.erase(groups_.begin());
        group->Unsubscribe();
        RemoveServerGroup(*group);
    }
    serverObject_.Reset();
}

void COPCServer::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteDWord(1);
    } else {
        ar.ReadDWord();
    }
}

bool COPCServer::Connect() {
    if (remote != 0 && !nodeName.empty()) {
        serverObject_ = CreateRemoteServer(progId, nodeName);
    } else {
        serverObject_ = CreateLocalServer(progId);
    }
    connected = serverObject_ ? 1 : 0;
    return connected != 0;
}

bool COPCServer::CreateServerGroup(COPCGroup& group) {
    ComPtr<IOPCServer> server;
    if (!serverObject_ || FAILED(serverObject_.As(server)) || !server) {
        AfxMessageBox("Failed from query IID_IOPCServer interface ...");
        return false;
    }
    const std::u16string name = Utf8ToUtf16(group.name);
    FLOAT percentDeadband = group.percentDeadband;
    OPCHANDLE serverGroupHandle = 0;
    DWORD revisedRate = 0;
    ComPtr<IUnknown> groupObject;
    HRESULT hr =
        server->AddGroup(name.c_str(), group.active, 0, 0, nullptr, &percentDeadband, 0,
                         &serverGroupHandle, &revisedRate, IID_IUnknown, groupObject.Put());
    if (FAILED(hr) || !groupObject) {
        AfxMessageBox(
            Format("Error from AddGroup (%lx)\n", HrArg(FAILED(hr) ? hr : E_NOINTERFACE)));
        return false;
    }
    group.SetServerGroup(groupObject, serverGroupHandle);
    ComPtr<IOPCGroupStateMgt> stateMgt;
    hr = groupObject.As(stateMgt);
    if (FAILED(hr) || !stateMgt) {
        AfxMessageBox(
            Format("Error from AddGroup (%lx)\n", HrArg(FAILED(hr) ? hr : E_NOINTERFACE)));
        return false;
    }
    DWORD currentRate = 0;
    BOOL currentActive = FALSE;
    LPWSTR currentName = nullptr;
    LONG timeBias = 0;
    FLOAT currentDeadband = 0.0f;
    DWORD lcid = 0;
    OPCHANDLE clientGroup = 0;
    OPCHANDLE serverGroup = 0;
    stateMgt->GetState(&currentRate, &currentActive, &currentName, &timeBias, &currentDeadband,
                       &lcid, &clientGroup, &serverGroup);
    FreeTaskMemory(currentName);
    DWORD requestedRate = group.updateRate;
    BOOL active = group.active;
    stateMgt->SetState(&requestedRate, &revisedRate, &active, &timeBias, &percentDeadband, &lcid,
                       &clientGroup);
    return true;
}

COPCGroup* COPCServer::AddGroup(std::unique_ptr<COPCGroup> group) {
    if (!group || &group->Server() != this || !CreateServerGroup(*group)) {
        return nullptr;
    }
    groups_.push_back(std::move(group));
    COPCGroup* const listed = groups_.back().get();
    listed->Subscribe();
    return listed;
}

bool COPCServer::RemoveServerGroup(const COPCGroup& group) {
    ComPtr<IOPCServer> server;
    if (!serverObject_ || FAILED(serverObject_.As(server)) || !server) {
        return false;
    }
    const HRESULT hr = server->RemoveGroup(group.ServerGroupHandle(), FALSE);
    if (hr != S_OK) {
        AfxMessageBox(Format("Error from Remove Group %s,%lx", group.name.c_str(), HrArg(hr)));
        return false;
    }
    return true;
}

bool COPCServer::RemoveGroup(COPCGroup* group) {
    const auto listedAt = [this, group] {
        return std::find_if(groups_.begin(), groups_.end(),
                            [group](const auto& candidate) { return candidate.get() == group; });
    };
    if (group == nullptr || listedAt() == groups_.end()) {
        return false;
    }
    group->Unsubscribe();
    if (!RemoveServerGroup(*group)) {
        return false;
    }
    // Looked up again: the list may have changed while the call was out.
    const auto listed = listedAt();
    if (listed != groups_.end()) {
        groups_.erase(listed);
    }
    return true;
}

std::string COPCServer::GetPropertyText(std::string_view key) const {
    if (EqualsNoCase(key, "name")) {
        return displayName;
    }
    if (EqualsNoCase(key, "server")) {
        return progId;
    }
    if (EqualsNoCase(key, "node")) {
        return nodeName;
    }
    if (EqualsNoCase(key, "remote")) {
        return remote != 0 ? "Enable" : "Disable";
    }
    return {};
}
