#include "rpc/node_agent.h"

#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <utility>

#include "com/apartment.h"
#include "com/guid.h"
#include "com/registry.h"
#include "rpc/connection.h"
#include "rpc/local_server_provider.h"
#include "rpc/marshal.h"
#include "rpc/node.capnp.h"
#include "rpc/node_socket.h"
#include "rpc/transport.h"
#include "rpc/wire_values.h"

namespace tgv::rpc {

using Clock = std::chrono::steady_clock;

namespace {

// Interfaces asked for in one activation; a request for more is refused.
constexpr unsigned kMaxInterfaces = 64;
// Registry values are small; a larger one is answered as missing rather than copied.
constexpr DWORD kMaxValueBytes = 1024 * 1024;
constexpr std::uint32_t kAgentVersion = 1;

std::string ToString(capnp::Text::Reader text) {
    return std::string(text.begin(), text.size());
}

bool HasNul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

// The registry look-ups, on this machine's HKEY_LOCAL_MACHINE.
LSTATUS OpenServedKey(const std::string& path, HKEY* key) {
    if (HasNul(path)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!IsServedRegistryPath(path)) {
        return ERROR_ACCESS_DENIED;
    }
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key);
}

class KeyCloser {
  public:
    explicit KeyCloser(HKEY key) : key_(key) {}
    ~KeyCloser() { RegCloseKey(key_); }
    KeyCloser(const KeyCloser&) = delete;
    KeyCloser& operator=(const KeyCloser&) = delete;

  private:
    HKEY key_;
};

struct ValueOut {
    LSTATUS status = ERROR_FILE_NOT_FOUND;
    DWORD type = 0;
    std::vector<BYTE> data;
};

void QueryServedValue(const std::string& path, const std::string& name, ValueOut& out) {
    if (HasNul(name)) {
        out.status = ERROR_INVALID_PARAMETER;
        return;
    }
    HKEY key = nullptr;
    out.status = OpenServedKey(path, &key);
    if (out.status != ERROR_SUCCESS) {
        return;
    }
    const KeyCloser closer(key);
    // The value may grow between the two calls; try again when it did.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        out.status = RegQueryValueExA(key, name.c_str(), nullptr, &out.type, nullptr, &size);
        if (out.status != ERROR_SUCCESS) {
            return;
        }
        if (size > kMaxValueBytes) {
            out.status = ERROR_OUTOFMEMORY;
            return;
        }
        out.data.assign(size, 0);
        out.status =
            RegQueryValueExA(key, name.c_str(), nullptr, &out.type, out.data.data(), &size);
        if (out.status == ERROR_SUCCESS) {
            out.data.resize(std::min<std::size_t>(size, out.data.size()));
            return;
        }
        if (out.status != ERROR_MORE_DATA) {
            return;
        }
    }
}

struct NameOut {
    LSTATUS status = ERROR_NO_MORE_ITEMS;
    std::string name;
};

void EnumServedKey(const std::string& path, DWORD index, NameOut& out) {
    HKEY key = nullptr;
    out.status = OpenServedKey(path, &key);
    if (out.status != ERROR_SUCCESS) {
        return;
    }
    const KeyCloser closer(key);
    char buffer[256] = {};
    DWORD length = sizeof buffer;
    out.status = RegEnumKeyExA(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (out.status == ERROR_SUCCESS) {
        out.name.assign(buffer, length);
    }
}

}  // namespace

bool IsServedRegistryPath(const std::string& path) {
    const std::optional<std::vector<std::string>> parts = SplitRegPath(path);
    return parts && parts->size() >= 2 && ::strcasecmp((*parts)[0].c_str(), "SOFTWARE") == 0 &&
           ::strcasecmp((*parts)[1].c_str(), "Classes") == 0;
}

