// The conformance suite's harness over a real opcsim process: the test starts the program on
// two socket pairs, one carrying the class factory to the proxies, the other a control channel
// on which the test moves the server's hand-driven clock, switches its faults and counts its
// live server objects. Callbacks the server makes are queued in the user-interface apartment
// and run when the harness drains it, as the application's event loop would.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "com/apartment.h"
#include "com/class_factory.h"
#include "conformance_process/opcsim_process.h"
#include "rpc/local_server_provider.h"
#include "rpc/transport.h"
#include "sim/server_harness.h"
#include "sim/server_options.h"

namespace conformance {
namespace {

class ProcessHarness final : public ServerHarness {
  public:
    ProcessHarness() {
        int serve[2] = {-1, -1};
        int control[2] = {-1, -1};
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, serve) != 0) {
            return;
        }
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control) != 0) {
            opcsim_process::CloseAll({serve[0], serve[1]});
            return;
        }
        const bool started = Start(serve[1], control[1]);
        opcsim_process::CloseAll({serve[1], control[1]});
        if (!started) {
            opcsim_process::CloseAll({serve[0], control[0]});
            return;
        }
        control_ = std::make_unique<opcsim_process::ControlClient>(control[0]);
        IClassFactory* factory = nullptr;
        if (SUCCEEDED(ConnectClassFactory(serve[0], &factory, &link_))) {
            factory_ = ComPtr<IClassFactory>::Attach(factory);
        }
    }

    ~ProcessHarness() override {
        factory_.Reset();
        Settle();
        // Proxies still held elsewhere would keep the connection up; the process ends with it.
        if (link_) {
            link_->Close();
        }
        link_.reset();
        control_.reset();
        Apartment::Ui().Drain();
        Reap();
    }

    ComPtr<IUnknown> CreateServer() override {
        ComPtr<IUnknown> server;
        if (factory_) {
            factory_->CreateInstance(nullptr, IID_IUnknown, server.PutVoid());
        }
        return server;
    }

    // The clock moves in the steps at which groups can run; every callback of a step has been
    // answered, and so queued here, when the server answers the step, and it runs before the
    // next step as it would between updates in real time. Requests the callbacks make are
    // answered at the same simulated time.
    void Advance(std::chrono::milliseconds delta) override {
        constexpr std::chrono::milliseconds kStep(10);
        std::chrono::milliseconds left = delta;
        do {
            const std::chrono::milliseconds step = std::min(left, kStep);
            Expect(Ask("advance " + std::to_string(step.count())), "advance");
            left -= step;
            for (int round = 0; round < 100 && Apartment::Ui().Drain() > 0; ++round) {
                Expect(Ask("advance 0"), "advance");
            }
        } while (left.count() > 0);
    }

    void SetFaults(const SimFaults& faults) override {
        const std::optional<std::vector<std::string>> arguments = FaultArguments(faults);
        if (!arguments) {
            ADD_FAILURE() << "these faults cannot be sent to the server process";
            return;
        }
        std::string line = "faults";
        for (const std::string& argument : *arguments) {
            const std::optional<std::string> quoted = QuoteCommandArgument(argument);
            if (!quoted) {
                ADD_FAILURE() << "a fault argument no command line can carry: " << argument;
                return;
            }
            line += ' ';
            line += *quoted;
        }
        Expect(Ask(line), "faults");
    }

    bool ExactClock() const override { return true; }

    std::optional<int> LiveServerCount() const override {
        Settle();
        const std::string answer = Ask("live");
        int count = -1;
        if (!Expect(answer, "live") || answer.size() < 4 ||
            std::from_chars(answer.data() + 3, answer.data() + answer.size(), count).ec !=
                std::errc()) {
            ADD_FAILURE() << "live: " << answer;
            return std::nullopt;
        }
        return count;
    }

  private:
    bool Start(int serveEnd, int controlEnd) {
        pid_ = opcsim_process::Spawn(serveEnd, controlEnd, {"--manual-clock"});
        return pid_ > 0;
    }

    // Waits for the process to end once its connections are closed; one that does not is
    // killed, and the test fails.
    void Reap() {
        if (pid_ <= 0) {
            return;
        }
        const std::optional<int> status =
            opcsim_process::WaitForExit(pid_, std::chrono::seconds(10));
        if (!status) {
            ADD_FAILURE() << "opcsim did not end with its connection";
        } else if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
            ADD_FAILURE() << "opcsim ended with status " << *status;
        }
    }

    std::string Ask(const std::string& line) const {
        return control_ ? control_->Ask(line) : "error no control channel";
    }

    // A failed answer fails the test; the suite goes on against what the server does.
    static bool Expect(const std::string& answer, const char* what) {
        if (answer != "ok" && !answer.starts_with("ok ")) {
            ADD_FAILURE() << what << ": " << answer;
            return false;
        }
        return true;
    }

    // Lets every release sent so far reach the server, and every queued callback (and the
    // release of a sink that follows it) run here.
    void Settle() const {
        for (int round = 0; round < 2; ++round) {
            if (link_ && link_->IsOpen()) {
                link_->Sync();
            }
            Apartment::Ui().Drain();
        }
    }

    pid_t pid_ = -1;
    std::unique_ptr<opcsim_process::ControlClient> control_;
    std::shared_ptr<RpcLink> link_;
    ComPtr<IClassFactory> factory_;
};

}  // namespace

void PrintTo(const HarnessKind& kind, std::ostream* out) {
    *out << kind.name;
}

std::vector<HarnessKind> AllHarnesses() {
    return {HarnessKind{"OpcsimProcess", [] { return std::make_unique<ProcessHarness>(); }}};
}

}  // namespace conformance
