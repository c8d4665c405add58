#include "tgvtool/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

namespace {

// The write end of the pipe of the StopSignals object alive, -1 when there is none.
std::atomic<int> g_stopWriteFd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free fd");

void OnStopSignal(int /*signal*/) {
    const int savedErrno = errno;
    const int fd = g_stopWriteFd.load();
    if (fd >= 0) {
        const char byte = 1;
        // A full pipe already says "stop"; nothing to do when this write fails.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

StopSignals::StopSignals() {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        ThrowErrno("pipe2");
    }
    readFd_ = fds[0];
    writeFd_ = fds[1];
    int expected = -1;
    if (!g_stopWriteFd.compare_exchange_strong(expected, writeFd_)) {
        ::close(readFd_);
        ::close(writeFd_);
        throw std::system_error(EBUSY, std::generic_category(), "stop signals already watched");
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGINT, &action, &previousInt_) != 0) {
        const int error = errno;
        g_stopWriteFd.store(-1);
        ::close(readFd_);
        ::close(writeFd_);
        throw std::system_error(error, std::generic_category(), "sigaction");
    }
    if (::sigaction(SIGTERM, &action, &previousTerm_) != 0) {
        const int error = errno;
        ::sigaction(SIGINT, &previousInt_, nullptr);
        g_stopWriteFd.store(-1);
        ::close(readFd_);
        ::close(writeFd_);
        throw std::system_error(error, std::generic_category(), "sigaction");
    }
}

StopSignals::~StopSignals() {
    ::sigaction(SIGTERM, &previousTerm_, nullptr);
    ::sigaction(SIGINT, &previousInt_, nullptr);
    g_stopWriteFd.store(-1);
    ::close(writeFd_);
    ::close(readFd_);
}

bool StopSignals::Stopped() const {
    pollfd watched{readFd_, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & POLLIN) != 0;
}
