#pragma once
// The process's RPC thread: one kj event loop on a thread of its own, started on first use and
// stopped at exit. Every connection and every capability lives on it; other threads reach it
// only through the calls below, which run a function there and wait for its result. No
// application code runs on it: calls into local objects go to a connection's call thread or to
// the user-interface apartment.

#include <kj/async-io.h>
#include <kj/async.h>
#include <kj/exception.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "com/hresult.h"

namespace tgv::rpc {

class Connection;

// The HRESULT a failed call reports for the exception that ended it.
HRESULT HresultOfException(const kj::Exception& e);

class RpcRuntime {
  public:
    // The runtime of this process, started on the first call.
    static RpcRuntime& Instance();

    RpcRuntime(const RpcRuntime&) = delete;
    RpcRuntime& operator=(const RpcRuntime&) = delete;
    // Closes every connection, then ends the thread.
    ~RpcRuntime();

    bool OnRpcThread() const { return std::this_thread::get_id() == threadId_; }

    // Runs fn() on the RPC thread and waits for it (and for the promise it returns, if any).
    // Throws kj::Exception (DISCONNECTED) when the thread has stopped. Called on the RPC thread
    // itself it runs fn directly, which is only allowed for a function returning no promise.
    template <class F>
    auto Execute(F&& fn) {
        return executor_->executeSync(std::forward<F>(fn));
    }

    // Runs fn() on the RPC thread and waits; false when the thread has stopped. On the RPC
    // thread itself fn runs at once.
    bool Run(const std::function<void()>& fn);

    // RPC thread only.
    kj::AsyncIoContext& Io() { return *io_; }
    kj::Timer& Timer() { return io_->provider->getTimer(); }
    void Adopt(std::shared_ptr<Connection> connection);
    void Forget(const Connection* connection);

    // How long a call may wait for its answer before it fails with RPC_E_TIMEOUT.
    std::chrono::milliseconds CallTimeout() const {
        return std::chrono::milliseconds(timeoutMs_.load(std::memory_order_relaxed));
    }
    void SetCallTimeout(std::chrono::milliseconds timeout) {
        timeoutMs_.store(timeout.count(), std::memory_order_relaxed);
    }

    // Keeps a thread to be joined when it has ended (it sets *ended last) or when the runtime
    // stops: the call threads of connections.
    void KeepThread(std::thread thread, std::shared_ptr<std::atomic<bool>> ended);

  private:
    RpcRuntime();
    void Main(std::promise<void>* started);

    std::thread thread_;
    std::thread::id threadId_;
    kj::AsyncIoContext* io_ = nullptr;
    kj::Own<const kj::Executor> executor_;
    kj::Own<kj::CrossThreadPromiseFulfiller<void>> stop_;
    std::vector<std::shared_ptr<Connection>> connections_;  // RPC thread only
    std::atomic<std::int64_t> timeoutMs_{30000};
    std::mutex threadsMutex_;
    // Threads kept, each with the flag it sets when it has ended.
    std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> threads_;
};

// A thread that runs the calls posted to it one at a time, in order: a connection's incoming
// calls on local objects, and the releases of the references its stubs held.
class CallThread {
  public:
    CallThread();
    CallThread(const CallThread&) = delete;
    CallThread& operator=(const CallThread&) = delete;
    // Stops taking calls; those queued still run.
    ~CallThread();

    // False when the thread has stopped taking calls (the call is dropped).
    bool Post(kj::Function<void()> call);
    // Stops taking calls; the thread ends once the queue is empty.
    void Stop();

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable posted;
        std::deque<kj::Function<void()>> queue;
        bool stopping = false;
        std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
    };
    static void Main(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
};

}  // namespace tgv::rpc
