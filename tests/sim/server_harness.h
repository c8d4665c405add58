#pragma once
// How the conformance suite reaches an OPC DA server. The tests speak to the server only through
// its interfaces; a harness creates server objects, lets server time pass and switches the
// server's faults on. One harness runs the simulator in this process with a hand-driven clock;
// another can start a server process and reach it through proxies, and the same tests run
// against both.

#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "com/unknown.h"
#include "sim/faults.h"

namespace conformance {

class ServerHarness {
  public:
    virtual ~ServerHarness() = default;

    // A new server object with one reference, as the class factory gives it (IUnknown).
    virtual ComPtr<IUnknown> CreateServer() = 0;

    // Lets the given server time pass: every group update and every asynchronous answer that
    // falls due happens, and every callback that results has reached its sink on this thread
    // when the call returns. Advance(0ms) lets pending asynchronous requests finish.
    virtual void Advance(std::chrono::milliseconds delta) = 0;

    // Replaces the faults the server shows.
    virtual void SetFaults(const SimFaults& faults) = 0;

    // True when Advance moves the server's clock by exactly the given time (a hand-driven
    // clock), so tests may count updates exactly; false for a server on real time.
    virtual bool ExactClock() const = 0;

    // The server objects still alive, when the harness can tell.
    virtual std::optional<int> LiveServerCount() const = 0;
};

// A kind of harness, as the tests are instantiated over it.
struct HarnessKind {
    std::string name;  // a test-name suffix: letters and digits only
    std::function<std::unique_ptr<ServerHarness>()> make;
};

// Names the harness in test output.
void PrintTo(const HarnessKind& kind, std::ostream* out);

// Every harness the suite runs against.
std::vector<HarnessKind> AllHarnesses();

// The simulator in this process, its clock driven by Advance.
std::unique_ptr<ServerHarness> MakeInProcessHarness();

}  // namespace conformance
