// opcsim: the simulation OPC DA server as a local server process.
//
//   opcsim -RegServer     registers this program as the local server of the simulator's class
//                         (with the server options given beside it, which every server
//                         started from the registration then has)
//   opcsim -UnregServer   removes that registration
//   opcsim -Embedding     serves the simulator's class factory on descriptor 3 (a connected
//                         stream socket the starting client holds the other end of)
//
// The server options (address-space file, faults, load) are described in sim/server_options.h
// and listed by --help. A bad option or address-space file is reported on stderr before
// anything is served.
//
// A served process runs the simulator's clock in real time, its timestamps counted from the
// wall-clock moment it started, and ends when its client is gone: when the connection closes,
// or when every server object it created has been released and no lock on the class factory
// is held.
//
// For tests, --control-fd M gives a second connected socket on which a test steers the running
// server with lines of text (each answered by one line, "ok ..." or "error ..."):
//
//   advance MS      with --manual-clock: moves the clock by MS milliseconds (0 answers pending
//                   asynchronous requests); answered once every callback it caused returned
//   faults ARGS     replaces the faults with those the fault options ARGS give (quoted as a
//                   command line)
//   live            the number of server objects alive: "ok N"
//
// --manual-clock keeps the clock still between those steps, at the fixed start time of a
// hand-driven clock, so that a test can count updates exactly. With a control channel the
// process ends only when its connection closes.

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "com/class_factory.h"
#include "com/com_object.h"
#include "com/guid.h"
#include "com/reg_file.h"
#include "com/registry.h"
#include "rpc/local_server_provider.h"
#include "rpc/transport.h"
#include "sim/server_options.h"
#include "sim/sim_time.h"
#include "sim/simulator.h"

namespace {

constexpr int kEmbeddingFd = 3;
constexpr const char* kOpcDa20Category = "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}";
constexpr const char* kServerName = "Tagvista Simulation Server";

enum class Mode { Help, RegServer, UnregServer, Embedding };

struct Options {
    Mode mode = Mode::Help;
    int fd = kEmbeddingFd;
    std::optional<int> controlFd;
    bool manualClock = false;
    ServerOptions server;
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: opcsim -RegServer [OPTIONS] | -UnregServer | -Embedding [--fd N] "
                 "[OPTIONS] | --help\n"
                 "  -RegServer     register this program as the simulation OPC server; the "
                 "options\n"
                 "                 given with it go into the registered command line\n"
                 "  -UnregServer   remove that registration\n"
                 "  -Embedding     serve a client connected on descriptor %d (or --fd N)\n"
                 "options:\n%s"
                 "test options (with -Embedding):\n"
                 "  --control-fd M            a test steers the server with lines on the "
                 "connected socket M:\n"
                 "                            'advance MS', 'faults OPTIONS...', 'live'\n"
                 "  --manual-clock            the clock moves only by 'advance' on the control "
                 "socket, from\n"
                 "                            the fixed start 2026-01-01 00:00:00 UTC\n",
                 kEmbeddingFd, ServerOptionsHelp());
}

