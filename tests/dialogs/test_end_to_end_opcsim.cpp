// The whole path through the real dialogs against a real opcsim process: a new configuration,
// the server picked in the server dialog, a group, items added from browsing, live values, a
// write through the write dialog, save, reopen, and values flowing again.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <QListWidget>
#include <QTreeWidget>

#include "dialog_driver.h"
#include "document/browse_dlg.h"
#include "document/doc.h"
#include "document/document_fixture.h"
#include "document/group_dlg.h"
#include "document/item_commands.h"
#include "document/model_dialogs.h"
#include "document/server_dlg.h"
#include "document/write_dlg.h"
#include "framework/scripted_ui.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "model/server_record.h"
#include "rpc/providers.h"
#include "transport/process_helpers.h"
#include "ui/qt_dialog_host.h"

namespace {

using namespace dialogs_test;

class EndToEndOpcsim : public ::testing::Test {
  protected:
    void SetUp() override {
        tgv::rpc::InstallTransportProviders();
        ASSERT_EQ(transport_test::RunProgram(OPCSIM_PATH, {"-RegServer"}), 0);
    }

    // A fresh document showing its dialogs through the Qt host.
    std::unique_ptr<CDoc> NewDoc() {
        auto doc = std::make_unique<CDoc>();
        doc->SetDialogs(&modelDialogs);
        return doc;
    }

    static clBaseOPCItem* FindItem(const CDoc& doc, const std::string& itemId) {
        for (const auto& server : doc.serverList.ServerRecords()) {
            for (const auto& group : server->Groups()) {
                for (const auto& item : group->Items()) {
                    if (item->opcItemId == itemId) {
                        return item.get();
                    }
                }
            }
        }
        return nullptr;
    }

    // True once the item has shown two different good values from the server.
    static bool ValuesFlow(const clBaseOPCItem& item) {
        double first = 0.0;
        bool seen = false;
        return WaitUntil([&] {
            if (item.quality != 0xC0) {
                return false;
            }
            if (!seen) {
                first = item.value;
                seen = true;
            }
            return item.value != first;
        });
    }

    std::string Messages() const {
        std::string all;
        for (const std::string& text : ui.MessageTexts()) {
            all += text + "\n";
        }
        return all;
    }

    ScopedRegistry registry;
    ScopedTempDirectory files;
    ScriptedUiServices ui;
    ScopedUiServices installedUi{ui};
    CModelDocumentDialogs modelDialogs;
    CQtDialogHost host;
    ScopedDialogHost installedHost{host};
    ModalWatchdog watchdog{120s};
};

TEST_F(EndToEndOpcsim, ConfigurationBuiltThroughTheDialogsKeepsLiveValuesAcrossSaveAndReopen) {
    std::unique_ptr<CDoc> doc = NewDoc();
    ASSERT_TRUE(doc->OnNewDocument());

    WhenModal([](QDialog& d) {
        auto* list = Control<QListWidget>(d, CServerDlg::IDC_SERVER_LIST);
        ASSERT_NE(list, nullptr);
        const auto found = list->findItems(kSimulatorProgId, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        list->setCurrentItem(found.front());
        Click(d, IDOK);
    });
    doc->OnNewServer();
    ASSERT_EQ(doc->serverList.ServerRecords().size(), 1u) << Messages();
    clBaseOPCServer* server = doc->serverList.ServerRecords().front().get();
    ASSERT_NE(server->liveServer, nullptr);

    doc->currentServer = server;
    doc->serverSelected = true;
    WhenModal([](QDialog& d) {
        Type(d, CGroupDlg::IDC_NAME, "Live");
        Type(d, CGroupDlg::IDC_UPDATE_RATE, "100");
        if (!Checked(d, CGroupDlg::IDC_ACTIVE)) {
            Click(d, CGroupDlg::IDC_ACTIVE);
        }
        Click(d, IDOK);
    });
    doc->OnNewGroup();
    ASSERT_EQ(server->Groups().size(), 1u) << Messages();
    clBaseOPCGroup* group = server->Groups().front().get();
    ASSERT_NE(group->liveGroup, nullptr);

    doc->ClearSelection();
    doc->currentServer = server;
    doc->currentGroup = group;
    doc->groupSelected = true;
    WhenModal([](QDialog& d) {
        auto* tree = Control<QTreeWidget>(d, CBrowseDlg::kIdTree);
        CItemGrid* grid = GridOf(d);
        ASSERT_NE(tree, nullptr);
        ASSERT_NE(grid, nullptr);
        QTreeWidgetItem* root = tree->topLevelItem(0);
        ASSERT_NE(root, nullptr);
        tree->expandItem(root);
        const auto pick = [&](const char* branch, std::initializer_list<const char*> leaves) {
            for (int i = 0; i < root->childCount(); ++i) {
                if (root->child(i)->text(0) == branch) {
                    tree->setCurrentItem(root->child(i));
                }
            }
            grid->ClearSelection();
            for (const char* leaf : leaves) {
                const int row = FindRow(*grid, leaf);
                ASSERT_GE(row, 0) << leaf;
                grid->SelectBlock(0, row, 0, row);
            }
            Click(d, CBrowseDlg::kIdAdd);
        };
        pick("Signals", {"Ramp", "Counter"});
        pick("Static", {"Float"});
        Click(d, CBrowseDlg::kIdExit);
    });
    doc->OnNewItems();
    ASSERT_EQ(group->Items().size(), 3u) << Messages();
    clBaseOPCItem* counter = FindItem(*doc, "Signals.Counter");
    clBaseOPCItem* value = FindItem(*doc, "Static.Float");
    ASSERT_NE(counter, nullptr);
    ASSERT_NE(value, nullptr);
    EXPECT_NE(FindItem(*doc, "Signals.Ramp"), nullptr);
    EXPECT_TRUE(ValuesFlow(*counter)) << Messages();

    // A write through the dialog comes back from the server as the item's value.
    doc->currentItem = value;
    WhenModal([](QDialog& d) {
        Type(d, CWriteDlg::IDC_VALUE, "42");
        Click(d, IDOK);
    });
    OnItemWrite(*doc);
    EXPECT_TRUE(WaitUntil([&] { return value->value == 42.0; })) << value->value;

    const std::string path = files.Path("live.tgv");
    ASSERT_TRUE(doc->OnSaveDocument(path));
    doc.reset();
    Apartment::Ui().Drain();

    std::unique_ptr<CDoc> reopened = NewDoc();
    ASSERT_TRUE(reopened->OnOpenDocument(path)) << Messages();
    ASSERT_EQ(reopened->serverList.ServerRecords().size(), 1u);
    const clBaseOPCServer& again = *reopened->serverList.ServerRecords().front();
    ASSERT_EQ(again.Groups().size(), 1u);
    EXPECT_EQ(again.Groups().front()->name, "Live");
    EXPECT_EQ(again.Groups().front()->updateRate, 100);
    EXPECT_EQ(again.Groups().front()->Items().size(), 3u);
    clBaseOPCItem* counterAgain = FindItem(*reopened, "Signals.Counter");
    ASSERT_NE(counterAgain, nullptr);
    EXPECT_TRUE(ValuesFlow(*counterAgain)) << Messages();
    EXPECT_EQ(ui.MessageCount(), 0u) << Messages();
    reopened.reset();
    Apartment::Ui().Drain();
}

}  // namespace
