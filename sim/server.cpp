// The server object: groups, status, error texts, locale, and the shutdown connection point.

#include "sim/server.h"

#include <new>

#include "com/enum.h"
#include "opcda/errors.h"
#include "sim/error_text.h"
#include "sim/group.h"
#include "sim/server_groups.h"
#include "sim/sim_state.h"
#include "sim/sim_time.h"
#include "sim/task_memory.h"

namespace {

constexpr char16_t kVendorInfo[] = u"Velmora OPC Tagvista Simulator";

bool ValidDeadband(const FLOAT* deadband) {
    return deadband == nullptr || (*deadband >= 0.0f && *deadband <= 100.0f);
}

}  // namespace

bool ServerAnswers(REFIID riid, const SimFaults& faults) {
    if (riid == IID_IUnknown) {
        return true;
    }
    if (faults.missingInterfaces.count(riid) != 0) {
        return false;
    }
    return riid == IID_IOPCServer || riid == IID_IOPCBrowseServerAddressSpace ||
           riid == IID_IOPCCommon || riid == IID_IConnectionPointContainer;
}

SimServer::SimServer(std::shared_ptr<SimState> state, DWORD id)
    : state_(std::move(state)),
      id_(id),
      shutdownPoint_(static_cast<IConnectionPointContainer&>(*this), IID_IOPCShutdown, state_) {}

SimServer::~SimServer() {
    std::vector<ComPtr<SimGroup>> groups;
    {
        const std::lock_guard lock(state_->mutex);
        if (ServerData* server = state_->FindServer(id_)) {
            groups = std::move(server->groups);
            for (const ComPtr<SimGroup>& group : groups) {
                group->Detach();
            }
            state_->servers.erase(id_);
        }
    }
    // The groups go here, without the lock: their sinks belong to the client.
}

std::vector<ComPtr<IOPCShutdown>> SimServer::ShutdownSinks() const {
    return shutdownPoint_.Inner().SinksAs<IOPCShutdown>();
}

HRESULT SimServer::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    *ppvObject = nullptr;
    {
        const std::lock_guard lock(state_->mutex);
        if (!ServerAnswers(riid, state_->faults)) {
            return E_NOINTERFACE;
        }
    }
    return ComObject::QueryInterface(riid, ppvObject);
}

// ---- IOPCServer ----

HRESULT SimServer::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                            OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                            DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                            REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk != nullptr) {
        *ppUnk = nullptr;
    }
    if (ppUnk == nullptr || phServerGroup == nullptr || pRevisedUpdateRate == nullptr) {
        return E_INVALIDARG;
    }
    *phServerGroup = 0;
    *pRevisedUpdateRate = 0;
    ComPtr<SimGroup> group;
    HRESULT result = S_OK;
    {
        CallGate gate(*state_, "IOPCServer", "AddGroup");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
        if (!ValidDeadband(pPercentDeadband)) {
            return E_INVALIDARG;
        }
        ServerData* const server = state_->FindServer(id_);
        if (server == nullptr) {
            return E_FAIL;
        }
        GroupSettings settings;
        settings.name = szName != nullptr ? std::u16string(szName) : std::u16string();
        if (settings.name.empty()) {
            settings.name = UniqueGroupName(*server);
        } else if (GroupNameTaken(*server, settings.name)) {
            return OPC_E_DUPLICATENAME;
        }
        if (!GroupAnswers(riid, state_->faults)) {
            return E_NOINTERFACE;
        }
        settings.clientGroup = hClientGroup;
        settings.updateRate =
            ReviseUpdateRate(dwRequestedUpdateRate, state_->options.fastestUpdateRate);
        settings.active = bActive != FALSE;
        settings.timeBias = pTimeBias != nullptr ? *pTimeBias : 0;
        settings.deadband = pPercentDeadband != nullptr ? *pPercentDeadband : 0.0f;
        settings.lcid = dwLCID;
        const OPCHANDLE handle = server->nextGroupHandle++;
        if (settings.updateRate != dwRequestedUpdateRate) {
            result = OPC_S_UNSUPPORTEDRATE;
        }
        *phServerGroup = handle;
        *pRevisedUpdateRate = settings.updateRate;
        group = MakeComObject<SimGroup>(state_, id_, handle, std::move(settings));
        server->groups.push_back(group);
    }
    const HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    return FAILED(hr) ? hr : result;
}

