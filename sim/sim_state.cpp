#include "sim/sim_state.h"

#include <chrono>
#include <string>
#include <thread>

std::optional<HRESULT> SimState::FaultFor(std::string_view interfaceName,
                                          std::string_view method) const {
    if (faults.dead) {
        return RPC_E_DISCONNECTED;
    }
    if (faults.callResults.empty()) {
        return std::nullopt;
    }
    // "IOPCAsyncIO2::Write" names one interface's method; "Write" every method of that name.
    std::string qualified(interfaceName);
    qualified += "::";
    qualified += method;
    auto it = faults.callResults.find(qualified);
    if (it == faults.callResults.end()) {
        it = faults.callResults.find(std::string(method));
    }
    if (it == faults.callResults.end()) {
        return std::nullopt;
    }
    return it->second;
}

CallGate::CallGate(SimState& state, std::string_view interfaceName, std::string_view method)
    : lock_(state.mutex) {
    const std::uint32_t delay = state.faults.delayMs;
    if (delay != 0) {
        lock_.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        lock_.lock();
    }
    fault_ = state.FaultFor(interfaceName, method);
}
