#pragma once
// Starting opcsim from a test on connected sockets, without a shell, and waiting for it to end.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <initializer_list>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace opcsim_process {

// The descriptors the child finds its two connections on.
inline constexpr int kServeFd = 3;
inline constexpr int kControlFd = 4;

inline void CloseAll(std::initializer_list<int> fds) {
    for (const int fd : fds) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

// Starts opcsim -Embedding with serveEnd on kServeFd and controlEnd on kControlFd, followed by
// the given arguments; the ends stay open here (the caller closes them). -1 when it could not
// be started. The ends are first moved above the child's descriptors, so that placing one
// cannot overwrite the other.
inline pid_t Spawn(int serveEnd, int controlEnd, const std::vector<std::string>& arguments) {
    const int serveHigh = ::fcntl(serveEnd, F_DUPFD_CLOEXEC, 64);
    const int controlHigh = ::fcntl(controlEnd, F_DUPFD_CLOEXEC, 64);
    std::vector<std::string> argv = {OPCSIM_PATH,    "-Embedding",
                                     "--fd",         std::to_string(kServeFd),
                                     "--control-fd", std::to_string(kControlFd)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& argument : argv) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    pid_t pid = -1;
    if (serveHigh >= 0 && controlHigh >= 0) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, serveHigh, kServeFd);
        posix_spawn_file_actions_adddup2(&actions, controlHigh, kControlFd);
        if (posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ) != 0) {
            pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    CloseAll({serveHigh, controlHigh});
    return pid;
}

// The exit status of the child once it ended; nullopt (after killing it) when it did not end
// within the timeout.
inline std::optional<int> WaitForExit(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status;
}

// The test's end of the control channel, which it owns.
class ControlClient {
  public:
    // How long an answer may take before the server counts as hung.
    static constexpr std::chrono::seconds kAnswerTimeout{30};

    explicit ControlClient(int fd) : fd_(fd) {}
    ~ControlClient() { ::close(fd_); }
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    // Sends one line and returns the answer line; "error ..." when the channel failed.
    std::string Ask(const std::string& line) {
        const std::string out = line + "\n";
        std::size_t sent = 0;
        while (sent < out.size()) {
            const ssize_t n = ::send(fd_, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return "error the server process is gone";
            }
            sent += static_cast<std::size_t>(n);
        }
        const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
        for (;;) {
            if (const std::size_t end = received_.find('\n'); end != std::string::npos) {
                std::string answer = received_.substr(0, end);
                received_.erase(0, end + 1);
                return answer;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return "error no answer from the server process";
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
                return "error the control channel failed";
            }
            char chunk[256];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                return "error the server process is gone";
            }
            if (n > 0) {
                received_.append(chunk, static_cast<std::size_t>(n));
            }
        }
    }

  private:
    int fd_;
    std::string received_;
};

}  // namespace opcsim_process
