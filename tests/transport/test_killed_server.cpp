// A server process killed in the middle of a session: the document over a real opcsim keeps
// working, the calls that follow fail as disconnected within a bounded time, and every record
// stays and is saved.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "com/apartment.h"
#include "document/browse_dlg.h"
#include "document/doc.h"
#include "document/item_commands.h"
#include "document/offline_doc.h"
#include "document/scripted_dialogs.h"
#include "document/write_dlg.h"
#include "framework/format.h"
#include "framework/scripted_dialog.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "model/server_record.h"
#include "opc/opc_group.h"
#include "opc/opc_item.h"
#include "opc/runtime_fixture.h"
#include "opcda/group.h"
#include "rpc/local_server_provider.h"
#include "transport/process_helpers.h"

namespace {

using transport_test::RunProgram;
using Clock = std::chrono::steady_clock;

// The stored fields of the records, one line per record, in list order.
std::vector<std::string> RecordLines(const CDoc& doc) {
    std::vector<std::string> lines;
    lines.push_back(Format("counters %d %d %d %d", doc.nextItemId, doc.nextGroupId,
                           doc.nextServerId, doc.nextServerNumber));
    for (const auto& server : doc.serverList.ServerRecords()) {
        lines.push_back(Format("server %d %s [%s] %d %d", server->id, server->serverName.c_str(),
                               server->nodeName.c_str(), server->remote, server->nextGroupNumber));
        for (const auto& group : server->Groups()) {
            lines.push_back(Format("group %d %d %s %d %d", group->id, group->serverId,
                                   group->name.c_str(), group->updateRate, group->active));
            for (const auto& item : group->Items()) {
                lines.push_back(Format("item %d %s %s %d %d %u %.17g [%s] %s %zu", item->id,
                                       item->displayName.c_str(), item->opcItemId.c_str(),
                                       item->canonicalType, item->requestedType, item->accessRights,
                                       item->value, item->valueText.c_str(),
                                       std::string(item->timestamp.Format().view()).c_str(),
                                       item->history.GetCount()));
            }
        }
    }
    return lines;
}

clBaseOPCGroup* FindGroup(const CDoc& doc, const std::string& name) {
    for (const auto& server : doc.serverList.ServerRecords()) {
        for (const auto& group : server->Groups()) {
            if (group->name == name) {
                return group.get();
            }
        }
    }
    return nullptr;
}

clBaseOPCItem* FindItem(const clBaseOPCGroup& group, const std::string& itemId) {
    for (const auto& item : group.Items()) {
        if (item->opcItemId == itemId) {
            return item.get();
        }
    }
    return nullptr;
}

// How long a call took.
Clock::duration Timed(const std::function<void()>& call) {
    const auto started = Clock::now();
    call();
    return Clock::now() - started;
}

constexpr auto kBound = std::chrono::seconds(3);

class KilledServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = SetLocalServerProvider(provider);
        ASSERT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer"}), 0);
        doc.SetDialogs(&dialogs);
        ASSERT_TRUE(doc.OnNewDocument());
    }
    void TearDown() override { SetLocalServerProvider(previous_); }

    // Selects the group, as the tree view does.
    void SelectGroup(clBaseOPCGroup* group) {
        doc.currentGroup = group;
        doc.groupSelected = group != nullptr;
    }

    void AddGroup(const std::string& name, std::int32_t updateRate) {
        dialogs.QueueGroupDialog(IDOK, [name, updateRate](clBaseOPCGroup& group) {
            group.name = name;
            group.updateRate = updateRate;
        });
        doc.OnNewGroup();
    }

    // Adds the leaves of a branch to the selected group through the new items dialog.
    void AddLeaves(const std::string& branch, const std::vector<std::string>& leaves) {
        dialogs.QueueNewItems(IDOK, [branch, leaves](CDoc& document, clBaseOPCGroup& group) {
            CBrowseDlg dlg(document, group);
            dlg.OnInitDialog();
            for (const std::size_t node : dlg.Nodes()[CBrowseDlg::kRoot].children) {
                if (dlg.Nodes()[node].label == branch) {
                    dlg.OnSelectionChanged(node);
                }
            }
            for (std::size_t row = 0; row < dlg.Leaves().size(); ++row) {
                for (const std::string& leaf : leaves) {
                    if (dlg.Leaves()[row].name == leaf) {
                        dlg.SetLeafChosen(row, true);
                    }
                }
            }
            EXPECT_EQ(dlg.OnAdd(), static_cast<int>(leaves.size()));
        });
        doc.OnNewItems();
    }

    // Drains the apartment until every item record has a good quality, or the time is up.
    bool WaitForGoodValues(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        const auto allGood = [this] {
            for (const auto& server : doc.serverList.ServerRecords()) {
                for (const auto& group : server->Groups()) {
                    for (const auto& item : group->Items()) {
                        if (item->quality != 0xC0) {
                            return false;
                        }
                    }
                }
            }
            return true;
        };
        while (!allGood() && Clock::now() < deadline) {
            Apartment::Ui().WaitAndDrain(std::chrono::milliseconds(50));
        }
        return allGood();
    }

    std::filesystem::path SavePath() const {
        return std::filesystem::temp_directory_path() /
               ("tgv-killed-server-" + std::to_string(::getpid()) + ".tgv");
    }

    ScopedRegistryDirectory registry;
    ScriptedUiServices ui;
    ScopedUiServices installed{ui};
    ScriptedDocumentDialogs dialogs;
    ScriptedDialogHost dialogHost;
    ScopedDialogHost hostInstalled{dialogHost};
    std::shared_ptr<LocalServerProcessProvider> provider =
        std::make_shared<LocalServerProcessProvider>();
    CDoc doc;

  private:
    std::shared_ptr<ILocalServerProvider> previous_;
};

