// The real Qt dialogs over the in-process simulation server, each driven once end to end as the
// operator would: controls found by their ids, texts typed, buttons clicked.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <QLineEdit>
#include <QListWidget>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

#include "dialog_driver.h"
#include "document/browse_dlg.h"
#include "document/document_fixture.h"
#include "document/group_dlg.h"
#include "document/history_dlg.h"
#include "document/item_commands.h"
#include "document/model_dialogs.h"
#include "document/server_dlg.h"
#include "document/server_properties_dlg.h"
#include "document/tag_dlg.h"
#include "document/write_dlg.h"
#include "framework/hints.h"
#include "ui/history_dialog.h"
#include "ui/qt_dialog_host.h"

namespace {

using namespace dialogs_test;

class QtDialogsTest : public DocumentTest {
  protected:
    void SetUp() override {
        DocumentTest::SetUp();
        doc.SetDialogs(&modelDialogs);
    }

    // Adds the simulation server through the server dialog, picking it from the list.
    clBaseOPCServer* AddServerFromList() {
        WhenModal([](QDialog& d) {
            auto* list = Control<QListWidget>(d, CServerDlg::IDC_SERVER_LIST);
            ASSERT_NE(list, nullptr);
            const auto found = list->findItems(kSimulatorProgId, Qt::MatchExactly);
            ASSERT_EQ(found.size(), 1);
            list->setCurrentItem(found.front());
            Click(d, IDOK);
        });
        const std::int32_t id = doc.nextServerId;
        doc.OnNewServer();
        return doc.serverList.FindServerRecord(id);
    }

    // A server, a group and one item, selected as the grid's context menu does.
    clBaseOPCItem* SelectedItem(const std::string& itemId) {
        clBaseOPCServer* server = AddServerFromList();
        if (server == nullptr) {
            return nullptr;
        }
        doc.SetDialogs(&dialogs);
        clBaseOPCGroup* group = AddGroup(*server, "G", 1000);
        doc.SetDialogs(&modelDialogs);
        if (group == nullptr) {
            return nullptr;
        }
        clBaseOPCItem* item = AddItem(*group, itemId);
        SelectGroup(*server, *group);
        doc.currentItem = item;
        return item;
    }

    static std::vector<std::string> Remarks(const clBaseOPCItem& item) {
        std::vector<std::string> remarks;
        item.history.ForEach([&](const clHistorical& s) { remarks.push_back(s.remark); });
        return remarks;
    }

