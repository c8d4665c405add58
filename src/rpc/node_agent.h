#pragma once
// The serving side of the node agent: answers a client's look-ups under SOFTWARE\Classes of
// this machine's registry (anything else is refused with ERROR_ACCESS_DENIED), and activates
// the classes registered there with a LocalServer32 command line, as local server processes
// started without a shell. The objects of those servers are handed back on the client's own
// connection: the agent serves the proxies it holds as stubs.
//
// Everything a client was given is let go when its connection closes; a server process it left
// behind (one whose class object it took without creating an object, for example) is ended
// after a grace period.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rpc/node_frame_limit.h"

class RpcLink;

namespace tgv::rpc {

class ServerStarter;

// Whether a registry path is one the agent answers: SOFTWARE\Classes or below it.
bool IsServedRegistryPath(const std::string& path);

class NodeAgent {
  public:
    struct Options {
        FrameLimits limits{};
        std::size_t maxClients = 32;
        // How long a client's server processes may take to end by themselves once it is gone.
        std::chrono::milliseconds releaseGrace = std::chrono::seconds(5);
    };

    explicit NodeAgent(Options options);
    // Closes every client's connection and ends the server processes started for them.
    ~NodeAgent();
    NodeAgent(const NodeAgent&) = delete;
    NodeAgent& operator=(const NodeAgent&) = delete;

    // Serves a client on an accepted socket, which it takes over. False when it was refused
    // (as many clients as allowed are connected) or could not be served; the socket is then
    // closed.
    bool Serve(int fd);
    // Forgets the clients that have gone and ends what they left running after the grace
    // period. Called now and then by the program.
    void Sweep();
    std::size_t ClientCount();

    // What the agent keeps of one client.
    struct Session;

  private:
    const Options options_;
    std::shared_ptr<ServerStarter> starter_;
    std::mutex mutex_;
    std::vector<std::shared_ptr<Session>> sessions_;
    // Runs what servers call back on the client's objects, as the apartment of this process.
    std::thread apartment_;
    std::shared_ptr<std::atomic<bool>> stopping_;
};

}  // namespace tgv::rpc