// "-RegServer" and "/RegServer", in any case, as local servers are commonly started.
bool IsSwitch(std::string_view arg, std::string_view name) {
    if (arg.size() != name.size() + 1 || (arg[0] != '-' && arg[0] != '/')) {
        return false;
    }
    return std::equal(name.begin(), name.end(), arg.begin() + 1, [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

std::optional<int> ParseFd(std::string_view text) {
    if (text.empty() || text.size() > 6) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// nullopt, after saying why, for a command line that makes no sense.
std::optional<Options> ParseArguments(int argc, char** argv) {
    Options options;
    bool modeGiven = false;
    bool fdGiven = false;
    const auto setMode = [&](Mode mode, std::string_view arg) {
        if (modeGiven && options.mode != mode) {
            std::fprintf(stderr, "opcsim: %.*s conflicts with an earlier option\n",
                         static_cast<int>(arg.size()), arg.data());
            return false;
        }
        options.mode = mode;
        modeGiven = true;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        bool ok = true;
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            ok = setMode(Mode::Help, arg);
        } else if (IsSwitch(arg, "RegServer")) {
            ok = setMode(Mode::RegServer, arg);
        } else if (IsSwitch(arg, "UnregServer")) {
            ok = setMode(Mode::UnregServer, arg);
        } else if (IsSwitch(arg, "Embedding")) {
            ok = setMode(Mode::Embedding, arg);
        } else if (ParseServerFlag(arg, &options.server)) {
        } else if (IsServerOption(arg) ||
                   (arg.starts_with("--") && arg.find('=') != std::string_view::npos &&
                    IsServerOption(arg.substr(0, arg.find('='))))) {
            // "--name value" or "--name=value".
            std::string_view name = arg;
            std::string_view value;
            if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                std::fprintf(stderr, "opcsim: %.*s needs a value\n", static_cast<int>(arg.size()),
                             arg.data());
                return std::nullopt;
            }
            std::string error;
            if (!ParseServerOption(name, value, &options.server, &error)) {
                std::fprintf(stderr, "opcsim: %s\n", error.c_str());
                return std::nullopt;
            }
        } else if (arg == "--fd" || arg == "--control-fd") {
            const std::optional<int> fd =
                i + 1 < argc ? ParseFd(argv[i + 1]) : std::optional<int>();
            if (!fd) {
                std::fprintf(stderr, "opcsim: %.*s needs a descriptor number\n",
                             static_cast<int>(arg.size()), arg.data());
                return std::nullopt;
            }
            if (arg == "--fd") {
                options.fd = *fd;
            } else {
                options.controlFd = *fd;
            }
            fdGiven = true;
            ++i;
        } else if (arg == "--manual-clock") {
            options.manualClock = true;
            fdGiven = true;
        } else {
            std::fprintf(stderr, "opcsim: unknown option '%.*s' (try --help)\n",
                         static_cast<int>(arg.size()), arg.data());
            return std::nullopt;
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    if (fdGiven && options.mode != Mode::Embedding) {
        std::fprintf(stderr, "opcsim: --fd, --control-fd and --manual-clock go with -Embedding\n");
        return std::nullopt;
    }
    if (options.manualClock && !options.controlFd) {
        std::fprintf(stderr, "opcsim: --manual-clock needs --control-fd to move the clock\n");
        return std::nullopt;
    }
    if (options.controlFd && *options.controlFd == options.fd) {
        std::fprintf(stderr, "opcsim: --control-fd must differ from the served descriptor\n");
        return std::nullopt;
    }
    if (!options.server.arguments.empty() && options.mode != Mode::Embedding &&
        options.mode != Mode::RegServer) {
        std::fprintf(stderr, "opcsim: server options go with -RegServer or -Embedding\n");
        return std::nullopt;
    }
    if (!modeGiven) {
        std::fprintf(stderr, "opcsim: no command given (try --help)\n");
        return std::nullopt;
    }
    return options;
}

std::filesystem::path RegistrationFile() {
    return RegistryUserDirectory() / (std::string(kSimulatorProgId) + ".reg");
}

// The command line a client starts this program by: its own path, quoted when it holds a
// blank so that the command line splits back into the one path.
std::optional<std::string> OwnCommandLine() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        std::fprintf(stderr, "opcsim: cannot find this program's path: %s\n", ec.message().c_str());
        return std::nullopt;
    }
    const std::string path = self.string();
    if (path.find('"') != std::string::npos) {
        std::fprintf(stderr, "opcsim: this program's path holds a quote; cannot register it\n");
        return std::nullopt;
    }
    if (path.find_first_of(" \t") != std::string::npos) {
        return "\"" + path + "\"";
    }
    return path;
}

int RegisterServer(const ServerOptions& server) {
    std::optional<std::string> command = OwnCommandLine();
    if (!command) {
        return 1;
    }
    // A registration that could never start a server is refused now, not at activation.
    if (server.addressSpaceFile) {
        Simulator check;
        std::string error;
        if (!ApplyServerOptions(server, check, &error)) {
            std::fprintf(stderr, "opcsim: %s\n", error.c_str());
            return 1;
        }
    }
    for (const std::string& argument : server.arguments) {
        const std::optional<std::string> quoted = QuoteCommandArgument(argument);
        if (!quoted) {
            std::fprintf(stderr, "opcsim: '%s' cannot be written into a command line\n",
                         argument.c_str());
            return 1;
        }
        *command += ' ';
        *command += *quoted;
    }
    const std::string clsid = GuidToString(CLSID_TagvistaSimulator);
    const std::string classKey = "CLSID\\" + clsid;
    const auto key = [](std::string subKey, std::vector<RegFileValue> values) {
        RegFileKey k;
        k.root = RegRoot::ClassesRoot;
        k.subKey = std::move(subKey);
        k.values = std::move(values);
        return k;
    };
    const std::vector<RegFileKey> keys = {
        key(kSimulatorProgId, {RegFileValue::String("", kServerName)}),
        key(std::string(kSimulatorProgId) + "\\Clsid", {RegFileValue::String("", clsid)}),
        key(classKey, {RegFileValue::String("", kServerName)}),
        key(classKey + "\\ProgID", {RegFileValue::String("", kSimulatorProgId)}),
        key(classKey + "\\LocalServer32", {RegFileValue::String("", *command)}),
        key(classKey + "\\Implemented Categories", {}),
        key(classKey + "\\Implemented Categories\\" + kOpcDa20Category, {}),
    };
    const std::filesystem::path file = RegistrationFile();
    const LSTATUS status = RegistryWriteFile(file, keys);
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "opcsim: cannot write %s (error %ld)\n", file.c_str(),
                     static_cast<long>(status));
        return 1;
    }
    std::printf("registered %s in %s\n", kSimulatorProgId, file.c_str());
    return 0;
}