TEST_F(KilledServerTest, CallsFailAsDisconnectedAndEveryRecordIsSaved) {
    // A session: one server, two groups with items, values arriving.
    dialogs.QueueServer(kSimulatorProgId);
    doc.OnNewServer();
    ASSERT_EQ(doc.serverList.ServerRecords().size(), 1u) << ui.MessageTexts().size();
    doc.currentServer = doc.serverList.ServerRecords().front().get();
    doc.serverSelected = true;
    AddGroup("Fast", 100);
    AddGroup("Slow", 200);
    clBaseOPCGroup* const fast = FindGroup(doc, "Fast");
    clBaseOPCGroup* const slow = FindGroup(doc, "Slow");
    ASSERT_TRUE(fast != nullptr && slow != nullptr && fast->liveGroup != nullptr);
    SelectGroup(fast);
    AddLeaves("Static", {"Double", "Int32"});
    SelectGroup(slow);
    AddLeaves("Signals", {"Ramp"});
    ASSERT_TRUE(WaitForGoodValues(std::chrono::seconds(5)));
    ASSERT_EQ(ui.MessageCount(), 0u) << ui.MessageTexts().front();

    // The server process dies without a word.
    const std::vector<pid_t> children = provider->RunningChildren();
    ASSERT_EQ(children.size(), 1u);
    ASSERT_EQ(::kill(children[0], SIGKILL), 0);
    ASSERT_TRUE(provider->WaitForExit(children[0], std::chrono::seconds(5)));
    Apartment::Ui().WaitAndDrain(std::chrono::milliseconds(100));
    const std::vector<std::string> before = RecordLines(doc);

    // A write goes nowhere, silently as every failed write; the group's interface says why.
    clBaseOPCItem* const target = FindItem(*fast, "Static.Double");
    ASSERT_NE(target, nullptr);
    doc.currentItem = target;
    SelectGroup(fast);
    dialogHost.QueueOk<CWriteDlg>(
        [](CWriteDlg& dlg) { dlg.controls.SetText(CWriteDlg::IDC_VALUE, "42"); });
    EXPECT_LT(Timed([this] { OnItemWrite(doc); }), kBound);
    EXPECT_EQ(dialogHost.ShownNames(), std::vector<std::string>{"write"});
    EXPECT_EQ(ui.MessageCount(), 0u);
    COPCItem* const live = fast->liveGroup->FindItem(target->id);
    ASSERT_NE(live, nullptr);
    ComPtr<IOPCAsyncIO2> io;
    HRESULT hr = fast->liveGroup->GroupObject().As(io);
    if (SUCCEEDED(hr)) {
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_R8;
        value.dblVal = 42.0;
        OPCHANDLE handle = live->serverHandle;
        DWORD cancelId = 0;
        HRESULT* errors = nullptr;
        hr = io->Write(1, &handle, &value, 4112, &cancelId, &errors);
        EXPECT_EQ(errors, nullptr);
    }
    EXPECT_EQ(hr, RPC_E_DISCONNECTED);

    // A changed update rate is kept in the record; the server cannot take it.
    dialogs.QueueGroupDialog(IDOK, [](clBaseOPCGroup& group) { group.updateRate = 250; });
    EXPECT_LT(Timed([this] { doc.OnGroupProperties(); }), kBound);
    EXPECT_EQ(fast->updateRate, 250);
    EXPECT_EQ(ui.MessageCount(), 0u);
    ComPtr<IOPCGroupStateMgt> state;
    hr = fast->liveGroup->GroupObject().As(state);
    if (SUCCEEDED(hr)) {
        DWORD rate = 0;
        hr = state->SetState(&rate, &rate, nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    EXPECT_EQ(hr, RPC_E_DISCONNECTED);

    // Adding items: the dialog cannot list the branches, and an item added directly is refused
    // with the reason.
    SelectGroup(fast);
    dialogs.QueueNewItems(IDOK, [](CDoc& document, clBaseOPCGroup& group) {
        CBrowseDlg dlg(document, group);
        dlg.OnInitDialog();
        EXPECT_TRUE(dlg.Nodes()[CBrowseDlg::kRoot].children.empty());
        EXPECT_TRUE(dlg.Leaves().empty());
        EXPECT_EQ(dlg.OnAdd(), 0);
        auto item = std::make_unique<COPCItem>(*group.liveGroup);
        item->itemId = "Static.Float";
        EXPECT_EQ(group.liveGroup->AddItem(std::move(item)), nullptr);
    });
    EXPECT_LT(Timed([this] { doc.OnNewItems(); }), kBound);
    EXPECT_EQ(ui.MessageTexts(),
              (std::vector<std::string>{"Error from BrowseItemIDs",
                                        "Error from AddItems Static.Float (error 80010108)"}));

    // Deleting a group: the server cannot remove it, says so, and the record goes as always.
    ui.Clear();
    SelectGroup(slow);
    ui.QueueAnswer(IDYES);
    EXPECT_LT(Timed([this] { doc.OnDeleteGroup(); }), kBound);
    EXPECT_EQ(
        ui.MessageTexts(),
        (std::vector<std::string>{"Delete OPC Group ?", "Error from Remove Group Slow,80010108"}));
    EXPECT_EQ(FindGroup(doc, "Slow"), nullptr);

    // Everything else is saved as it was, with the new rate and without the deleted group.
    std::vector<std::string> expected;
    bool inSlow = false;
    for (const std::string& line : before) {
        if (line.starts_with("group ")) {
            inSlow = line.find(" Slow ") != std::string::npos;
        }
        if (inSlow) {
            continue;
        }
        expected.push_back(line.starts_with("group ") && line.find(" Fast ") != std::string::npos
                               ? Format("group %d %d Fast 250 1", fast->id, fast->serverId)
                               : line);
    }
    EXPECT_EQ(RecordLines(doc), expected);
    const std::string path = SavePath().string();
    ASSERT_TRUE(doc.OnSaveDocument(path));
    COfflineDoc saved;
    ASSERT_EQ(saved.Open(path), "");
    std::filesystem::remove(path);
    EXPECT_EQ(RecordLines(saved), expected);
    EXPECT_EQ(saved.serverList.ServerRecords().front()->Groups().front()->Items().size(), 2u);

    // Closing the document tears the dead server down without hanging; the group whose removal
    // failed is tried again.
    ui.Clear();
    EXPECT_LT(Timed([this] { doc.ResetContents(); }), kBound);
    EXPECT_EQ(ui.MessageTexts(),
              (std::vector<std::string>{"Error from Remove Group Fast,80010108",
                                        "Error from Remove Group Slow,80010108"}));
}

}  // namespace
