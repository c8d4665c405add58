#pragma once
// Local servers as processes: activation of a class registered with a LocalServer32 command
// line starts that program, without a shell, with "-Embedding" added to its arguments and one
// end of a socket pair as its descriptor 3, and connects to the class factory it serves there.
// Every activation starts a process of its own; it ends when its client lets go of it.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "com/activation.h"

// The descriptor on which a started local server finds its connection.
inline constexpr int kLocalServerFd = 3;

// Splits a command line into its arguments: blanks separate them, double quotes group blanks
// into one, a backslash before a quote makes it literal. nullopt for an unterminated quote.
std::optional<std::vector<std::string>> SplitCommandLine(std::string_view commandLine);

class LocalServerProcessProvider final : public ILocalServerProvider {
  public:
    LocalServerProcessProvider();
    // Stops watching; children still running are reaped when they end if another provider
    // watches, by the system otherwise.
    ~LocalServerProcessProvider() override;
    LocalServerProcessProvider(const LocalServerProcessProvider&) = delete;
    LocalServerProcessProvider& operator=(const LocalServerProcessProvider&) = delete;

    // CO_E_SERVER_EXEC_FAILURE when the program cannot be started; the failure of the class
    // factory's QueryInterface otherwise.
    HRESULT GetClassObject(REFCLSID clsid, const std::string& commandLine, REFIID riid,
                           void** ppv) override;

    // The processes started and not yet ended, oldest first.
    std::vector<pid_t> RunningChildren() const;
    // Waits until the child has ended (and was reaped); false when the timeout passed first.
    bool WaitForExit(pid_t pid, std::chrono::milliseconds timeout) const;

  private:
    void Reap();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<pid_t> children_;
    bool stopping_ = false;
    std::thread reaper_;
};

// Installs a LocalServerProcessProvider as the process's local-server provider and returns it.
std::shared_ptr<LocalServerProcessProvider> InstallLocalServerProvider();
