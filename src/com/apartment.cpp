#include "com/apartment.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

namespace {

int MakeEventFd() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    return fd;
}

}  // namespace

Apartment::Apartment() : eventFd_(MakeEventFd()) {}

Apartment::~Apartment() {
    ::close(eventFd_);
}

Apartment& Apartment::Ui() {
    static Apartment apartment;
    return apartment;
}

void Apartment::Post(std::function<void()> call) {
    {
        const std::lock_guard lock(mutex_);
        queue_.emplace_back(nextNumber_++, std::move(call));
        if (queue_.size() == 1) {
            // The descriptor turns readable with the first queued call; it stays so until the
            // queue is empty again. The counter cannot overflow: it only ever holds 0 or 1.
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(eventFd_, &one, sizeof one);
        }
    }
    posted_.notify_all();
}

bool Apartment::PopFront(std::function<void()>& call, std::uint64_t before, bool late) {
    const std::lock_guard lock(mutex_);
    if (queue_.empty() || (late && queue_.front().first >= before)) {
        return false;
    }
    call = std::move(queue_.front().second);
    queue_.pop_front();
    if (queue_.empty()) {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t read = ::read(eventFd_, &value, sizeof value);
    }
    return true;
}

std::size_t Apartment::Drain() {
    const auto began = std::chrono::steady_clock::now();
    std::uint64_t before = 0;
    {
        const std::lock_guard lock(mutex_);
        before = nextNumber_;
    }
    std::size_t ran = 0;
    std::function<void()> call;
    while (PopFront(call, before, std::chrono::steady_clock::now() - began > kDrainSlice)) {
        // The call is out of the queue before it runs, so a nested Drain goes on with the next.
        std::function<void()> running = std::move(call);
        call = nullptr;
        ++ran;
        if (running) {
            running();
        }
    }
    return ran;
}

std::size_t Apartment::WaitAndDrain(std::chrono::milliseconds timeout) {
    {
        std::unique_lock lock(mutex_);
        posted_.wait_for(lock, timeout, [this] { return !queue_.empty(); });
    }
    return Drain();
}

std::size_t Apartment::Pending() const {
    const std::lock_guard lock(mutex_);
    return queue_.size();
}