HRESULT SimServer::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
    if (ppString == nullptr) {
        return E_INVALIDARG;
    }
    *ppString = nullptr;
    CallGate gate(*state_, "IOPCServer", "GetErrorString");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (!IsSupportedLocale(dwLocale)) {
        return E_INVALIDARG;
    }
    const std::u16string text = ErrorText(dwError);
    if (text.empty()) {
        return E_INVALIDARG;
    }
    *ppString = TaskString(text);
    return *ppString != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT SimServer::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk == nullptr) {
        return E_INVALIDARG;
    }
    *ppUnk = nullptr;
    ComPtr<SimGroup> group;
    {
        CallGate gate(*state_, "IOPCServer", "GetGroupByName");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
        if (szName == nullptr) {
            return E_INVALIDARG;
        }
        ServerData* const server = state_->FindServer(id_);
        if (server == nullptr) {
            return E_FAIL;
        }
        for (const ComPtr<SimGroup>& g : server->groups) {
            if (g->Name() == szName) {
                group = g;
                break;
            }
        }
        if (!group) {
            return E_INVALIDARG;
        }
        if (!GroupAnswers(riid, state_->faults)) {
            return E_NOINTERFACE;
        }
    }
    return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT SimServer::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
    if (ppServerStatus == nullptr) {
        return E_INVALIDARG;
    }
    *ppServerStatus = nullptr;
    CallGate gate(*state_, "IOPCServer", "GetStatus");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    ServerData* const server = state_->FindServer(id_);
    if (server == nullptr) {
        return E_FAIL;
    }
    TaskArray<OPCSERVERSTATUS> status(1);
    if (!status) {
        return E_OUTOFMEMORY;
    }
    OPCSERVERSTATUS& s = status[0];
    s.ftStartTime = SimFileTime(server->startedAt);
    s.ftCurrentTime = SimFileTime(state_->now);
    if (server->lastUpdateAt != 0) {
        s.ftLastUpdateTime = SimFileTime(server->lastUpdateAt);
    }
    s.dwServerState = OPC_STATUS_RUNNING;
    s.dwGroupCount = static_cast<DWORD>(server->groups.size());
    s.dwBandWidth = 0xFFFFFFFF;  // not known
    s.wMajorVersion = 1;
    s.wMinorVersion = 0;
    s.wBuildNumber = 1;
    s.szVendorInfo = TaskString(kVendorInfo);
    if (s.szVendorInfo == nullptr) {
        return E_OUTOFMEMORY;
    }
    *ppServerStatus = status.Release();
    return S_OK;
}

HRESULT SimServer::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
    ComPtr<SimGroup> removed;
    HRESULT result = S_OK;
    {
        CallGate gate(*state_, "IOPCServer", "RemoveGroup");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
        ServerData* const server = state_->FindServer(id_);
        if (server == nullptr) {
            return E_FAIL;
        }
        auto& groups = server->groups;
        auto it = groups.begin();
        while (it != groups.end() && (*it)->ServerHandle() != hServerGroup) {
            ++it;
        }
        if (it == groups.end()) {
            return E_INVALIDARG;
        }
        removed = std::move(*it);
        groups.erase(it);
        removed->Detach();
        // Our local reference stands in for the server's own one here.
        if (removed->ClientReferences() > 0 && bForce == FALSE) {
            result = OPC_S_INUSE;
        }
    }
    if (bForce != FALSE) {
        removed->DisconnectAll();
    }
    return result;
}

