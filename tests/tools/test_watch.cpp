// The watch command against a real opcsim: in process, and as the real tgvtool program ended
// by its duration and by SIGINT.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "document/offline_doc.h"
#include "model/datetime.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "model/server_record.h"
#include "tgvtool/stop_signals.h"
#include "tools/server_fixture.h"

namespace {

using tools_test::ChildProcess;
using tools_test::kSimulator;
using tools_test::ReadText;
using tools_test::ServerCommandTest;
using tools_test::SplitFields;
using tools_test::SplitLines;

class WatchTest : public ServerCommandTest {
  protected:
    // A configuration of one server with a fast group of a ramp and a text signal, and a
    // second server that is not registered.
    std::string WriteConfiguration() {
        COfflineDoc doc;
        EXPECT_TRUE(doc.OnNewDocument());
        doc.nextItemId = 4;
        doc.nextGroupId = 3;
        doc.nextServerId = 3;
        for (const auto& [id, progId] : {std::pair{1, kSimulator}, {2, "No.Such.Server"}}) {
            auto server = std::make_unique<clBaseOPCServer>();
            server->id = id;
            server->serverName = progId;
            auto group = std::make_unique<clBaseOPCGroup>();
            group->id = id;
            group->serverId = id;
            group->updateRate = 100;
            group->name = id == 1 ? "Fast" : "Lost";
            for (const auto& [itemId, name, opcId] :
                 {std::tuple{1, "Ramp", "Signals.Ramp"}, {2, "Text\tsignal", "Signals.Text"}}) {
                auto item = std::make_unique<clBaseOPCItem>();
                item->id = itemId + (id - 1) * 2;
                item->displayName = name;
                item->opcItemId = opcId;
                item->canonicalType = itemId == 1 ? VT_R8 : VT_BSTR;
                item->active = 1;
                group->InsertItemSorted(std::move(item));
            }
            server->InsertGroupSorted(std::move(group));
            doc.serverList.AddServerRecord(std::move(server));
        }
        const std::string path = Path("watched.tgv").string();
        EXPECT_EQ(doc.Save(path), "");
        return path;
    }

    // Checks the lines of a watch: every one an update of the connected server's items.
    static void ExpectUpdateLines(const std::vector<std::string>& lines) {
        ASSERT_FALSE(lines.empty());
        const std::string initialTime(clDateTime(2000, 1, 1, 0, 0, 0, 0).Format().view());
        bool sawRamp = false;
        for (const std::string& line : lines) {
            const std::vector<std::string> fields = SplitFields(line);
            ASSERT_EQ(fields.size(), 6u) << line;
            EXPECT_EQ(fields[0], kSimulator);
            EXPECT_EQ(fields[1], "Fast");
            EXPECT_EQ(fields[4], "Good") << line;
            EXPECT_NE(fields[5], initialTime) << line;
            if (fields[2] == "Ramp") {
                sawRamp = true;
                char* end = nullptr;
                std::strtod(fields[3].c_str(), &end);
                EXPECT_TRUE(!fields[3].empty() && *end == '\0') << line;
            } else {
                EXPECT_EQ(fields[2], "Text\\tsignal") << line;
                EXPECT_FALSE(fields[3].empty()) << line;
            }
        }
        EXPECT_TRUE(sawRamp);
    }
};

TEST_F(WatchTest, PrintsEachAppliedUpdateAndSavesNothing) {
    const std::string path = WriteConfiguration();
    const std::string before = ReadText(path);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Run({"watch", path, "--seconds", "1"}), kExitOk) << err.str();
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::seconds(1));
    EXPECT_LT(took, std::chrono::seconds(10));
    ExpectUpdateLines(OutLines());
    // The server that is not registered is reported and its items get nothing.
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Failed connect to No.Such.Server"});
    EXPECT_NE(err.str().find("No.Such.Server is not connected"), std::string::npos) << err.str();
    EXPECT_EQ(ReadText(path), before);

    // A file that cannot be read: the application's message, exit 1.
    EXPECT_EQ(Run({"watch", Path("missing.tgv").string(), "--seconds", "0"}), kExitFailed);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(ui.MessageCount(), 1u);
}

TEST(StopSignals, SignalsAreTakenInWhileWatchedAndHandedBackAfter) {
    struct sigaction before {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &before), 0);
    {
        const StopSignals stop;
        EXPECT_FALSE(stop.Stopped());
        ASSERT_EQ(::raise(SIGINT), 0);
        EXPECT_TRUE(stop.Stopped());
        EXPECT_TRUE(stop.Stopped());  // stays stopped
        ASSERT_EQ(::raise(SIGTERM), 0);
        EXPECT_THROW(StopSignals(), std::system_error);  // one watcher at a time
    }
    struct sigaction after {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    const StopSignals again;
    EXPECT_FALSE(again.Stopped());
}

TEST_F(WatchTest, ProgramRunsForItsSecondsAndExitsZero) {
    const std::string path = WriteConfiguration();
    const std::string before = ReadText(path);
    ChildProcess tool(TGVTOOL_PATH, {"watch", path, "--seconds", "2"}, Path("out.txt"),
                      Path("err.txt"));
    ASSERT_TRUE(tool.Started());
    EXPECT_EQ(tool.Wait(std::chrono::seconds(20)), kExitOk) << ReadText(Path("err.txt"));
    ExpectUpdateLines(SplitLines(ReadText(Path("out.txt"))));
    const std::string errors = ReadText(Path("err.txt"));
    EXPECT_NE(errors.find("Failed connect to No.Such.Server [OK] -> OK"), std::string::npos)
        << errors;
    EXPECT_EQ(ReadText(path), before);
}

TEST_F(WatchTest, ProgramEndsCleanlyOnSigint) {
    const std::string path = WriteConfiguration();
    const std::string before = ReadText(path);
    ChildProcess tool(TGVTOOL_PATH, {"watch", path}, Path("out.txt"), Path("err.txt"));
    ASSERT_TRUE(tool.Started());
    // Running and printing first.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadText(Path("out.txt")).find('\n') == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(ReadText(Path("out.txt")).find('\n'), std::string::npos) << ReadText(Path("err.txt"));
    ASSERT_EQ(::kill(tool.Pid(), SIGINT), 0);
    EXPECT_EQ(tool.Wait(std::chrono::seconds(10)), kExitOk) << ReadText(Path("err.txt"));
    const std::string output = ReadText(Path("out.txt"));
    ASSERT_EQ(output.back(), '\n');  // no line cut short
    ExpectUpdateLines(SplitLines(output));
    EXPECT_EQ(ReadText(path), before);
}

}  // namespace
