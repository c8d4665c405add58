// The group's life in its server: construction, interfaces, schedule, and IOPCGroupStateMgt.

#include <cmath>

#include "com/bstr.h"
#include "opcda/errors.h"
#include "sim/group.h"
#include "sim/server_groups.h"
#include "sim/sim_state.h"
#include "sim/sim_time.h"
#include "sim/task_memory.h"

namespace {

bool ValidDeadband(FLOAT deadband) {
    return deadband >= 0.0f && deadband <= 100.0f;
}

}  // namespace

SimGroup::SimGroup(std::shared_ptr<SimState> state, DWORD serverId, OPCHANDLE serverHandle,
                   GroupSettings settings)
    : state_(std::move(state)),
      serverId_(serverId),
      serverHandle_(serverHandle),
      settings_(std::move(settings)),
      pool_(std::make_shared<BatchPool>()),
      dataPoint_(static_cast<IConnectionPointContainer&>(*this), IID_IOPCDataCallback, state_,
                 [this] {
                     // A new subscriber hears every active item at the next update.
                     const std::lock_guard lock(state_->mutex);
                     ResendAll();
                 }) {
    nextDue_ = state_->now + settings_.updateRate;
}

// A dead server still answers QueryInterface, as a proxy does from what it already knows; its
// methods are what fail.
HRESULT SimGroup::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    *ppvObject = nullptr;
    {
        const std::lock_guard lock(state_->mutex);
        if (!(riid == IID_IUnknown) && state_->faults.missingInterfaces.count(riid) != 0) {
            return E_NOINTERFACE;
        }
    }
    return ComObject::QueryInterface(riid, ppvObject);
}

void SimGroup::Detach() {
    serverId_ = 0;
    requests_.clear();
}

ComPtr<SimGroup> SimGroup::CloneAs(std::u16string name, OPCHANDLE serverHandle) const {
    GroupSettings settings = settings_;
    settings.name = std::move(name);
    settings.active = false;
    ComPtr<SimGroup> clone = MakeComObject<SimGroup>(state_, serverId_, serverHandle, settings);
    clone->items_ = items_;
    clone->items_.ForEach([](OPCHANDLE, GroupItem& item) { item.sent = false; });
    return clone;
}

void SimGroup::SkipPast(std::uint64_t now) {
    if (nextDue_ <= now) {
        const std::uint64_t rate = settings_.updateRate;
        nextDue_ += ((now - nextDue_) / rate + 1) * rate;
    }
}

void SimGroup::ResendAll() {
    items_.ForEach([](OPCHANDLE, GroupItem& item) { item.sent = false; });
}

HRESULT SimGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                           FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                           OPCHANDLE* phServerGroup) {
    if (ppName != nullptr) {
        *ppName = nullptr;
    }
    CallGate gate(*state_, "IOPCGroupStateMgt", "GetState");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (ppName != nullptr) {
        *ppName = TaskString(settings_.name);
        if (*ppName == nullptr) {
            return E_OUTOFMEMORY;
        }
    }
    if (pUpdateRate != nullptr) {
        *pUpdateRate = settings_.updateRate;
    }
    if (pActive != nullptr) {
        *pActive = settings_.active ? TRUE : FALSE;
    }
    if (pTimeBias != nullptr) {
        *pTimeBias = settings_.timeBias;
    }
    if (pPercentDeadband != nullptr) {
        *pPercentDeadband = settings_.deadband;
    }
    if (pLCID != nullptr) {
        *pLCID = settings_.lcid;
    }
    if (phClientGroup != nullptr) {
        *phClientGroup = settings_.clientGroup;
    }
    if (phServerGroup != nullptr) {
        *phServerGroup = serverHandle_;
    }
    return S_OK;
}

HRESULT SimGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                           LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                           OPCHANDLE* phClientGroup) {
    CallGate gate(*state_, "IOPCGroupStateMgt", "SetState");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (pPercentDeadband != nullptr && !ValidDeadband(*pPercentDeadband)) {
        return E_INVALIDARG;
    }
    HRESULT result = S_OK;
    if (pRequestedUpdateRate != nullptr) {
        const DWORD revised =
            ReviseUpdateRate(*pRequestedUpdateRate, state_->options.fastestUpdateRate);
        if (revised != settings_.updateRate) {
            settings_.updateRate = revised;
            nextDue_ = state_->now + revised;
        }
        if (revised != *pRequestedUpdateRate) {
            result = OPC_S_UNSUPPORTEDRATE;
        }
    }
    if (pRevisedUpdateRate != nullptr) {
        *pRevisedUpdateRate = settings_.updateRate;
    }
    if (pActive != nullptr) {
        const bool active = *pActive != FALSE;
        if (active && !settings_.active) {
            ResendAll();
        }
        settings_.active = active;
    }
    if (pTimeBias != nullptr) {
        settings_.timeBias = *pTimeBias;
    }
    if (pPercentDeadband != nullptr) {
        settings_.deadband = *pPercentDeadband;
    }
    if (pLCID != nullptr) {
        settings_.lcid = *pLCID;
    }
    if (phClientGroup != nullptr) {
        settings_.clientGroup = *phClientGroup;
    }
    return result;
}

HRESULT SimGroup::SetName(LPCWSTR szName) {
    CallGate gate(*state_, "IOPCGroupStateMgt", "SetName");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (szName == nullptr || szName[0] == 0) {
        return E_INVALIDARG;
    }
    ServerData* const server = state_->FindServer(serverId_);
    if (server == nullptr) {
        return E_FAIL;
    }
    const std::u16string name(szName);
    if (GroupNameTaken(*server, name, this)) {
        return OPC_E_DUPLICATENAME;
    }
    settings_.name = name;
    return S_OK;
}

HRESULT SimGroup::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk == nullptr) {
        return E_INVALIDARG;
    }
    *ppUnk = nullptr;
    ComPtr<SimGroup> clone;
    {
        CallGate gate(*state_, "IOPCGroupStateMgt", "CloneGroup");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
        if (serverId_ == 0) {
            return E_FAIL;
        }
        ServerData* const server = state_->FindServer(serverId_);
        if (server == nullptr) {
            return E_FAIL;
        }
        std::u16string name = szName != nullptr ? std::u16string(szName) : std::u16string();
        if (name.empty()) {
            name = UniqueGroupName(*server);
        } else if (GroupNameTaken(*server, name)) {
            return OPC_E_DUPLICATENAME;
        }
        if (!GroupAnswers(riid, state_->faults)) {
            return E_NOINTERFACE;
        }
        clone = CloneAs(std::move(name), server->nextGroupHandle++);
        server->groups.push_back(clone);
    }
    return clone->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

bool GroupAnswers(REFIID riid, const SimFaults& faults) {
    if (riid == IID_IUnknown) {
        return true;
    }
    if (faults.missingInterfaces.count(riid) != 0) {
        return false;
    }
    return riid == IID_IOPCGroupStateMgt || riid == IID_IOPCItemMgt || riid == IID_IOPCSyncIO ||
           riid == IID_IOPCAsyncIO2 || riid == IID_IOPCAsyncIO ||
           riid == IID_IConnectionPointContainer || riid == IID_IDataObject;
}