HRESULT SimServer::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk == nullptr) {
        return E_INVALIDARG;
    }
    *ppUnk = nullptr;
    std::vector<ComPtr<IUnknown>> objects;
    std::vector<std::u16string> names;
    {
        CallGate gate(*state_, "IOPCServer", "CreateGroupEnumerator");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
        if (dwScope < OPC_ENUM_PRIVATE_CONNECTIONS || dwScope > OPC_ENUM_ALL) {
            return E_INVALIDARG;
        }
        if (!(riid == IID_IEnumUnknown) && !(riid == IID_IEnumString)) {
            return E_NOINTERFACE;
        }
        ServerData* const server = state_->FindServer(id_);
        if (server == nullptr) {
            return E_FAIL;
        }
        // Every group is private: the public scopes list nothing.
        const bool privateScope =
            dwScope != OPC_ENUM_PUBLIC_CONNECTIONS && dwScope != OPC_ENUM_PUBLIC;
        if (privateScope) {
            for (const ComPtr<SimGroup>& g : server->groups) {
                objects.emplace_back(g->GetUnknown());
                names.push_back(g->Name());
            }
        }
    }
    const bool empty = names.empty();
    HRESULT hr = S_OK;
    if (riid == IID_IEnumString) {
        IEnumString* e = nullptr;
        hr = CreateEnumString(std::move(names), &e);
        *ppUnk = e;
    } else {
        IEnumUnknown* e = nullptr;
        hr = CreateEnumUnknown(std::move(objects), &e);
        *ppUnk = e;
    }
    if (FAILED(hr)) {
        return hr;
    }
    return empty ? S_FALSE : S_OK;
}

// ---- IOPCCommon ----

HRESULT SimServer::SetLocaleID(LCID dwLcid) {
    CallGate gate(*state_, "IOPCCommon", "SetLocaleID");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (!IsSupportedLocale(dwLcid)) {
        return E_INVALIDARG;
    }
    if (ServerData* server = state_->FindServer(id_)) {
        server->locale = dwLcid;
    }
    return S_OK;
}

HRESULT SimServer::GetLocaleID(LCID* pdwLcid) {
    if (pdwLcid == nullptr) {
        return E_INVALIDARG;
    }
    CallGate gate(*state_, "IOPCCommon", "GetLocaleID");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    const ServerData* const server = state_->FindServer(id_);
    *pdwLcid = server != nullptr ? server->locale : kEnglishUs;
    return S_OK;
}

HRESULT SimServer::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
    if (pdwCount == nullptr || pdwLcid == nullptr) {
        return E_INVALIDARG;
    }
    *pdwCount = 0;
    *pdwLcid = nullptr;
    CallGate gate(*state_, "IOPCCommon", "QueryAvailableLocaleIDs");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    TaskArray<LCID> locales(1);
    if (!locales) {
        return E_OUTOFMEMORY;
    }
    locales[0] = kEnglishUs;
    *pdwCount = 1;
    *pdwLcid = locales.Release();
    return S_OK;
}

HRESULT SimServer::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
    if (ppString == nullptr) {
        return E_INVALIDARG;
    }
    *ppString = nullptr;
    CallGate gate(*state_, "IOPCCommon", "GetErrorString");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    const std::u16string text = ErrorText(dwError);
    if (text.empty()) {
        return E_INVALIDARG;
    }
    *ppString = TaskString(text);
    return *ppString != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT SimServer::SetClientName(LPCWSTR szName) {
    CallGate gate(*state_, "IOPCCommon", "SetClientName");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (szName == nullptr) {
        return E_INVALIDARG;
    }
    if (ServerData* server = state_->FindServer(id_)) {
        server->clientName = szName;
    }
    return S_OK;
}

// ---- IConnectionPointContainer ----

HRESULT SimServer::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    if (ppEnum == nullptr) {
        return E_POINTER;
    }
    *ppEnum = nullptr;
    {
        CallGate gate(*state_, "IConnectionPointContainer", "EnumConnectionPoints");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
    }
    try {
        std::vector<ComPtr<IConnectionPoint>> points{ComPtr<IConnectionPoint>(&shutdownPoint_)};
        *ppEnum = MakeComObject<CEnumConnectionPoints>(std::move(points)).Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT SimServer::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    if (ppCP == nullptr) {
        return E_POINTER;
    }
    *ppCP = nullptr;
    {
        CallGate gate(*state_, "IConnectionPointContainer", "FindConnectionPoint");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
    }
    if (!(riid == IID_IOPCShutdown)) {
        return CONNECT_E_NOCONNECTION;
    }
    shutdownPoint_.AddRef();
    *ppCP = &shutdownPoint_;
    return S_OK;
}
