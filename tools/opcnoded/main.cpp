// opcnoded: the node agent. Clients on other machines name this machine as their node; the
// agent answers their look-ups of class registrations (SOFTWARE\Classes of this machine's
// registry) and starts the local servers registered here for them.
//
//   opcnoded [HOST:PORT]             listen there (127.0.0.1:5135 unless given)
//   opcnoded --listen HOST:PORT      the same
//   --max-clients N                  clients served at once (others are turned away)
//
// Port 0 takes a free port. Once listening, the program prints "listening on HOST:PORT" on
// standard output. SIGTERM and SIGINT end it: every client is let go and the servers started
// for them end.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "rpc/node_agent.h"

namespace {

constexpr const char* kDefaultHost = "127.0.0.1";
constexpr unsigned kDefaultPort = 5135;

struct ListenAddress {
    std::string host = kDefaultHost;
    unsigned port = kDefaultPort;
};

struct Options {
    bool help = false;
    ListenAddress address;
    std::size_t maxClients = tgv::rpc::NodeAgent::Options{}.maxClients;
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: opcnoded [HOST:PORT | --listen HOST:PORT] [--max-clients N] | --help\n"
                 "  Serves this machine's class registrations and local servers to clients\n"
                 "  on other machines. Listens on %s:%u unless told otherwise; port 0 takes a\n"
                 "  free port. An IPv6 address is written in brackets: [::1]:%u.\n"
                 "  --max-clients N   clients served at once (1 to 1000, default %zu)\n",
                 kDefaultHost, kDefaultPort, kDefaultPort,
                 tgv::rpc::NodeAgent::Options{}.maxClients);
}

// A decimal number no greater than max.
std::optional<unsigned> ParseNumber(std::string_view text, unsigned max) {
    if (text.empty() || text.size() > 5) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<ListenAddress> ParseAddress(std::string_view text) {
    ListenAddress address;
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view host = text.substr(0, colon);
    const std::string_view port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<unsigned> value = ParseNumber(port, 65535);
    if (host.empty() || !value) {
        return std::nullopt;
    }
    address.host = std::string(host);
    address.port = *value;
    return address;
}

// nullopt, after saying why, for a command line that makes no sense.
std::optional<Options> ParseArguments(int argc, char** argv) {
    Options options;
    bool addressGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view value;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--max-clients") {
            const std::optional<unsigned> count =
                i + 1 < argc ? ParseNumber(argv[i + 1], 1000) : std::optional<unsigned>();
            if (!count || *count == 0) {
                std::fprintf(stderr, "opcnoded: --max-clients needs a number from 1 to 1000\n");
                return std::nullopt;
            }
            options.maxClients = *count;
            ++i;
            continue;
        }
        if (arg == "--listen") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "opcnoded: --listen needs HOST:PORT\n");
                return std::nullopt;
            }
            value = argv[++i];
        } else if (!arg.empty() && arg.front() != '-') {
            value = arg;
        } else {
            std::fprintf(stderr, "opcnoded: unknown option '%.*s' (try --help)\n",
                         static_cast<int>(arg.size()), arg.data());
            return std::nullopt;
        }
        if (addressGiven) {
            std::fprintf(stderr, "opcnoded: only one address to listen on\n");
            return std::nullopt;
        }
        const std::optional<ListenAddress> address = ParseAddress(value);
        if (!address) {
            std::fprintf(stderr, "opcnoded: '%.*s' is not HOST:PORT\n",
                         static_cast<int>(value.size()), value.data());
            return std::nullopt;
        }
        options.address = *address;
        addressGiven = true;
    }
    return options;
}

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool InstallSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

// The listening socket and the address it is bound to, as text; -1 after saying why.
int Listen(const ListenAddress& address, std::string& bound) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address.port);
    if (const int error = ::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found);
        error != 0) {
        std::fprintf(stderr, "opcnoded: cannot resolve %s: %s\n", address.host.c_str(),
                     ::gai_strerror(error));
        return -1;
    }
    int fd = -1;
    int lastError = 0;
    for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 64) != 0) {
            lastError = errno;
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        std::fprintf(stderr, "opcnoded: cannot listen on %s:%u: %s\n", address.host.c_str(),
                     address.port, std::strerror(lastError));
        return -1;
    }
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        ::getnameinfo(reinterpret_cast<sockaddr*>(&local), length, host, sizeof host, service,
                      sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        std::fprintf(stderr, "opcnoded: cannot tell the address listened on\n");
        ::close(fd);
        return -1;
    }
    const bool v6 = local.ss_family == AF_INET6;
    bound = (v6 ? "[" : "") + std::string(host) + (v6 ? "]:" : ":") + service;
    return fd;
}

int Run(const Options& options) {
    const ListenAddress& address = options.address;
    if (!InstallSignals()) {
        std::fprintf(stderr, "opcnoded: cannot install signal handlers\n");
        return 1;
    }
    std::string bound;
    const int listener = Listen(address, bound);
    if (listener < 0) {
        return 1;
    }
    {
        tgv::rpc::NodeAgent::Options agentOptions;
        agentOptions.maxClients = options.maxClients;
        tgv::rpc::NodeAgent agent(agentOptions);
        std::printf("listening on %s\n", bound.c_str());
        std::fflush(stdout);
        for (;;) {
            pollfd watched[2] = {{listener, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
            const int ready = ::poll(watched, 2, 250);
            if (ready < 0 && errno != EINTR) {
                std::fprintf(stderr, "opcnoded: poll failed: %s\n", std::strerror(errno));
                break;
            }
            if (ready > 0 && (watched[1].revents & POLLIN) != 0) {
                break;
            }
            if (ready > 0 && (watched[0].revents & POLLIN) != 0) {
                const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0 && !agent.Serve(client)) {
                    std::fprintf(stderr, "opcnoded: a client was refused\n");
                }
            }
            agent.Sweep();
        }
        ::close(listener);
    }
    std::printf("stopped\n");
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseArguments(argc, argv);
    if (!options) {
        return 2;
    }
    if (options->help) {
        PrintUsage(stdout);
        return 0;
    }
    return Run(*options);
}