// Starts the local servers of registered classes, remembering which process each start made.
class ServerStarter {
  public:
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv, std::vector<pid_t>& started) {
        *ppv = nullptr;
        // Only a class registered on this machine with a LocalServer32 is started, and what is
        // started is that command line, never anything the client sent.
        const std::optional<std::string> command = RegReadString(
            HKEY_LOCAL_MACHINE,
            "SOFTWARE\\Classes\\CLSID\\" + GuidToString(clsid) + "\\LocalServer32", "");
        if (!command || command->empty()) {
            return REGDB_E_CLASSNOTREG;
        }
        // One start at a time, so that the process that appears is this start's.
        const std::lock_guard lock(startMutex_);
        const std::vector<pid_t> before = provider_.RunningChildren();
        const HRESULT hr = provider_.GetClassObject(clsid, *command, riid, ppv);
        for (const pid_t pid : provider_.RunningChildren()) {
            if (std::find(before.begin(), before.end(), pid) == before.end()) {
                started.push_back(pid);
            }
        }
        return hr;
    }

    bool Running(pid_t pid) const {
        const std::vector<pid_t> running = provider_.RunningChildren();
        return std::find(running.begin(), running.end(), pid) != running.end();
    }
    bool WaitForExit(pid_t pid, std::chrono::milliseconds timeout) const {
        return provider_.WaitForExit(pid, timeout);
    }

  private:
    std::mutex startMutex_;
    LocalServerProcessProvider provider_;
};

struct NodeAgent::Session {
    std::mutex mutex;
    std::vector<pid_t> children;
    std::shared_ptr<RpcLink> link;
    std::optional<Clock::time_point> closedAt;

    void AddChildren(const std::vector<pid_t>& started) {
        const std::lock_guard lock(mutex);
        children.insert(children.end(), started.begin(), started.end());
    }
    std::vector<pid_t> Children() {
        const std::lock_guard lock(mutex);
        return children;
    }
};

namespace {

// The agent one client reaches: every request runs on the call thread of the client's
// connection, never on the RPC thread.
class AgentServer final : public wire::NodeAgent::Server {
  public:
    AgentServer(const std::shared_ptr<Connection>& connection,
                const std::shared_ptr<NodeAgent::Session>& session,
                std::shared_ptr<ServerStarter> starter)
        : connection_(connection), session_(session), starter_(std::move(starter)) {}

    kj::Promise<void> ping(PingContext context) override {
        context.getResults().setVersion(kAgentVersion);
        return kj::READY_NOW;
    }

    kj::Promise<void> openKey(OpenKeyContext context) override {
        auto connection = Conn();
        std::string path = ToString(context.getParams().getPath());
        return Dispatch<LSTATUS>(*connection,
                                 [path = std::move(path)](LSTATUS& status) {
                                     HKEY key = nullptr;
                                     status = OpenServedKey(path, &key);
                                     if (status == ERROR_SUCCESS) {
                                         RegCloseKey(key);
                                     }
                                 })
            .then([context](kj::Own<LSTATUS> status) mutable {
                context.getResults().setStatus(*status);
            });
    }

    kj::Promise<void> queryValue(QueryValueContext context) override {
        auto connection = Conn();
        auto params = context.getParams();
        std::string path = ToString(params.getPath());
        std::string name = ToString(params.getName());
        return Dispatch<ValueOut>(*connection,
                                  [path = std::move(path), name = std::move(name)](ValueOut& out) {
                                      QueryServedValue(path, name, out);
                                  })
            .then([context](kj::Own<ValueOut> out) mutable {
                auto results = context.getResults();
                results.setStatus(out->status);
                if (out->status == ERROR_SUCCESS) {
                    results.setType(out->type);
                    results.setData(kj::arrayPtr(out->data.data(), out->data.size()));
                }
            });
    }

    kj::Promise<void> enumKey(EnumKeyContext context) override {
        auto connection = Conn();
        auto params = context.getParams();
        std::string path = ToString(params.getPath());
        const DWORD index = params.getIndex();
        return Dispatch<NameOut>(*connection,
                                 [path = std::move(path), index](NameOut& out) {
                                     EnumServedKey(path, index, out);
                                 })
            .then([context](kj::Own<NameOut> out) mutable {
                auto results = context.getResults();
                results.setStatus(out->status);
                if (out->status == ERROR_SUCCESS) {
                    results.setName(out->name);
                }
            });
    }

