#include "rpc/local_server_provider.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "rpc/transport.h"

extern char** environ;

namespace {

// Owns a descriptor until it is handed on.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_;
};

// posix_spawn's attribute and file-action objects for one start.
class SpawnSetup {
  public:
    SpawnSetup() {
        okActions_ = ::posix_spawn_file_actions_init(&actions_) == 0;
        okAttributes_ = ::posix_spawnattr_init(&attributes_) == 0;
    }
    ~SpawnSetup() {
        if (okActions_) {
            ::posix_spawn_file_actions_destroy(&actions_);
        }
        if (okAttributes_) {
            ::posix_spawnattr_destroy(&attributes_);
        }
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // The child gets childFd as kLocalServerFd, no signal blocked and SIGPIPE at its default,
    // whatever the starting thread had, and a process group of its own: a Ctrl-C meant for the
    // client does not kill the servers under it before the client has let go of them.
    bool Prepare(int childFd) {
        if (!okActions_ || !okAttributes_) {
            return false;
        }
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        return ::posix_spawn_file_actions_adddup2(&actions_, childFd, kLocalServerFd) == 0 &&
               ::posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
               ::posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0 &&
               ::posix_spawnattr_setpgroup(&attributes_, 0) == 0 &&
               ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK |
                                                            POSIX_SPAWN_SETSIGDEF |
                                                            POSIX_SPAWN_SETPGROUP) == 0;
    }
    const posix_spawn_file_actions_t* Actions() const { return &actions_; }
    const posix_spawnattr_t* Attributes() const { return &attributes_; }

  private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool okActions_ = false;
    bool okAttributes_ = false;
};

// Starts the program with the child's end of the connection; the pid, or nullopt.
std::optional<pid_t> StartProcess(const std::vector<std::string>& arguments, int childFd) {
    // A descriptor that already is kLocalServerFd would keep its close-on-exec flag through a
    // dup2 onto itself: move it out of the way first.
    UniqueFd moved;
    if (childFd == kLocalServerFd) {
        moved.Reset(::fcntl(childFd, F_DUPFD_CLOEXEC, kLocalServerFd + 1));
        if (moved.Get() < 0) {
            return std::nullopt;
        }
        childFd = moved.Get();
    }
    SpawnSetup setup;
    if (!setup.Prepare(childFd)) {
        return std::nullopt;
    }
    std::vector<std::string> argv = arguments;
    argv.emplace_back("-Embedding");
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (std::string& argument : argv) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, pointers[0], setup.Actions(), setup.Attributes(), pointers.data(),
                      environ) != 0) {
        return std::nullopt;
    }
    return pid;
}

}  // namespace

std::optional<std::vector<std::string>> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        const char c = commandLine[i];
        if (c == '\\' && i + 1 < commandLine.size() && commandLine[i + 1] == '"') {
            current.push_back('"');
            inArgument = true;
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
            inArgument = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inArgument) {
                arguments.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
        } else {
            current.push_back(c);
            inArgument = true;
        }
    }
    if (quoted) {
        return std::nullopt;
    }
    if (inArgument) {
        arguments.push_back(std::move(current));
    }
    return arguments;
}

LocalServerProcessProvider::LocalServerProcessProvider() : reaper_([this] { Reap(); }) {}

LocalServerProcessProvider::~LocalServerProcessProvider() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    reaper_.join();
}

HRESULT LocalServerProcessProvider::GetClassObject(REFCLSID /*clsid*/,
                                                   const std::string& commandLine, REFIID riid,
                                                   void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    const std::optional<std::vector<std::string>> arguments = SplitCommandLine(commandLine);
    if (!arguments || arguments->empty() || (*arguments)[0].empty()) {
        return CO_E_SERVER_EXEC_FAILURE;
    }
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return CO_E_SERVER_EXEC_FAILURE;
    }
    UniqueFd ours(fds[0]);
    UniqueFd theirs(fds[1]);
    const std::optional<pid_t> pid = StartProcess(*arguments, theirs.Get());
    theirs.Reset();
    if (!pid) {
        return CO_E_SERVER_EXEC_FAILURE;
    }
    {
        const std::lock_guard lock(mutex_);
        children_.push_back(*pid);
    }
    changed_.notify_all();

    IClassFactory* rawFactory = nullptr;
    std::shared_ptr<RpcLink> link;
    HRESULT hr = ConnectClassFactory(ours.Release(), &rawFactory, &link);
    if (FAILED(hr) || rawFactory == nullptr) {
        return FAILED(hr) ? hr : CO_E_SERVER_EXEC_FAILURE;
    }
    const ComPtr<IClassFactory> factory = ComPtr<IClassFactory>::Attach(rawFactory);
    // One round trip tells whether the program serves a class factory at all: a program that
    // started but does not serve is a server that could not be started.
    if (FAILED(link->Sync())) {
        link->Close();
        return CO_E_SERVER_EXEC_FAILURE;
    }
    hr = factory->QueryInterface(riid, ppv);
    return hr;
}

std::vector<pid_t> LocalServerProcessProvider::RunningChildren() const {
    const std::lock_guard lock(mutex_);
    return children_;
}

bool LocalServerProcessProvider::WaitForExit(pid_t pid, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return std::find(children_.begin(), children_.end(), pid) == children_.end();
    });
}

void LocalServerProcessProvider::Reap() {
    // Polled rather than signalled: a SIGCHLD handler would be the whole process's, and a
    // blocking wait for any child would reap children this provider did not start.
    constexpr auto kPoll = std::chrono::milliseconds(20);
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (children_.empty()) {
            changed_.wait(lock, [this] { return stopping_ || !children_.empty(); });
            continue;
        }
        changed_.wait_for(lock, kPoll, [this] { return stopping_; });
        const auto ended = [](pid_t pid) {
            int status = 0;
            const pid_t r = ::waitpid(pid, &status, WNOHANG);
            return r == pid || (r < 0 && errno == ECHILD);
        };
        const auto removed = std::remove_if(children_.begin(), children_.end(), ended);
        if (removed != children_.end()) {
            children_.erase(removed, children_.end());
            changed_.notify_all();
        }
    }
}

std::shared_ptr<LocalServerProcessProvider> InstallLocalServerProvider() {
    auto provider = std::make_shared<LocalServerProcessProvider>();
    SetLocalServerProvider(provider);
    return provider;
}
