#pragma once
// The simulation OPC DA server: one instance holds an address space, a clock, the fault
// switches and the server objects created from it. In process, tests drive the clock by hand;
// the opcsim program drives it with real timers.
//
// Time: simulated milliseconds since the start; every timestamp the server gives is that time
// added to the start time of sim/sim_time.h (2026-01-01 00:00:00 UTC unless the process runs
// its clock in real time). Groups run at multiples of 10 ms from
// 100 ms up (a request for another rate is revised up, with OPC_S_UNSUPPORTEDRATE); a group's
// first update falls one update period after it was created (or after its rate changed).
//
// Asynchronous requests (IOPCAsyncIO2, IOPCAsyncIO) are checked when they are made and answered
// by the next AdvanceTime (also AdvanceTime(0ms)), in the order they were made, before any group
// update; until then Cancel2 or Cancel can withdraw them.
//
// Thread safety: every object of one simulator shares one lock, and no client callback is made
// while it is held, so a callback may call back into the server.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "com/class_factory.h"
#include "com/guid.h"
#include "com/unknown.h"
#include "sim/faults.h"

inline constexpr CLSID CLSID_TagvistaSimulator{
    0x7C4C2A1E, 0x5B8F, 0x4D3A, {0x9E, 0x61, 0x2F, 0x0B, 0x8D, 0x4A, 0x6C, 0x11}};
inline constexpr const char* kSimulatorProgId = "Tagvista.Simulator.1";

class AddressSpace;
struct SimState;

struct SimOptions {
    // Seed of the random signal generators, so runs can be repeated.
    std::uint32_t seed = 1;
    // The fastest update rate groups may run at, in milliseconds (revised to a multiple of 10).
    // Load tests lower it; clients see it as the rate requests are revised to.
    DWORD fastestUpdateRate = 100;
};

class Simulator {
  public:
    explicit Simulator(SimOptions options = {});
    // Server objects still held by clients keep working; the clock no longer moves.
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // A new server object, as IClassFactory::CreateInstance gives it (one reference, IUnknown).
    ComPtr<IUnknown> CreateServer();
    // The class factory that creates server objects of this simulator.
    ComPtr<IClassFactory> ClassFactory();

    // Simulated time since start, in milliseconds.
    std::uint64_t Now() const;
    // Moves the clock forward and runs, in time order, every group update that falls due;
    // data callbacks are made synchronously on the calling thread. Pending asynchronous
    // requests are answered first, and those made by callbacks after the update that follows.
    void AdvanceTime(std::chrono::milliseconds delta);

    // Asks the clients of every server object to let go (IOPCShutdown::ShutdownRequest).
    void RequestShutdown(const std::u16string& reason);

    // The switches are read whenever a call comes in; set them between calls.
    SimFaults& Faults();
    // For tests and the program that loads an address space: not to be changed while clients
    // have items.
    AddressSpace& Space();

    // Number of server objects still alive (released ones are gone).
    int LiveServerCount() const;

  private:
    std::shared_ptr<SimState> state_;
};

// Registers the simulator's class factory in this process under CLSID_TagvistaSimulator and
// kSimulatorProgId, with the OPC DA 2.0 server category, so that CLSIDFromProgID and
// CoGetClassObject(CLSCTX_LOCAL_SERVER) reach it. No LocalServer32 command is written: only
// this process can activate it. A second registration replaces the first. Revoke before the
// simulator dies.
HRESULT RegisterSimulatorInProcess(Simulator& simulator);
void RevokeSimulatorInProcess();
