#include "sim/simulator.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "com/activation.h"
#include "opcda/ids.h"
#include "sim/delivery.h"
#include "sim/error_text.h"
#include "sim/group.h"
#include "sim/server.h"
#include "sim/sim_state.h"

namespace {

ComPtr<SimServer> CreateSimServer(const std::shared_ptr<SimState>& state) {
    const std::lock_guard lock(state->mutex);
    const DWORD id = state->nextServerId++;
    ServerData& data = state->servers[id];
    data.id = id;
    data.startedAt = state->now;
    data.locale = kEnglishUs;
    try {
        ComPtr<SimServer> server = MakeComObject<SimServer>(state, id);
        data.object = server.Get();
        return server;
    } catch (const std::bad_alloc&) {
        state->servers.erase(id);
        return {};
    }
}

class SimClassFactory final : public ComObject<IClassFactory> {
  public:
    explicit SimClassFactory(std::shared_ptr<SimState> state) : state_(std::move(state)) {}

    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        *ppvObject = nullptr;
        if (pUnkOuter != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        {
            CallGate gate(*state_, "IClassFactory", "CreateInstance");
            if (const auto fault = gate.Fault()) {
                return *fault;
            }
            if (!ServerAnswers(riid, state_->faults)) {
                return E_NOINTERFACE;
            }
        }
        const ComPtr<SimServer> server = CreateSimServer(state_);
        if (!server) {
            return E_OUTOFMEMORY;
        }
        return server->QueryInterface(riid, ppvObject);
    }

    HRESULT LockServer(BOOL /*fLock*/) override { return S_OK; }

  private:
    const std::shared_ptr<SimState> state_;
};

// Lock held: the group with the oldest unanswered request made before limit.
SimGroup* OldestRequestBefore(SimState& state, std::uint64_t limit) {
    SimGroup* oldest = nullptr;
    std::uint64_t oldestNumber = limit;
    for (auto& [id, server] : state.servers) {
        for (const ComPtr<SimGroup>& group : server.groups) {
            const std::uint64_t number = group->OldestRequest();
            if (number != 0 && number < oldestNumber) {
                oldest = group.Get();
                oldestNumber = number;
            }
        }
    }
    return oldest;
}

// Lock held: moves the schedules of the groups that send nothing past now.
void SkipIdleGroups(SimState& state) {
    for (auto& [id, server] : state.servers) {
        for (const ComPtr<SimGroup>& group : server.groups) {
            if (!group->WantsUpdates() || group->NextDue() < state.now) {
                group->SkipPast(state.now);
            }
        }
    }
}

std::mutex registrationMutex;
DWORD registrationCookie = 0;

}  // namespace

Simulator::Simulator(SimOptions options) : state_(std::make_shared<SimState>(options)) {}

Simulator::~Simulator() = default;

ComPtr<IUnknown> Simulator::CreateServer() {
    const ComPtr<SimServer> server = CreateSimServer(state_);
    if (!server) {
        return {};
    }
    return ComPtr<IUnknown>(server->GetUnknown());
}

ComPtr<IClassFactory> Simulator::ClassFactory() {
    return ComPtr<IClassFactory>(MakeComObject<SimClassFactory>(state_).Get());
}

std::uint64_t Simulator::Now() const {
    const std::lock_guard lock(state_->mutex);
    return state_->now;
}

void Simulator::AdvanceTime(std::chrono::milliseconds delta) {
    SimState& state = *state_;
    std::uint64_t target = 0;
    {
        const std::lock_guard lock(state.mutex);
        target = state.now + static_cast<std::uint64_t>(std::max<std::int64_t>(delta.count(), 0));
    }
    std::vector<Delivery> deliveries;

    // Answers the requests made so far; those its callbacks make wait for the next round.
    auto answerRequests = [&] {
        {
            const std::lock_guard lock(state.mutex);
            if (state.Dead()) {
                return;
            }
            const std::uint64_t limit = state.nextRequest;
            while (SimGroup* group = OldestRequestBefore(state, limit)) {
                group->CompleteOldestRequest(state.now, deliveries);
            }
        }
        Deliver(deliveries);
        deliveries.clear();
    };
    // Runs the next update due by target; false when there is none.
    auto runUpdate = [&] {
        {
            const std::lock_guard lock(state.mutex);
            SimGroup* next = nullptr;
            if (!state.Dead()) {
                SkipIdleGroups(state);
                for (auto& [id, server] : state.servers) {
                    for (const ComPtr<SimGroup>& group : server.groups) {
                        if (group->WantsUpdates() && group->NextDue() <= target &&
                            (next == nullptr || group->NextDue() < next->NextDue())) {
                            next = group.Get();
                        }
                    }
                }
            }
            if (next == nullptr) {
                state.now = target;
                SkipIdleGroups(state);
                return false;
            }
            state.now = next->NextDue();
            next->RunUpdate(state.now, deliveries);
        }
        Deliver(deliveries);
        deliveries.clear();
        return true;
    };

    answerRequests();
    while (runUpdate()) {
        answerRequests();
    }
}

void Simulator::RequestShutdown(const std::u16string& reason) {
    std::vector<ComPtr<IOPCShutdown>> sinks;
    {
        const std::lock_guard lock(state_->mutex);
        if (state_->Dead()) {
            return;
        }
        for (auto& [id, server] : state_->servers) {
            if (server.object != nullptr) {
                for (ComPtr<IOPCShutdown>& sink : server.object->ShutdownSinks()) {
                    sinks.push_back(std::move(sink));
                }
            }
        }
    }
    for (const ComPtr<IOPCShutdown>& sink : sinks) {
        sink->ShutdownRequest(reason.c_str());
    }
}

SimFaults& Simulator::Faults() {
    return state_->faults;
}

AddressSpace& Simulator::Space() {
    return state_->space;
}

int Simulator::LiveServerCount() const {
    const std::lock_guard lock(state_->mutex);
    return static_cast<int>(state_->servers.size());
}

HRESULT RegisterSimulatorInProcess(Simulator& simulator) {
    const std::lock_guard lock(registrationMutex);
    if (registrationCookie != 0) {
        CoRevokeClassObject(registrationCookie);
        registrationCookie = 0;
    }
    const ComPtr<IClassFactory> factory = simulator.ClassFactory();
    const CATID categories[] = {CATID_OPCDAServer20};
    DWORD cookie = 0;
    const HRESULT hr = RegisterInProcessClass(CLSID_TagvistaSimulator, factory.Get(),
                                              kSimulatorProgId, categories, &cookie);
    if (SUCCEEDED(hr)) {
        registrationCookie = cookie;
    }
    return hr;
}

void RevokeSimulatorInProcess() {
    const std::lock_guard lock(registrationMutex);
    if (registrationCookie != 0) {
        CoRevokeClassObject(registrationCookie);
        registrationCookie = 0;
    }
}
