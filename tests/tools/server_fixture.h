#pragma once
// The test bed of tgvtool's server commands: a private registry in which the real opcsim
// program is registered, local servers started as processes, a scripted UI, and running the
// real tgvtool program with its output in files.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "com/apartment.h"
#include "framework/scripted_ui.h"
#include "rpc/local_server_provider.h"
#include "tgvtool/commands.h"

extern char** environ;

namespace tools_test {

inline constexpr const char* kSimulator = "Tagvista.Simulator.1";

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

inline std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

// A program started without a shell, its standard output and error written to files.
class ChildProcess {
  public:
    ChildProcess(const std::string& path, const std::vector<std::string>& arguments,
                 const std::filesystem::path& outFile, const std::filesystem::path& errFile) {
        std::vector<std::string> argv = {path};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> pointers;
        for (std::string& argument : argv) {
            pointers.push_back(argument.data());
        }
        pointers.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        if (posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // The exit code, or nullopt when it was killed by a signal or did not end in time.
    std::optional<int> Wait(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!status_) {
            int status = 0;
            const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
            if (ended == pid_) {
                status_ = status;
                break;
            }
            if (ended < 0 || std::chrono::steady_clock::now() > deadline) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WIFEXITED(*status_) ? std::optional<int>(WEXITSTATUS(*status_)) : std::nullopt;
    }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Runs a program to its end (bounded) with its output thrown away; its exit code or -1.
inline int RunQuietly(const std::string& path, const std::vector<std::string>& arguments) {
    ChildProcess child(path, arguments, "/dev/null", "/dev/null");
    if (!child.Started()) {
        return -1;
    }
    return child.Wait(std::chrono::seconds(10)).value_or(-1);
}

class ServerCommandTest : public ::testing::Test {
  protected:
    ServerCommandTest() {
        if (const char* old = std::getenv("TAGVISTA_REGISTRY")) {
            savedRegistry_ = old;
        }
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tgvtool-server-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            dir_ = pattern;
        }
        std::filesystem::create_directory(dir_ / "registry");
        ::setenv("TAGVISTA_REGISTRY", (dir_ / "registry").c_str(), 1);
    }
    ~ServerCommandTest() override {
        if (savedRegistry_) {
            ::setenv("TAGVISTA_REGISTRY", savedRegistry_->c_str(), 1);
        } else {
            ::unsetenv("TAGVISTA_REGISTRY");
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    void SetUp() override {
        previousProvider_ = SetLocalServerProvider(provider);
        ASSERT_EQ(RunQuietly(OPCSIM_PATH, {"-RegServer"}), 0);
    }
    void TearDown() override {
        Apartment::Ui().Drain();
        // Every server a command started has ended with it.
        for (const pid_t pid : provider->RunningChildren()) {
            EXPECT_TRUE(provider->WaitForExit(pid, std::chrono::seconds(5))) << pid;
        }
        SetLocalServerProvider(previousProvider_);
    }

    std::filesystem::path Path(const std::string& name) const { return dir_ / name; }

    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        ui.Clear();
        return RunTgvtool(args, out, err);
    }
    std::vector<std::string> OutLines() const { return SplitLines(out.str()); }

    ScriptedUiServices ui;
    ScopedUiServices installed{ui};
    std::shared_ptr<LocalServerProcessProvider> provider =
        std::make_shared<LocalServerProcessProvider>();
    std::ostringstream out;
    std::ostringstream err;

  private:
    std::filesystem::path dir_;
    std::optional<std::string> savedRegistry_;
    std::shared_ptr<ILocalServerProvider> previousProvider_;
};

}  // namespace tools_test
