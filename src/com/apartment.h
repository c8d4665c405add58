#pragma once
// The apartment of the user-interface thread: calls that arrive on other threads (server
// callbacks taken off the connection thread) are queued here and run on the UI thread one at a
// time, in arrival order.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

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

    // Runs queued calls on the calling thread, in arrival order, until the queue is empty
    // (calls posted meanwhile included) and returns how many ran. A call may drain again
    // (a nested event loop): the nested drain goes on with the calls after it. When a call
    // throws, the exception leaves Drain; the calls after it stay queued.
    std::size_t Drain();

    // Waits until something is queued or the timeout passes, then drains. Returns how many ran.
    std::size_t WaitAndDrain(std::chrono::milliseconds timeout);

    // An eventfd that is readable exactly while calls are queued, for the event loop to watch.
    // Owned by the apartment; do not read it.
    int EventFd() const { return eventFd_; }

    std::size_t Pending() const;

  private:
    bool PopFront(std::function<void()>& call);

    const int eventFd_;
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
};
