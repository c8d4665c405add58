#pragma once
// The apartment of the user-interface thread: calls that arrive on other threads (server
// callbacks taken off the connection thread) are queued here and run on the UI thread one at a
// time, in arrival order.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

class Apartment {
  public:
    // Throws std::system_error when the event descriptor cannot be made.
    Apartment();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    // Calls still queued are dropped without running.
    ~Apartment();

    // The apartment of the process's user-interface thread.
    static Apartment& Ui();

    // Queues a call; any thread.
    void Post(std::function<void()> call);

    // Runs queued calls on the calling thread, in arrival order, and returns how many ran.
    // Every call queued when it starts runs; calls posted meanwhile run too until the drain
    // has taken kDrainSlice, and are left for the next drain after that, so that a steady
    // stream of posts (a server sending as fast as the thread applies) cannot keep the thread
    // from its event loop. A call may drain again (a nested event loop): the nested drain goes
    // on with the calls after it. When a call throws, the exception leaves Drain; the calls
    // after it stay queued.
    std::size_t Drain();
    static constexpr std::chrono::milliseconds kDrainSlice{50};

    // Waits until something is queued or the timeout passes, then drains. Returns how many ran.
    std::size_t WaitAndDrain(std::chrono::milliseconds timeout);

    // An eventfd that is readable exactly while calls are queued, for the event loop to watch.
    // Owned by the apartment; do not read it.
    int EventFd() const { return eventFd_; }

    std::size_t Pending() const;

  private:
    // The next call, unless the drain is past its slice and the call was posted after the
    // drain began (its number is from `before` on).
    bool PopFront(std::function<void()>& call, std::uint64_t before, bool late);

    const int eventFd_;
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    // Each call with its number in posting order.
    std::deque<std::pair<std::uint64_t, std::function<void()>>> queue_;
    std::uint64_t nextNumber_ = 0;
};
