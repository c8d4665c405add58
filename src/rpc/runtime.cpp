#include "rpc/runtime.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <future>

#include "com/apartment.h"
#include "rpc/connection.h"

namespace tgv::rpc {

HRESULT HresultOfException(const kj::Exception& e) {
    switch (e.getType()) {
        case kj::Exception::Type::DISCONNECTED:
            return RPC_E_DISCONNECTED;
        case kj::Exception::Type::OVERLOADED:
            return RPC_E_SERVERCALL_RETRYLATER;
        case kj::Exception::Type::UNIMPLEMENTED:
            return E_NOTIMPL;
        default:
            // The other side failed while handling the call.
            return RPC_E_SERVERFAULT;
    }
}

RpcRuntime& RpcRuntime::Instance() {
    static RpcRuntime runtime;
    return runtime;
}

RpcRuntime::RpcRuntime() {
    // The apartment is made first so that it outlives the runtime at exit: closing the last
    // connections queues the releases of the client's sinks there.
    Apartment::Ui();
    std::promise<void> started;
    std::future<void> ready = started.get_future();
    thread_ = std::thread([this, &started] { Main(&started); });
    ready.wait();
}

RpcRuntime::~RpcRuntime() {
    if (stop_) {
        stop_->fulfill();
    }
    thread_.join();
    std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> threads;
    {
        const std::lock_guard lock(threadsMutex_);
        threads.swap(threads_);
    }
    for (auto& [t, ended] : threads) {
        if (t.joinable()) {
            t.join();
        }
    }
}

void RpcRuntime::Main(std::promise<void>* started) {
    threadId_ = std::this_thread::get_id();
    // A write to a socket whose peer has gone must fail with EPIPE, not end the process. The
    // signal goes to the thread that writes, and only this one writes to sockets.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    kj::AsyncIoContext io = kj::setupAsyncIo();
    io_ = &io;
    executor_ = kj::getCurrentThreadExecutor().addRef();
    auto stop = kj::newPromiseAndCrossThreadFulfiller<void>();
    stop_ = kj::mv(stop.fulfiller);
    started->set_value();

    stop.promise.wait(io.waitScope);

    // Every connection goes first, so that no capability outlives the loop.
    std::vector<std::shared_ptr<Connection>> connections;
    connections.swap(connections_);
    for (const std::shared_ptr<Connection>& c : connections) {
        c->Close();
    }
    connections.clear();
    io.waitScope.poll();
    io_ = nullptr;
}

bool RpcRuntime::Run(const std::function<void()>& fn) {
    if (OnRpcThread()) {
        fn();
        return true;
    }
    try {
        executor_->executeSync([&fn] { fn(); });
        return true;
    } catch (const kj::Exception&) {
        return false;
    }
}

void RpcRuntime::Adopt(std::shared_ptr<Connection> connection) {
    connections_.push_back(std::move(connection));
}

void RpcRuntime::Forget(const Connection* connection) {
    std::erase_if(connections_, [connection](const std::shared_ptr<Connection>& c) {
        return c.get() == connection;
    });
}

void RpcRuntime::KeepThread(std::thread thread, std::shared_ptr<std::atomic<bool>> ended) {
    std::vector<std::thread> finished;
    {
        const std::lock_guard lock(threadsMutex_);
        for (auto it = threads_.begin(); it != threads_.end();) {
            if (it->second->load()) {
                finished.push_back(std::move(it->first));
                it = threads_.erase(it);
            } else {
                ++it;
            }
        }
        threads_.emplace_back(std::move(thread), std::move(ended));
    }
    for (std::thread& t : finished) {
        t.join();
    }
}

CallThread::CallThread() : state_(std::make_shared<State>()) {
    RpcRuntime::Instance().KeepThread(std::thread(Main, state_), state_->ended);
}

CallThread::~CallThread() {
    Stop();
}

bool CallThread::Post(kj::Function<void()> call) {
    {
        const std::lock_guard lock(state_->mutex);
        if (state_->stopping) {
            return false;
        }
        state_->queue.push_back(kj::mv(call));
    }
    state_->posted.notify_one();
    return true;
}

void CallThread::Stop() {
    {
        const std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->posted.notify_one();
}

void CallThread::Main(std::shared_ptr<State> state) {
    struct EndFlag {
        std::atomic<bool>& ended;
        ~EndFlag() { ended.store(true); }
    } endFlag{*state->ended};
    for (;;) {
        kj::Function<void()> call;
        {
            std::unique_lock lock(state->mutex);
            state->posted.wait(lock, [&] { return state->stopping || !state->queue.empty(); });
            if (state->queue.empty()) {
                return;
            }
            call = kj::mv(state->queue.front());
            state->queue.pop_front();
        }
        try {
            call();
        } catch (...) {
            // A call that throws ends itself, not the thread: its caller gets no answer and
            // fails as a broken call does.
        }
    }
}

}  // namespace tgv::rpc
