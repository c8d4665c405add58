// The servers and browse commands against a real opcsim registered in a private registry, run
// in process; and the escaping of the fields they print.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "com/guid.h"
#include "com/reg_file.h"
#include "com/registry.h"
#include "opcda/ids.h"
#include "tgvtool/field_text.h"
#include "tools/server_fixture.h"

namespace {

using tools_test::kSimulator;
using tools_test::ServerCommandTest;
using Lines = std::vector<std::string>;

// Another node's registry that is this machine's, reached under one node name only.
class LoopbackRegistry final : public IRemoteRegistryProvider {
  public:
    explicit LoopbackRegistry(std::string node) : node_(std::move(node)) {}

    LSTATUS Connect(const std::string& node, std::shared_ptr<IRemoteRegistryHive>& hive) override {
        if (node != node_) {
            return ERROR_BAD_NETPATH;
        }
        hive = std::make_shared<Hive>();
        return ERROR_SUCCESS;
    }

  private:
    class Hive final : public IRemoteRegistryHive {
      public:
        LSTATUS OpenKey(const std::string& keyPath) override {
            HKEY key = nullptr;
            const LSTATUS status =
                RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key);
            if (status == ERROR_SUCCESS) {
                RegCloseKey(key);
            }
            return status;
        }
        LSTATUS QueryValue(const std::string& keyPath, const std::string& valueName, DWORD& type,
                           std::vector<BYTE>& data) override {
            HKEY key = nullptr;
            LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key);
            if (status != ERROR_SUCCESS) {
                return status;
            }
            DWORD size = 0;
            status = RegQueryValueExA(key, valueName.c_str(), nullptr, &type, nullptr, &size);
            if (status == ERROR_SUCCESS) {
                data.resize(size);
                status =
                    RegQueryValueExA(key, valueName.c_str(), nullptr, &type, data.data(), &size);
            }
            RegCloseKey(key);
            return status;
        }
        LSTATUS EnumKey(const std::string& keyPath, DWORD index, std::string& name) override {
            HKEY key = nullptr;
            LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key);
            if (status != ERROR_SUCCESS) {
                return status;
            }
            char buffer[256] = {};
            DWORD size = sizeof buffer;
            status = RegEnumKeyExA(key, index, buffer, &size, nullptr, nullptr, nullptr, nullptr);
            RegCloseKey(key);
            if (status == ERROR_SUCCESS) {
                name.assign(buffer, size);
            }
            return status;
        }
    };

    std::string node_;
};

class ScopedRemoteRegistry {
  public:
    explicit ScopedRemoteRegistry(std::shared_ptr<IRemoteRegistryProvider> provider)
        : previous_(SetRemoteRegistryProvider(std::move(provider))) {}
    ~ScopedRemoteRegistry() { SetRemoteRegistryProvider(previous_); }
    ScopedRemoteRegistry(const ScopedRemoteRegistry&) = delete;
    ScopedRemoteRegistry& operator=(const ScopedRemoteRegistry&) = delete;

  private:
    std::shared_ptr<IRemoteRegistryProvider> previous_;
};

// Registers a class with a ProgID in the given categories (implemented, then required).
void RegisterClass(const std::string& file, const std::string& clsid, const std::string& progId,
                   const std::vector<CATID>& implemented, const std::vector<CATID>& required) {
    std::vector<RegFileKey> keys;
    const auto add = [&keys](std::string subKey, std::vector<RegFileValue> values) {
        RegFileKey key;
        key.root = RegRoot::ClassesRoot;
        key.subKey = std::move(subKey);
        key.values = std::move(values);
        keys.push_back(std::move(key));
    };
    add(progId + "\\Clsid", {RegFileValue::String("", clsid)});
    add("CLSID\\" + clsid + "\\ProgID", {RegFileValue::String("", progId)});
    for (const CATID& category : implemented) {
        add("CLSID\\" + clsid + "\\Implemented Categories\\" + GuidToString(category), {});
    }
    for (const CATID& category : required) {
        add("CLSID\\" + clsid + "\\Required Categories\\" + GuidToString(category), {});
    }
    ASSERT_EQ(RegistryWriteFile(RegistryUserDirectory() / file, keys), ERROR_SUCCESS);
}

TEST(FieldText, SeparatorsAndControlCharactersAreEscaped) {
    EXPECT_EQ(FieldText("Température €"), "Température €");
    EXPECT_EQ(FieldText("a\tb\nc\rd\\e"), "a\\tb\\nc\\rd\\\\e");
    EXPECT_EQ(FieldText(std::string("\0\x1f\x7f", 3)), "\\x00\\x1f\\x7f");
    EXPECT_EQ(TabLine({"leaf", "x\ty", ""}), "leaf\tx\\ty\t\n");
    EXPECT_EQ(TabLine({}), "\n");
}