    kj::Promise<void> createInstance(CreateInstanceContext context) override {
        auto connection = Conn();
        auto params = context.getParams();
        const CLSID clsid = GetGuid(params.getClsid());
        const auto iidList = params.getIids();
        if (iidList.size() == 0 || iidList.size() > kMaxInterfaces) {
            context.getResults().setHr(E_INVALIDARG);
            return kj::READY_NOW;
        }
        std::vector<IID> iids;
        for (const auto iid : iidList) {
            iids.push_back(GetGuid(iid));
        }
        struct Out {
            HRESULT hr = E_FAIL;
            std::vector<ObjectOut> found;  // one per interface asked for
        };
        return Dispatch<Out>(
                   *connection,
                   [starter = starter_, session = session_, clsid,
                    iids = std::move(iids)](Out& out) {
                       ComPtr<IClassFactory> factory;
                       std::vector<pid_t> started;
                       out.hr = starter->GetClassObject(clsid, IID_IClassFactory, factory.PutVoid(),
                                                        started);
                       Remember(session, started);
                       if (FAILED(out.hr)) {
                           return;
                       }
                       ComPtr<IUnknown> object;
                       out.hr = factory->CreateInstance(nullptr, IID_IUnknown, object.PutVoid());
                       if (FAILED(out.hr) || !object) {
                           out.hr = FAILED(out.hr) ? out.hr : E_UNEXPECTED;
                           return;
                       }
                       for (const IID& iid : iids) {
                           IUnknown* itf = nullptr;
                           HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(&itf));
                           if (FAILED(hr)) {
                               itf = nullptr;
                           } else if (itf == nullptr) {
                               hr = E_NOINTERFACE;
                           }
                           out.found.push_back(ObjectOut{hr, OutgoingObject::Adopt(itf, iid)});
                       }
                   })
            .then([connection, context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                results.setHr(out->hr);
                if (FAILED(out->hr)) {
                    return;
                }
                auto entries = results.initResults(static_cast<unsigned>(out->found.size()));
                for (unsigned i = 0; i < entries.size(); ++i) {
                    entries[i].setHr(PutObject(*connection, out->found[i],
                                               [&] { return entries[i].initObject(); }));
                }
            });
    }

    kj::Promise<void> getClassObject(GetClassObjectContext context) override {
        auto connection = Conn();
        auto params = context.getParams();
        const CLSID clsid = GetGuid(params.getClsid());
        const IID iid = GetGuid(params.getIid());
        return Dispatch<ObjectOut>(
                   *connection,
                   [starter = starter_, session = session_, clsid, iid](ObjectOut& out) {
                       IUnknown* itf = nullptr;
                       std::vector<pid_t> started;
                       out.hr = starter->GetClassObject(clsid, iid, reinterpret_cast<void**>(&itf),
                                                        started);
                       Remember(session, started);
                       if (FAILED(out.hr)) {
                           itf = nullptr;
                       } else if (itf == nullptr) {
                           out.hr = E_NOINTERFACE;
                       }
                       out.object = OutgoingObject::Adopt(itf, iid);
                   })
            .then([connection, context](kj::Own<ObjectOut> out) mutable {
                auto results = context.getResults();
                results.setHr(PutObject(*connection, *out, [&] { return results.initObject(); }));
            });
    }

  private:
    std::shared_ptr<Connection> Conn() {
        std::shared_ptr<Connection> connection = connection_.lock();
        if (!connection || !connection->IsOpen()) {
            kj::throwFatalException(KJ_EXCEPTION(DISCONNECTED, "the client has gone"));
        }
        return connection;
    }

    static void Remember(const std::weak_ptr<NodeAgent::Session>& weak,
                         const std::vector<pid_t>& started) {
        if (started.empty()) {
            return;
        }
        if (const auto session = weak.lock()) {
            session->AddChildren(started);
        } else {
            // The agent has forgotten the client already: nobody will end these otherwise.
            for (const pid_t pid : started) {
                ::kill(pid, SIGTERM);
            }
        }
    }

    std::weak_ptr<Connection> connection_;
    std::weak_ptr<NodeAgent::Session> session_;
    std::shared_ptr<ServerStarter> starter_;
};

}  // namespace