int UnregisterServer() {
    const std::filesystem::path file = RegistrationFile();
    const LSTATUS status = RegistryRemoveFile(file);
    if (status == ERROR_FILE_NOT_FOUND) {
        std::printf("%s was not registered\n", kSimulatorProgId);
        return 0;
    }
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "opcsim: cannot remove %s (error %ld)\n", file.c_str(),
                     static_cast<long>(status));
        return 1;
    }
    std::printf("unregistered %s\n", kSimulatorProgId);
    return 0;
}

// The simulator's class factory, counting the locks its client holds: a locked server stays
// up with no objects alive.
class CountingFactory final : public ComObject<IClassFactory> {
  public:
    explicit CountingFactory(ComPtr<IClassFactory> inner) : inner_(std::move(inner)) {}

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        const HRESULT hr = inner_->CreateInstance(outer, riid, ppv);
        if (SUCCEEDED(hr)) {
            created_.store(true);
        }
        return hr;
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock) {
            locks_.fetch_add(1);
        } else {
            int held = locks_.load();
            while (held > 0 && !locks_.compare_exchange_weak(held, held - 1)) {
            }
        }
        return S_OK;
    }
    bool Locked() const { return locks_.load() > 0; }
    // Whether a client has had an object from it: the server is not idle before that.
    bool Created() const { return created_.load(); }

  private:
    ComPtr<IClassFactory> inner_;
    std::atomic<int> locks_{0};
    std::atomic<bool> created_{false};
};

// The test-control socket: lines in, one answer line out for each. Lines are bounded; a longer
// one is answered with an error and skipped.
class ControlChannel {
  public:
    static constexpr std::size_t kMaxLine = 64 * 1024;

    explicit ControlChannel(int fd) : fd_(fd) {}
    ~ControlChannel() { ::close(fd_); }
    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

    // Waits up to timeout for input and hands back the complete lines that came; false once
    // the peer has closed its end (or the socket failed).
    bool Read(std::chrono::milliseconds timeout, std::vector<std::string>* lines) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
        if (ready <= 0) {
            return ready == 0 || errno == EINTR;
        }
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return n < 0 && (errno == EINTR || errno == EAGAIN);
        }
        for (ssize_t k = 0; k < n; ++k) {
            const char c = chunk[k];
            if (c == '\n') {
                if (overlong_) {
                    Answer("error line longer than " + std::to_string(kMaxLine) + " bytes");
                } else {
                    if (!pending_.empty() && pending_.back() == '\r') {
                        pending_.pop_back();
                    }
                    lines->push_back(std::move(pending_));
                }
                pending_.clear();
                overlong_ = false;
            } else if (pending_.size() >= kMaxLine) {
                overlong_ = true;
                pending_.clear();
            } else if (!overlong_) {
                pending_.push_back(c);
            }
        }
        return true;
    }

    void Answer(const std::string& line) {
        const std::string out = line + "\n";
        std::size_t sent = 0;
        while (sent < out.size()) {
            const ssize_t n = ::send(fd_, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;  // the peer is gone; the next read sees it
            }
            sent += static_cast<std::size_t>(n);
        }
    }

  private:
    int fd_;
    std::string pending_;
    bool overlong_ = false;
};

