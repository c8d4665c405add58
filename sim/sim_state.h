#pragma once
// The state every object of one simulator shares: the clock, the address space, the fault
// switches and the live servers. One mutex guards all of it, and the server and group objects'
// own fields too. Client code (callbacks, a sink's QueryInterface or Release) is never called
// while the mutex is held: work that ends in a call to the client is collected under the lock
// and carried out after it is released.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "com/unknown.h"
#include "opcda/types.h"
#include "sim/address_space.h"
#include "sim/faults.h"
#include "sim/group.h"
#include "sim/simulator.h"

class SimServer;

struct ServerData {
    DWORD id = 0;
    // The server object; it takes its data out of the simulator before it goes.
    SimServer* object = nullptr;
    NodeIndex browsePosition = AddressSpace::kTop;
    LCID locale = 0;
    std::u16string clientName;
    std::uint64_t startedAt = 0;
    std::uint64_t lastUpdateAt = 0;
    OPCHANDLE nextGroupHandle = 1;
    unsigned generatedNames = 0;
    // The server's own reference on each of its groups, in the order they were added.
    std::vector<ComPtr<SimGroup>> groups;
};

struct SimState {
    explicit SimState(SimOptions opts) : options(opts), space(AddressSpace::BuiltIn()) {}

    std::mutex mutex;
    const SimOptions options;
    std::uint64_t now = 0;
    SimFaults faults;
    AddressSpace space;

    std::map<DWORD, ServerData> servers;
    DWORD nextServerId = 1;
    // Asynchronous requests are numbered in the order they are made.
    std::uint64_t nextRequest = 1;
    DWORD nextCancelId = 1;

    ServerData* FindServer(DWORD id) {
        const auto it = servers.find(id);
        return it == servers.end() ? nullptr : &it->second;
    }
    // The result a call gives instead of its work when the faults say so (lock held).
    std::optional<HRESULT> FaultFor(std::string_view interfaceName, std::string_view method) const;
    bool Dead() const { return faults.dead; }
};

// Opens a call into a server-side object: waits the configured delay (without the lock), then
// takes the lock for the rest of the call. Fault() tells whether the call is to give a fixed
// result instead of doing its work.
class CallGate {
  public:
    CallGate(SimState& state, std::string_view interfaceName, std::string_view method);
    CallGate(const CallGate&) = delete;
    CallGate& operator=(const CallGate&) = delete;

    std::optional<HRESULT> Fault() const { return fault_; }
    std::unique_lock<std::mutex>& Lock() { return lock_; }
    void Unlock() {
        if (lock_.owns_lock()) {
            lock_.unlock();
        }
    }

  private:
    std::unique_lock<std::mutex> lock_;
    std::optional<HRESULT> fault_;
};
