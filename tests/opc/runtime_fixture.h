#pragma once
// The test bed of the runtime: the in-process simulation server registered under its ProgID, a
// private registry, a scripted UI, and a document stand-in that records what the runtime asks
// of it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "com/malloc.h"
#include "com/variant.h"
#include "framework/scripted_ui.h"
#include "opc/opc_group.h"
#include "opc/opc_item.h"
#include "opc/opc_server.h"
#include "opc/runtime_host.h"
#include "sim/simulator.h"

using namespace std::chrono_literals;

// What the document does on a data change, reduced to a record of each call.
class RecordingHost final : public IRuntimeHost {
  public:
    struct Update {
        COPCItem* item;
        VARTYPE vt;
        double number;     // the value as a double, NaN when it is not a number
        std::string text;  // the text of a string value
        WORD quality;
        FILETIME timestamp;
    };

    void OnItemUpdate(COPCItem& item) override {
        const VARIANT& value = item.Value();
        VARIANT asDouble;
        VariantInit(&asDouble);
        double number = std::numeric_limits<double>::quiet_NaN();
        if (value.vt != VT_BSTR && SUCCEEDED(VariantChangeType(&asDouble, &value, 0, VT_R8))) {
            number = asDouble.dblVal;
        }
        const std::string text = value.vt == VT_BSTR ? BstrToUtf8(value.bstrVal) : std::string();
        updates.push_back({&item, value.vt, number, text, item.quality, item.timestamp});
    }
    bool IsGroupSelected() const override { return groupSelected; }
    void NotifyValuesChanged() override { ++notifications; }

    bool groupSelected = false;
    int notifications = 0;
    std::vector<Update> updates;
};

class ScopedRegistryDirectory {
  public:
    ScopedRegistryDirectory() {
        if (const char* old = std::getenv("TAGVISTA_REGISTRY")) {
            saved_ = old;
        }
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tgv-opc-registry-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            dir_ = pattern;
        }
        ::setenv("TAGVISTA_REGISTRY", dir_.c_str(), 1);
    }
    ~ScopedRegistryDirectory() {
        if (saved_) {
            ::setenv("TAGVISTA_REGISTRY", saved_->c_str(), 1);
        } else {
            ::unsetenv("TAGVISTA_REGISTRY");
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    ScopedRegistryDirectory(const ScopedRegistryDirectory&) = delete;
    ScopedRegistryDirectory& operator=(const ScopedRegistryDirectory&) = delete;

  private:
    std::filesystem::path dir_;
    std::optional<std::string> saved_;
};

class RuntimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(RegisterSimulatorInProcess(sim)));
        blocksAtStart = CoTaskMemLiveBlocks();
    }
    void TearDown() override { RevokeSimulatorInProcess(); }

    // A connected server with the host as its document.
    std::unique_ptr<COPCServer> Connected() {
        auto server = std::make_unique<COPCServer>(&host);
        server->progId = kSimulatorProgId;
        EXPECT_TRUE(server->Connect());
        return server;
    }

    COPCGroup* AddGroup(COPCServer& server, const std::string& name, DWORD updateRate = 1000) {
        auto group = std::make_unique<COPCGroup>(server);
        group->name = name;
        group->updateRate = updateRate;
        return server.AddGroup(std::move(group));
    }

    static COPCItem* AddItem(COPCGroup& group, const std::string& itemId, std::int32_t id = 0,
                             VARTYPE requested = VT_EMPTY) {
        auto item = std::make_unique<COPCItem>(group);
        item->itemId = itemId;
        item->itemIdNumber = id;
        item->requestedType = requested;
        return group.AddItem(std::move(item));
    }

    std::size_t LeakedTaskBlocks() const { return CoTaskMemLiveBlocks() - blocksAtStart; }

    ScopedRegistryDirectory registry;
    ScriptedUiServices ui;
    ScopedUiServices installed{ui};
    Simulator sim;
    RecordingHost host;
    std::size_t blocksAtStart = 0;
};