// Carries out one control line on the clock's thread, between the clock's own steps.
std::string RunControlLine(const std::string& line, bool manualClock, Simulator& simulator) {
    const std::size_t blank = line.find(' ');
    const std::string_view command = std::string_view(line).substr(0, blank);
    const std::string_view rest =
        blank == std::string::npos ? std::string_view() : std::string_view(line).substr(blank + 1);
    if (command == "advance") {
        constexpr std::uint64_t kMaxStep = 24ULL * 60 * 60 * 1000;
        std::uint64_t ms = 0;
        const bool number =
            !rest.empty() && rest.size() <= 8 &&
            std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!number || (ms = std::stoull(std::string(rest))) > kMaxStep) {
            return "error advance needs milliseconds up to " + std::to_string(kMaxStep);
        }
        if (!manualClock) {
            return "error the clock runs in real time (no --manual-clock)";
        }
        simulator.AdvanceTime(std::chrono::milliseconds(ms));
        return "ok";
    }
    if (command == "faults") {
        const std::optional<std::vector<std::string>> arguments = SplitCommandLine(rest);
        if (!arguments) {
            return "error faults: unterminated quote";
        }
        SimFaults faults;
        std::string error;
        if (!ParseFaultArguments(*arguments, &faults, &error)) {
            return "error faults: " + error;
        }
        simulator.Faults() = std::move(faults);
        return "ok";
    }
    if (command == "live" && rest.empty()) {
        return "ok " + std::to_string(simulator.LiveServerCount());
    }
    return "error unknown command";
}

int Serve(const Options& options) {
    const ServerOptions& server = options.server;
    const int fd = options.fd;
    // Timestamps in real time count from now; a hand-driven clock keeps its fixed start.
    if (!options.manualClock) {
        SetSimStartFileTime(WallClockFileTime());
    }
    // The address space and faults first: a server that cannot be what it was told to be
    // serves nothing.
    Simulator simulator(SimOptionsFor(server));
    std::string error;
    if (!ApplyServerOptions(server, simulator, &error)) {
        std::fprintf(stderr, "opcsim: %s\n", error.c_str());
        return 1;
    }
    const auto isSocket = [](int descriptor) {
        struct stat info {};
        return ::fstat(descriptor, &info) == 0 && S_ISSOCK(info.st_mode);
    };
    if (!isSocket(fd)) {
        std::fprintf(stderr, "opcsim: descriptor %d is not a connected socket\n", fd);
        return 1;
    }
    std::unique_ptr<ControlChannel> control;
    if (options.controlFd) {
        if (!isSocket(*options.controlFd)) {
            std::fprintf(stderr, "opcsim: control descriptor %d is not a connected socket\n",
                         *options.controlFd);
            return 1;
        }
        control = std::make_unique<ControlChannel>(*options.controlFd);
    }
    const bool steered = control != nullptr;
    const ComPtr<CountingFactory> factory =
        MakeComObject<CountingFactory>(simulator.ClassFactory());
    std::shared_ptr<RpcLink> link;
    const HRESULT hr = ServeClassFactory(ComPtr<IClassFactory>(factory.Get()), fd, &link);
    if (FAILED(hr) || !link) {
        std::fprintf(stderr, "opcsim: cannot serve on descriptor %d (%08lx)\n", fd,
                     static_cast<unsigned long>(hr));
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    constexpr auto kTick = std::chrono::milliseconds(10);
    const Clock::time_point started = Clock::now();
    Clock::time_point last = started;
    std::vector<std::string> lines;
    for (;;) {
        // The control socket is read here, on the clock's thread, so its steps never overlap
        // the clock's own.
        if (control) {
            lines.clear();
            const bool open = control->Read(kTick, &lines);
            for (const std::string& line : lines) {
                control->Answer(RunControlLine(line, options.manualClock, simulator));
            }
            if (!open) {
                control.reset();
            }
            if (!link->IsOpen()) {
                break;
            }
        } else if (link->WaitClosed(kTick)) {
            break;
        }
        if (server.dieAfterMs &&
            Clock::now() - started >= std::chrono::milliseconds(*server.dieAfterMs)) {
            // A crash, as far as the client can tell: no goodbye, no cleanup.
            std::fflush(stderr);
            ::_exit(3);
        }
        if (!options.manualClock) {
            // Whole milliseconds only; the rest carries over to the next tick.
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last);
            last += elapsed;
            simulator.AdvanceTime(elapsed);
        }
        if (!steered && factory->Created() && simulator.LiveServerCount() == 0 &&
            !factory->Locked()) {
            break;
        }
    }
    link->Close();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseArguments(argc, argv);
    if (!options) {
        return 2;
    }
    switch (options->mode) {
        case Mode::Help:
            PrintUsage(stdout);
            return 0;
        case Mode::RegServer:
            return RegisterServer(options->server);
        case Mode::UnregServer:
            return UnregisterServer();
        case Mode::Embedding:
            return Serve(*options);
    }
    return 2;
}