    CModelDocumentDialogs modelDialogs;
    CQtDialogHost qtHost;
    ScopedDialogHost installedHost{qtHost};
    ModalWatchdog watchdog{20s};
};

// A model the host has no dialog for.
class UnknownModel final : public IDialogModel {
  public:
    std::string_view GetDialogName() const override { return "unknown"; }
    void OnInitDialog() override { ++inits; }
    void OnCancel() override { ++cancels; }
    int inits = 0;
    int cancels = 0;
};

TEST_F(QtDialogsTest, UnknownModelIsCancelledWithoutOpeningAnything) {
    UnknownModel model;
    EXPECT_EQ(DoModal(model), IDCANCEL);
    EXPECT_EQ(model.inits, 0);
    EXPECT_EQ(model.cancels, 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(QtDialogsTest, ServerIsAddedFromTheListAndItsPropertiesShown) {
    WhenModal([this](QDialog& d) {
        EXPECT_EQ(d.windowTitle().toStdString(), CServerDlg::kCaption);
        // Local state: the remote edits are off, nothing is selected, and OK is refused.
        EXPECT_FALSE(Enabled(d, CServerDlg::IDC_HOST_NAME));
        EXPECT_FALSE(Enabled(d, CServerDlg::IDC_PROG_ID));
        EXPECT_FALSE(Checked(d, CServerDlg::IDC_REMOTE));
        Click(d, IDOK);
        EXPECT_TRUE(d.isVisible());
        EXPECT_TRUE(ui.WasShown(CServerDlg::kNoSelectionText));

        // Remote typed, then switched off again: the typed texts are ignored.
        Click(d, CServerDlg::IDC_REMOTE);
        EXPECT_TRUE(Enabled(d, CServerDlg::IDC_HOST_NAME));
        EXPECT_TRUE(Enabled(d, CServerDlg::IDC_PROG_ID));
        Type(d, CServerDlg::IDC_HOST_NAME, "far-away");
        Type(d, CServerDlg::IDC_PROG_ID, "Other.Server.1");
        Click(d, CServerDlg::IDC_REMOTE);
        EXPECT_FALSE(Enabled(d, CServerDlg::IDC_HOST_NAME));

        auto* list = Control<QListWidget>(d, CServerDlg::IDC_SERVER_LIST);
        ASSERT_NE(list, nullptr);
        const auto found = list->findItems(kSimulatorProgId, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        list->setCurrentItem(found.front());
        Click(d, IDOK);
    });
    const std::int32_t id = doc.nextServerId;
    doc.OnNewServer();
    clBaseOPCServer* server = doc.serverList.FindServerRecord(id);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->GetPropertyText("servername"), kSimulatorProgId);
    EXPECT_EQ(server->GetPropertyText("nodename"), "");
    EXPECT_NE(server->liveServer, nullptr);

    // The properties: three read-only texts.
    SelectServer(*server);
    WhenModal([](QDialog& d) {
        EXPECT_EQ(Text(d, CServerPropertiesDlg::IDC_PROG_ID), kSimulatorProgId);
        EXPECT_EQ(Text(d, CServerPropertiesDlg::IDC_HOST), "");
        EXPECT_EQ(Text(d, CServerPropertiesDlg::IDC_CONNECTED), "Local");
        auto* edit = Control<QLineEdit>(d, CServerPropertiesDlg::IDC_PROG_ID);
        ASSERT_NE(edit, nullptr);
        EXPECT_TRUE(edit->isReadOnly());
        Click(d, IDOK);
    });
    doc.OnServerProperties();

    // Cancel adds nothing.
    WhenModal([](QDialog& d) { Click(d, IDCANCEL); });
    const std::size_t before = doc.serverList.ServerRecords().size();
    doc.OnNewServer();
    EXPECT_EQ(doc.serverList.ServerRecords().size(), before);
}

TEST_F(QtDialogsTest, GroupDialogRefusesBadFieldsAndCreatesTheGroup) {
    clBaseOPCServer* server = AddServerFromList();
    ASSERT_NE(server, nullptr);
    SelectServer(*server);
    WhenModal([this](QDialog& d) {
        EXPECT_EQ(d.windowTitle().toStdString(), CGroupDlg::kCaption);
        EXPECT_EQ(Text(d, CGroupDlg::IDC_NAME), "Group1");
        Type(d, CGroupDlg::IDC_NAME, "");
        Type(d, CGroupDlg::IDC_UPDATE_RATE, "fast");
        Click(d, IDOK);
        EXPECT_EQ(d.focusWidget(), Control<QLineEdit>(d, CGroupDlg::IDC_UPDATE_RATE));
        Type(d, CGroupDlg::IDC_UPDATE_RATE, "0");
        Click(d, IDOK);
        Type(d, CGroupDlg::IDC_NAME, "Pumps");
        Click(d, IDOK);
        EXPECT_TRUE(d.isVisible());
        // The operator's entries survive the refusals.
        EXPECT_EQ(Text(d, CGroupDlg::IDC_NAME), "Pumps");
        EXPECT_EQ(ui.MessageTexts(),
                  (std::vector<std::string>{kPromptPositiveInteger, CGroupDlg::kNameEmpty,
                                            CGroupDlg::kRateZero}));
        Type(d, CGroupDlg::IDC_UPDATE_RATE, "500");
        if (!Checked(d, CGroupDlg::IDC_ACTIVE)) {
            Click(d, CGroupDlg::IDC_ACTIVE);
        }
        Click(d, IDOK);
    });
    const std::int32_t id = doc.nextGroupId;
    doc.OnNewGroup();
    clBaseOPCGroup* group = server->FindGroup(id);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->name, "Pumps");
    EXPECT_EQ(group->updateRate, 500);
    EXPECT_EQ(group->active, 1);
    EXPECT_NE(group->liveGroup, nullptr);
}

TEST_F(QtDialogsTest, BrowseTreeUnfoldsLazilyAndAddPutsTheChosenLeavesIntoTheGroup) {
    clBaseOPCServer* server = AddServerFromList();
    ASSERT_NE(server, nullptr);
    doc.SetDialogs(&dialogs);
    clBaseOPCGroup* group = AddGroup(*server, "Items", 1000);
    doc.SetDialogs(&modelDialogs);
    ASSERT_NE(group, nullptr);
    SelectGroup(*server, *group);
    view.updates.clear();

    WhenModal([&](QDialog& d) {
        EXPECT_EQ(d.windowTitle().toStdString(), CBrowseDlg::kCaption);
        auto* tree = Control<QTreeWidget>(d, CBrowseDlg::kIdTree);
        CItemGrid* grid = GridOf(d);
        ASSERT_NE(tree, nullptr);
        ASSERT_NE(grid, nullptr);
        EXPECT_EQ(grid->GetMode(), CItemGrid::BrowseTagList);
        ASSERT_EQ(tree->topLevelItemCount(), 1);
        QTreeWidgetItem* root = tree->topLevelItem(0);
        EXPECT_EQ(root->text(0).toStdString(), kSimulatorProgId);
        EXPECT_FALSE(root->isExpanded());
        EXPECT_EQ(tree->currentItem(), nullptr);
        EXPECT_EQ(grid->GetRowCount(), 0);
        const auto child = [](QTreeWidgetItem* parent, const char* label) -> QTreeWidgetItem* {
            for (int i = 0; i < parent->childCount(); ++i) {
                if (parent->child(i)->text(0) == label) {
                    return parent->child(i);
                }
            }
            return nullptr;
        };
        QTreeWidgetItem* plant = child(root, "Plant");
        ASSERT_NE(plant, nullptr);
        EXPECT_EQ(plant->childCount(), 0);  // listed when the root unfolds
        tree->expandItem(root);
        EXPECT_EQ(plant->childCount(), 2);
        tree->expandItem(plant);
        QTreeWidgetItem* area1 = child(plant, "Area1");
        ASSERT_NE(area1, nullptr);
        EXPECT_NE(child(area1, "Line1"), nullptr);

        // Selecting a branch lists its leaves; criteria narrow them at the next selection.
        tree->setCurrentItem(child(root, "Static"));
        const int allStatic = grid->GetRowCount();
        EXPECT_GT(allStatic, 10);
        Type(d, CBrowseDlg::kIdCriteria, "Int16");
        tree->setCurrentItem(child(root, "Signals"));
        EXPECT_EQ(FindRow(*grid, "Ramp"), -1);
        tree->setCurrentItem(child(root, "Static"));
        ASSERT_EQ(grid->GetRowCount(), 2);  // Int16 and UInt16
        const int row = FindRow(*grid, "Int16");
        ASSERT_GE(row, 0);

        // Add with nothing selected adds nothing; then the chosen row, once without duplicates.
        grid->ClearSelection();
        Click(d, CBrowseDlg::kIdAdd);
        EXPECT_TRUE(group->Items().empty());
        grid->SelectBlock(0, row, 0, row);
        Click(d, CBrowseDlg::kIdAdd);
        Click(d, CBrowseDlg::kIdAdd);
        EXPECT_EQ(group->Items().size(), 1u);
        Click(d, CBrowseDlg::kIdAllowDuplicates);
        EXPECT_EQ(doc.allowDuplicateItems, 1);
        Click(d, CBrowseDlg::kIdAdd);
        EXPECT_EQ(group->Items().size(), 2u);
        Click(d, CBrowseDlg::kIdExit);
    });
    doc.OnNewItems();
    ASSERT_EQ(group->Items().size(), 2u);
    EXPECT_EQ(group->Items()[0]->opcItemId, "Static.Int16");
    EXPECT_NE(group->Items()[0]->id, group->Items()[1]->id);
    EXPECT_EQ(group->Items()[0]->state, clBaseOPCItem::stateValid);
    const std::vector<int> hints = view.Hints();
    EXPECT_EQ(std::count(hints.begin(), hints.end(), kHintListGroupItems), 2);
    EXPECT_TRUE(doc.IsModified());

    // The check box keeps the document's choice when the dialog opens again.
    WhenModal([](QDialog& d) {
        EXPECT_TRUE(Checked(d, CBrowseDlg::kIdAllowDuplicates));
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    doc.OnNewItems();
    EXPECT_EQ(group->Items().size(), 2u);
}

TEST_F(QtDialogsTest, TagDialogEnablingFollowsTheClicksAndOkStoresScalingAndHistory) {
    clBaseOPCItem* item = SelectedItem("Static.Float");
    ASSERT_NE(item, nullptr);
    doc.SetModifiedFlag(false);
    const std::vector<int> range = {CTagDlg::IDC_RAW_LOW, CTagDlg::IDC_RAW_HIGH,
                                    CTagDlg::IDC_SCALED_LOW, CTagDlg::IDC_SCALED_HIGH};
    WhenModal([&](QDialog& d) {
        EXPECT_EQ(d.windowTitle().toStdString(), CTagDlg::kCaption);
        EXPECT_EQ(Text(d, CTagDlg::IDC_ITEM_ID), "Static.Float");
        EXPECT_EQ(Text(d, CTagDlg::IDC_RAW_HIGH), "100");
        // Scaling off: only "Enable Scale" itself; history off: no size, no "Display".
        EXPECT_TRUE(Enabled(d, CTagDlg::IDC_SCALE_ENABLED));
        EXPECT_FALSE(Enabled(d, CTagDlg::IDC_LINEAR));
        EXPECT_FALSE(Enabled(d, CTagDlg::IDC_FACTOR));
        EXPECT_FALSE(Enabled(d, CTagDlg::IDC_HISTORY_SIZE));
        EXPECT_FALSE(Enabled(d, CTagDlg::IDC_DISPLAY));
        EXPECT_TRUE(Checked(d, CTagDlg::IDC_LINEAR));

        // A faulty number field stops the pull: the click changes no enabling.
        Click(d, CTagDlg::IDC_SCALE_ENABLED);
        for (const int id : range) {
            EXPECT_TRUE(Enabled(d, id)) << id;
        }
        Type(d, CTagDlg::IDC_RAW_LOW, "low");
        Click(d, CTagDlg::IDC_HISTORY_ENABLED);
        EXPECT_EQ(ui.LastMessage()->text, kPromptNumber);
        EXPECT_FALSE(Enabled(d, CTagDlg::IDC_HISTORY_SIZE));
        // The box shows the click that was refused; two more clicks clear and set it.
        EXPECT_TRUE(Checked(d, CTagDlg::IDC_HISTORY_ENABLED));
        Type(d, CTagDlg::IDC_RAW_LOW, "-5");
        Click(d, CTagDlg::IDC_HISTORY_ENABLED);
        EXPECT_FALSE(Enabled(d, CTagDlg::IDC_HISTORY_SIZE));
        Click(d, CTagDlg::IDC_HISTORY_ENABLED);
        EXPECT_TRUE(Enabled(d, CTagDlg::IDC_HISTORY_SIZE));
        EXPECT_TRUE(Enabled(d, CTagDlg::IDC_DISPLAY));

        // The radios are one pair, and the fields follow them.
        Click(d, CTagDlg::IDC_SCALE_FACTOR);
        EXPECT_FALSE(Checked(d, CTagDlg::IDC_LINEAR));
        EXPECT_TRUE(Checked(d, CTagDlg::IDC_SCALE_FACTOR));
        EXPECT_TRUE(Enabled(d, CTagDlg::IDC_FACTOR));
        for (const int id : range) {
            EXPECT_FALSE(Enabled(d, id)) << id;
        }
        Click(d, CTagDlg::IDC_SCALE_FACTOR);  // a second click keeps it checked
        EXPECT_TRUE(Checked(d, CTagDlg::IDC_SCALE_FACTOR));
        Type(d, CTagDlg::IDC_FACTOR, "2.5");

        Type(d, CTagDlg::IDC_HISTORY_SIZE, "0");
        Click(d, IDOK);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(ui.LastMessage()->text, CTagDlg::kHistoryTooSmall);
        Type(d, CTagDlg::IDC_HISTORY_SIZE, "1025");
        Click(d, IDOK);
        EXPECT_EQ(ui.LastMessage()->text, CTagDlg::kHistoryTooLarge);
        Type(d, CTagDlg::IDC_HISTORY_SIZE, "16");
        Type(d, CTagDlg::IDC_NAME, "Float tag");
        Click(d, IDOK);
    });
    EXPECT_EQ(OnItemProperties(doc), IDOK);
    EXPECT_EQ(item->displayName, "Float tag");
    EXPECT_TRUE(item->scaleEnabled);
    EXPECT_EQ(item->scaleType, clBaseOPCItem::scaleTypeFactor);
    EXPECT_EQ(item->scaleFactor, 2.5);
    EXPECT_EQ(item->rawMin, -5.0);
    EXPECT_TRUE(item->history.enabled);
    EXPECT_EQ(item->history.capacity, 16);
    EXPECT_TRUE(doc.IsModified());

    // Cancel after typing leaves the record alone.
    WhenModal([](QDialog& d) {
        Type(d, CTagDlg::IDC_NAME, "discarded");
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    EXPECT_EQ(OnItemProperties(doc), IDCANCEL);
    EXPECT_EQ(item->displayName, "Float tag");
}

TEST_F(QtDialogsTest, WrittenValueComesBackFromTheServer) {
    clBaseOPCItem* item = SelectedItem("Static.Float");
    ASSERT_NE(item, nullptr);
    sim.AdvanceTime(1000ms);
    WhenModal([this](QDialog& d) {
        EXPECT_EQ(d.windowTitle().toStdString(), CWriteDlg::kCaption);
        EXPECT_EQ(Text(d, CWriteDlg::IDC_TAG_NAME), "Static.Float");
        EXPECT_EQ(Text(d, CWriteDlg::IDC_VALUE), "0");
        Type(d, CWriteDlg::IDC_VALUE, "12,5");
        Click(d, IDOK);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{kPromptNumber}));
        Type(d, CWriteDlg::IDC_VALUE, "12.5");
        Click(d, IDOK);
    });
    OnItemWrite(doc);
    sim.AdvanceTime(0ms);
    sim.AdvanceTime(1000ms);
    EXPECT_EQ(item->value, 12.5);
    EXPECT_EQ(item->GetPropertyText("value"), "12.5");
}

TEST_F(QtDialogsTest, HistoryListsNewestFirstKeepsRemarksAndClearsFromTheTagDialog) {
    clBaseOPCItem* item = SelectedItem("Static.Float");
    ASSERT_NE(item, nullptr);
    item->history.enabled = true;
    item->history.overwrite = true;
    item->history.capacity = 20;
    int next = 1;
    const auto offer = [&](int count) {
        for (int i = 0; i < count; ++i, ++next) {
            item->history.AddSample(clDateTime{2026, 1, 1, 0, 0, next, 0}, next, 0xC0, true);
        }
    };
    offer(20);
    doc.SetModifiedFlag(false);

    // Opens "Display" from the tag dialog, runs script on the history dialog, then cancels.
    const auto display = [&](std::function<void(QDialog&, CHistoryDialog&)> script) {
        WhenModal([&](QDialog& tag) {
            WhenModal(
                [&](QDialog& h) {
                    auto* history = qobject_cast<CHistoryDialog*>(&h);
                    ASSERT_NE(history, nullptr);
                    script(h, *history);
                },
                &tag);
            Click(tag, CTagDlg::IDC_DISPLAY);
            Click(tag, IDCANCEL);
        });
        OnItemProperties(doc);
    };
    // Types text into a remark cell and ends the edit with Enter.
    const auto typeRemark = [](CItemGrid& grid, int row, const char* text) {
        ASSERT_EQ(grid.GotoCell(CHistoryDlg::kRemarkColumn, row), GRID_OK);
        ASSERT_EQ(grid.BeginCellEdit(), GRID_OK);
        QLineEdit* editor = nullptr;
        for (QLineEdit* edit : grid.GetTableView()->viewport()->findChildren<QLineEdit*>()) {
            editor = edit->isVisible() ? edit : editor;
        }
        ASSERT_NE(editor, nullptr);
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        QApplication::processEvents();
    };

    display([&](QDialog& h, CHistoryDialog& history) {
        EXPECT_EQ(h.windowTitle().toStdString(), "Historical Values: Static.Float");
        EXPECT_EQ(Text(h, CHistoryDlg::kIdTotal), "20");
        CItemGrid& grid = history.Grid();
        EXPECT_EQ(grid.GetMode(), CItemGrid::HistoryList);
        ASSERT_TRUE(WaitUntil([&] { return !history.IsListing(); }));
        ASSERT_EQ(grid.GetRowCount(), 20);
        EXPECT_EQ(CellText(grid, 0, 0), "1");
        EXPECT_EQ(CellText(grid, 2, 0), "20");  // the newest first
        EXPECT_EQ(CellText(grid, 2, 19), "1");
        EXPECT_EQ(CellText(grid, 3, 0), "Good");

        // A remark typed in place is stored in the sample the row shows; Enter ends the edit
        // without closing the dialog.
        typeRemark(grid, 2, "checked");
        EXPECT_TRUE(h.isVisible());
        EXPECT_EQ(CellText(grid, CHistoryDlg::kRemarkColumn, 2), "checked");

        // Samples arriving meanwhile push the oldest out: a remark for one of those is stored
        // nowhere, so its cell does not keep it either.
        offer(5);
        typeRemark(grid, 19, "lost");
        ASSERT_TRUE(
            WaitUntil([&] { return CellText(grid, CHistoryDlg::kRemarkColumn, 19).empty(); }));
        EXPECT_EQ(grid.GetRowCount(), 20);  // the list is a snapshot
        Click(h, IDOK);
    });
    const std::vector<std::string> remarks = Remarks(*item);
    ASSERT_EQ(remarks.size(), 20u);
    EXPECT_EQ(remarks[7], "checked");  // five newer samples came in front of it
    EXPECT_EQ(std::count(remarks.begin(), remarks.end(), "lost"), 0);
    EXPECT_TRUE(doc.IsModified());

    // Shown again on reopening; "Remove All" asks, then empties the buffer and the grid.
    display([&](QDialog& h, CHistoryDialog& history) {
        CItemGrid& grid = history.Grid();
        ASSERT_TRUE(WaitUntil([&] { return !history.IsListing(); }));
        EXPECT_EQ(CellText(grid, CHistoryDlg::kRemarkColumn, 7), "checked");
        Click(h, CHistoryDlg::kIdRemoveAll);  // answered No
        EXPECT_EQ(grid.GetRowCount(), 20);
        ui.QueueAnswer(IDYES);
        Click(h, CHistoryDlg::kIdRemoveAll);
        EXPECT_EQ(Text(h, CHistoryDlg::kIdTotal), "0");
        ASSERT_TRUE(WaitUntil([&] { return !history.IsListing(); }));
        EXPECT_EQ(grid.GetRowCount(), 0);
        QTest::keyClick(&h, Qt::Key_Escape);
    });
    EXPECT_EQ(item->history.GetCount(), 0u);
    EXPECT_EQ(ui.CountShown(CHistoryDlg::kRemoveAllQuestion), 2u);
    EXPECT_EQ(ui.ScriptErrors(), 0u);
}

}  // namespace