NodeAgent::NodeAgent(Options options)
    : options_(options),
      starter_(std::make_shared<ServerStarter>()),
      stopping_(std::make_shared<std::atomic<bool>>(false)) {
    RpcRuntime::Instance();
    apartment_ = std::thread([stopping = stopping_] {
        while (!stopping->load()) {
            try {
                Apartment::Ui().WaitAndDrain(std::chrono::milliseconds(100));
            } catch (...) {
                // A callback that failed is that callback's loss; the others go on.
            }
        }
    });
}

NodeAgent::~NodeAgent() {
    std::vector<std::shared_ptr<Session>> sessions;
    {
        const std::lock_guard lock(mutex_);
        sessions.swap(sessions_);
    }
    for (const auto& session : sessions) {
        session->link->Close();
    }
    // The servers end by themselves once their objects are let go; those that do not are
    // ended.
    const auto deadline = Clock::now() + std::min<std::chrono::milliseconds>(
                                             options_.releaseGrace, std::chrono::seconds(3));
    for (const auto& session : sessions) {
        for (const pid_t pid : session->Children()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (starter_->WaitForExit(pid, std::max(left, std::chrono::milliseconds(0)))) {
                continue;
            }
            ::kill(pid, SIGTERM);
            if (!starter_->WaitForExit(pid, std::chrono::seconds(1))) {
                ::kill(pid, SIGKILL);
                starter_->WaitForExit(pid, std::chrono::seconds(1));
            }
        }
    }
    sessions.clear();
    stopping_->store(true);
    apartment_.join();
}

bool NodeAgent::Serve(int fd) {
    Sweep();
    if (ClientCount() >= options_.maxClients) {
        ::close(fd);
        return false;
    }
    ConfigureNodeSocket(fd);
    auto session = std::make_shared<Session>();
    std::shared_ptr<Connection> connection;
    RpcRuntime& runtime = RpcRuntime::Instance();
    bool adopted = false;
    const bool ran = runtime.Run([&] {
        try {
            auto stream = runtime.Io().lowLevelProvider->wrapSocketFd(
                fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
            adopted = true;
            // The agent is the bootstrap capability, made once the connection it serves exists.
            auto paf = kj::newPromiseAndFulfiller<capnp::Capability::Client>();
            connection = Connection::Open(Connection::Role::Server,
                                          LimitFrames(kj::mv(stream), options_.limits),
                                          capnp::Capability::Client(kj::mv(paf.promise)));
            wire::NodeAgent::Client agent = kj::heap<AgentServer>(connection, session, starter_);
            paf.fulfiller->fulfill(kj::mv(agent));
        } catch (const kj::Exception&) {
            if (connection) {
                connection->Close();
                connection.reset();
            }
        }
    });
    if (!adopted) {
        ::close(fd);
    }
    if (!ran || !connection) {
        return false;
    }
    session->link = std::make_shared<RpcLink>(connection);
    runtime.Run([&connection] { connection.reset(); });
    const std::lock_guard lock(mutex_);
    sessions_.push_back(std::move(session));
    return true;
}

void NodeAgent::Sweep() {
    const Clock::time_point now = Clock::now();
    std::vector<std::shared_ptr<Session>> ended;
    {
        const std::lock_guard lock(mutex_);
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            Session& session = **it;
            if (session.link->IsOpen()) {
                ++it;
                continue;
            }
            if (!session.closedAt) {
                session.closedAt = now;
            }
            const std::vector<pid_t> children = session.Children();
            const bool anyRunning = std::any_of(children.begin(), children.end(),
                                                [&](pid_t pid) { return starter_->Running(pid); });
            if (anyRunning && now - *session.closedAt < options_.releaseGrace) {
                ++it;
                continue;
            }
            ended.push_back(std::move(*it));
            it = sessions_.erase(it);
        }
    }
    for (const auto& session : ended) {
        for (const pid_t pid : session->Children()) {
            // Still a child not yet reaped, so the number is still that process's.
            if (starter_->Running(pid)) {
                ::kill(pid, SIGTERM);
            }
        }
    }
}

std::size_t NodeAgent::ClientCount() {
    const std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(sessions_.begin(), sessions_.end(),
                                                  [](const auto& s) { return s->link->IsOpen(); }));
}

}  // namespace tgv::rpc