TEST_F(ServerCommandTest, ServersListsTheDa20ServersSortedHereAndOnANode) {
    RegisterClass("more.reg", "{0C5A1F00-0000-4000-8000-000000000001}", "zeta.Server.1",
                  {CATID_OPCDAServer20}, {});
    RegisterClass("more2.reg", "{0C5A1F00-0000-4000-8000-000000000002}", "Alpha.Server.1",
                  {CATID_OPCDAServer10, CATID_OPCDAServer20}, {});
    // Only DA 1.0, or requiring a category the client does not name: not listed.
    RegisterClass("more3.reg", "{0C5A1F00-0000-4000-8000-000000000003}", "Old.Server.1",
                  {CATID_OPCDAServer10}, {});
    RegisterClass("more4.reg", "{0C5A1F00-0000-4000-8000-000000000004}", "Picky.Server.1",
                  {CATID_OPCDAServer20}, {CATID_OPCDAServer10});
    const Lines expected = {"Alpha.Server.1", kSimulator, "zeta.Server.1"};

    ASSERT_EQ(Run({"servers"}), kExitOk) << err.str();
    EXPECT_EQ(OutLines(), expected);
    EXPECT_EQ(err.str(), "");

    // The same registry read as another node's.
    const ScopedRemoteRegistry remote(std::make_shared<LoopbackRegistry>("plant:5135"));
    ASSERT_EQ(Run({"servers", "--node", "plant:5135"}), kExitOk) << err.str();
    EXPECT_EQ(OutLines(), expected);

    EXPECT_EQ(Run({"servers", "--node", "elsewhere"}), kExitFailed);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("'elsewhere'"), std::string::npos) << err.str();
}

TEST_F(ServerCommandTest, BrowseListsBranchesThenLeavesWithTheirItemIds) {
    ASSERT_EQ(Run({"browse", kSimulator}), kExitOk) << err.str();
    EXPECT_EQ(OutLines(), (Lines{"branch\tSignals", "branch\tStatic", "branch\tAccess",
                                 "branch\tPlant", "branch\tDotted.Branch", "branch\tLoad"}));

    ASSERT_EQ(Run({"browse", kSimulator, "--path", "Plant"}), kExitOk) << err.str();
    EXPECT_EQ(OutLines(), (Lines{"branch\tArea1", "branch\tArea2"}));

    ASSERT_EQ(Run({"browse", "--path", "Plant.Area1.Line1", kSimulator}), kExitOk) << err.str();
    EXPECT_EQ(OutLines(), (Lines{"leaf\tTemperature\tPlant.Area1.Line1.Temperature",
                                 "leaf\tPressure\tPlant.Area1.Line1.Pressure",
                                 "leaf\tRunning\tPlant.Area1.Line1.Running"}));

    // A branch whose own name holds the path's separator is still reached.
    ASSERT_EQ(Run({"browse", kSimulator, "--path", "Dotted.Branch"}), kExitOk) << err.str();
    EXPECT_EQ(OutLines(), (Lines{"leaf\tValue\tDotted.Branch.Value"}));

    ASSERT_EQ(Run({"browse", kSimulator, "--path", "Signals"}), kExitOk) << err.str();
    const Lines signals = OutLines();
    ASSERT_EQ(signals.size(), 7u);
    EXPECT_EQ(signals.front(), "leaf\tRamp\tSignals.Ramp");
    EXPECT_EQ(ui.MessageCount(), 0u);
}

TEST_F(ServerCommandTest, BrowseRefusesPathsThatNameNoBranchAndServersItCannotReach) {
    for (const char* path :
         {"Nope", "Plant.Area3", "Plant.", "Plant..Area1", ".Plant", "Dotted", "Signals.Ramp"}) {
        EXPECT_EQ(Run({"browse", kSimulator, "--path", path}), kExitFailed) << path;
        EXPECT_EQ(out.str(), "") << path;
        EXPECT_NE(err.str().find("no branch"), std::string::npos) << path << ": " << err.str();
    }
    // The path is named as given, with its separators escaped.
    EXPECT_EQ(Run({"browse", kSimulator, "--path", "Plant.A\tx"}), kExitFailed);
    EXPECT_NE(err.str().find("'Plant.A\\tx'"), std::string::npos) << err.str();

    EXPECT_EQ(Run({"browse", "No.Such.Server"}), kExitFailed);
    EXPECT_EQ(ui.MessageTexts(), Lines{"Failed connect to No.Such.Server"});
    EXPECT_NE(err.str().find("cannot connect to No.Such.Server"), std::string::npos);

    // Nothing answers for the node: no message box, the tool says so.
    const ScopedRemoteRegistry remote(std::make_shared<LoopbackRegistry>("plant"));
    EXPECT_EQ(Run({"browse", kSimulator, "--node", "nowhere"}), kExitFailed);
    EXPECT_NE(err.str().find("on 'nowhere'"), std::string::npos) << err.str();
}

TEST_F(ServerCommandTest, BadArgumentsAreUsageErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {"servers", "extra"},
        {"servers", "--node"},
        {"servers", "--node", ""},
        {"servers", "--path", "A"},
        {"browse"},
        {"browse", ""},
        {"browse", "A", "B"},
        {"browse", kSimulator, "--path"},
        {"browse", kSimulator, "--path", "A", "--path", "B"},
        {"browse", kSimulator, "--seconds", "1"},
        {"watch"},
        {"watch", "a.tgv", "b.tgv"},
        {"watch", "a.tgv", "--seconds"},
        {"watch", "a.tgv", "--seconds", "-1"},
        {"watch", "a.tgv", "--seconds", "1.5"},
        {"watch", "a.tgv", "--seconds", "x"},
        {"watch", "a.tgv", "--seconds", "99999999999"},
        {"watch", "a.tgv", "--node", "h"},
    };
    for (const auto& args : bad) {
        EXPECT_EQ(Run(args), kExitUsage) << args.size() << " " << args[0];
        EXPECT_EQ(out.str(), "");
        EXPECT_NE(err.str().find("tgvtool --help"), std::string::npos) << err.str();
    }
    // Nothing was started for them.
    EXPECT_TRUE(provider->RunningChildren().empty());
}

}  // namespace
