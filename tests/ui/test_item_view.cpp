// The item view: listing by hint, live refreshes, relabelling, the item rows' context menu and
// the Tag menu's Delete.

#include "ui_fixture.h"

#include "document/dlg_controls.h"
#include "document/tag_dlg.h"
#include "framework/scripted_dialog.h"

namespace {

using Strings = std::vector<std::string>;

class ItemViewTest : public ViewsTest {
  protected:
    // A group of the given items, selected in the tree and listed.
    clBaseOPCGroup* ListedGroup(const std::vector<std::string>& itemIds) {
        clBaseOPCGroup* group = GroupWith(itemIds);
        if (group != nullptr) {
            tree->topLevelItem(0)->setExpanded(true);
            ClickNode(tree->topLevelItem(0)->child(0));
        }
        return group;
    }
    std::vector<std::string> ItemNames(const clBaseOPCGroup& group) {
        std::vector<std::string> names;
        for (const auto& item : group.Items()) {
            names.push_back(item->displayName);
        }
        return names;
    }
};

TEST_F(ItemViewTest, ContextMenuOnItemRowsOnly) {
    clBaseOPCGroup* group = ListedGroup({"Signals.Counter", "Signals.Ramp"});
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(Grid().GetRowCount(), 2);

    RightClickCell(3, 1);
    QMenu* menu = GridPopup();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(MenuTexts(menu), (Strings{"Write", "-", "Delete", "-", "Properties"}));
    EXPECT_EQ(doc.currentItem, group->Items()[1].get());
    menu->close();

    // The header row shows nothing.
    RightClickCell(0, -1);
    EXPECT_EQ(GridPopup(), nullptr);

    // Group rows (a server is selected) show nothing either.
    ClickNode(tree->topLevelItem(0));
    ASSERT_EQ(Grid().GetRowCount(), 1);
    doc.currentItem = nullptr;
    RightClickCell(0, 0);
    EXPECT_EQ(GridPopup(), nullptr);
    EXPECT_EQ(doc.currentItem, nullptr);
}

TEST_F(ItemViewTest, ContextMenuCommandsWriteRefusalAndProperties) {
    clBaseOPCGroup* group = ListedGroup({"Access.ReadOnly", "Static.String"});
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(ItemNames(*group), (Strings{"Access.ReadOnly", "Static.String"}));

    RightClickCell(0, 0);
    PickGridEntry("Write");
    RightClickCell(0, 1);
    PickGridEntry("Write");
    EXPECT_EQ(ui.MessageTexts(), (Strings{"Tag is read only", "Can't write to a non numeric tag"}));

    // Properties: a rename that changes only the case does not relabel, another one does.
    RightClickCell(0, 1);
    ScriptedDialogHost host;
    ScopedDialogHost installed(host);
    host.QueueOk<CTagDlg>(
        [](CTagDlg& m) { m.controls.SetText(CTagDlg::IDC_NAME, "STATIC.STRING"); });
    PickGridEntry("Properties");
    EXPECT_EQ(Cell(0, 1), "Static.String");
    RightClickCell(0, 1);
    host.QueueOk<CTagDlg>([](CTagDlg& m) { m.controls.SetText(CTagDlg::IDC_NAME, "Text"); });
    PickGridEntry("Properties");
    EXPECT_EQ(Cell(0, 1), "Text");
    EXPECT_TRUE(IsReadOnly(0, 1));
}

TEST_F(ItemViewTest, ContextMenuDeleteAsksRemovesAndMarksModified) {
    clBaseOPCGroup* group = ListedGroup({"Signals.Counter", "Signals.Ramp", "Signals.Text"});
    ASSERT_NE(group, nullptr);
    doc.SetModifiedFlag(false);

    // No: nothing changes.
    RightClickCell(0, 1);
    ui.QueueAnswer(IDNO);
    PickGridEntry("Delete");
    EXPECT_EQ(ui.MessageTexts(), (Strings{"Delete 'Signals.Ramp' ?"}));
    EXPECT_EQ(ui.LastMessage()->type, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(group->Items().size(), 3u);
    EXPECT_FALSE(doc.IsModified());

    RightClickCell(0, 1);
    ui.QueueAnswer(IDYES);
    PickGridEntry("Delete");
    EXPECT_EQ(ItemNames(*group), (Strings{"Signals.Counter", "Signals.Text"}));
    EXPECT_EQ(group->liveGroup->Items().size(), 2u);
    EXPECT_EQ(group->liveGroup->FindItem(group->Items()[0]->id)->itemId, "Signals.Counter");
    EXPECT_EQ(Column(0), (Strings{"Signals.Counter", "Signals.Text"}));
    EXPECT_EQ(doc.currentItem, nullptr);
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(ItemViewTest, TagMenuDeleteRemovesEverySelectedRow) {
    clBaseOPCGroup* group = ListedGroup({"Signals.Counter", "Signals.Ramp", "Signals.Text"});
    ASSERT_NE(group, nullptr);
    doc.SetModifiedFlag(false);
    CCommandRoute route{items, &doc};
    Grid().SelectBlock(0, 0, 6, 0);
    Grid().SelectBlock(0, 2, 6, 2);
    // The context menu made the last row the current item; it goes with the others.
    RightClickCell(0, 2);
    GridPopup()->close();
    ASSERT_EQ(doc.currentItem, group->Items()[2].get());

    ui.QueueAnswer(IDNO);
    EXPECT_TRUE(route.Execute(ID_TAG_DELETE));
    EXPECT_EQ(ui.MessageTexts(), (Strings{"Delete selected opc items ?"}));
    EXPECT_EQ(group->Items().size(), 3u);

    ui.QueueAnswer(IDYES);
    EXPECT_TRUE(route.Execute(ID_TAG_DELETE));
    EXPECT_EQ(ItemNames(*group), (Strings{"Signals.Ramp"}));
    EXPECT_EQ(group->liveGroup->Items().size(), 1u);
    EXPECT_EQ(Column(0), (Strings{"Signals.Ramp"}));
    EXPECT_EQ(doc.currentItem, nullptr);
    EXPECT_TRUE(doc.IsModified());

    // Without a selected group the document disables the command.
    ClickNode(tree->topLevelItem(0));
    EXPECT_FALSE(route.IsEnabled(ID_TAG_DELETE));
}

TEST_F(ItemViewTest, LiveChangesRefreshTheValueColumns) {
    clBaseOPCGroup* group = ListedGroup({"Signals.Counter", "Signals.Text"});
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(Cell(4, 0), group->Items()[0]->GetPropertyText("quality"));
    const std::string nameBefore = Cell(0, 0);

    sim.AdvanceTime(1000ms);
    sim.AdvanceTime(1000ms);
    for (int row = 0; row < 2; ++row) {
        const clBaseOPCItem& item = *group->Items()[static_cast<std::size_t>(row)];
        EXPECT_EQ(Cell(3, row), item.GetPropertyText("value"));
        EXPECT_EQ(Cell(4, row), "Good");
        EXPECT_EQ(Cell(5, row), item.GetPropertyText("timestamp"));
        EXPECT_TRUE(IsReadOnly(3, row));
    }
    EXPECT_NE(Cell(5, 0), "2000-01-01 00:00:00.000");
    EXPECT_EQ(Cell(0, 0), nameBefore);

    // A record removed behind the view's back (a delete waiting for its server) is not read:
    // its row and the rows after it keep their texts until the next listing.
    const std::string kept = Cell(3, 1);
    group->RemoveItem(group->Items()[0].get());
    group->Items()[0]->valueText = "changed";
    doc.UpdateAllViews(nullptr, kHintValuesChanged);
    EXPECT_EQ(Cell(3, 1), kept);
    doc.UpdateAllViews(nullptr, kHintListGroupItems, group);
    EXPECT_EQ(Column(3), (Strings{"changed"}));
}

TEST_F(ItemViewTest, RowsOutOfSightCatchUpWhenScrolledIntoSight) {
    clBaseOPCGroup* group = GroupWith({});
    ASSERT_NE(group, nullptr);
    for (int i = 299; i >= 0; --i) {
        auto record = std::make_unique<clBaseOPCItem>();
        record->id = 1000 + i;
        record->displayName = "R" + std::to_string(1000 + i);
        record->canonicalType = VT_R8;
        group->InsertItemSorted(std::move(record));
    }
    tree->topLevelItem(0)->setExpanded(true);
    ClickNode(tree->topLevelItem(0)->child(0));
    ASSERT_EQ(Grid().GetRowCount(), 300);

    for (int round = 1; round <= 2; ++round) {
        for (const auto& item : group->Items()) {
            item->value = 1.5 * round;
            item->quality = 0xC0;
            item->timestamp.SetDateTime(2024, 5, round, 8, 0, 0, 0);
        }
        doc.UpdateAllViews(nullptr, kHintValuesChanged);
    }
    const clBaseOPCItem& first = *group->Items().front();
    EXPECT_EQ(Cell(3, 0), first.GetPropertyText("value"));
    EXPECT_EQ(Cell(4, 0), "Good");
    EXPECT_EQ(Cell(5, 0), first.GetPropertyText("timestamp"));
    for (const int row : {150, 299}) {
        Grid().GetTableView()->scrollTo(Grid().GetTableView()->model()->index(row, 3));
        QApplication::processEvents();
        const clBaseOPCItem& item = *group->Items()[static_cast<std::size_t>(row)];
        EXPECT_EQ(Cell(3, row), item.GetPropertyText("value")) << row;
        EXPECT_EQ(Cell(5, row), item.GetPropertyText("timestamp")) << row;
        EXPECT_EQ(Grid().GetTableView()->model()->index(row, 3).data().toString().toStdString(),
                  item.GetPropertyText("value"));
    }
}

TEST_F(ItemViewTest, RelabelOnlyTheRowThatShowsTheItem) {
    clBaseOPCGroup* group = ListedGroup({"Signals.Counter", "Signals.Ramp"});
    ASSERT_NE(group, nullptr);
    clBaseOPCItem& first = *group->Items()[0];
    first.displayName = "Renamed";
    doc.UpdateAllViews(nullptr, kHintItemRelabelled, &first);
    EXPECT_EQ(Column(0), (Strings{"Renamed", "Signals.Ramp"}));
    EXPECT_TRUE(IsReadOnly(0, 0));

    // A grid row that does not hold the item (stale bookkeeping) is left alone.
    first.gridRow = 1;
    first.displayName = "Again";
    doc.UpdateAllViews(nullptr, kHintItemRelabelled, &first);
    EXPECT_EQ(Column(0), (Strings{"Renamed", "Signals.Ramp"}));
}

TEST_F(ItemViewTest, GroupHintsListAppendAndClear) {
    clBaseOPCGroup* group = GroupWith({});
    ASSERT_NE(group, nullptr);
    ClickNode(tree->topLevelItem(0));
    ASSERT_EQ(Grid().GetRowCount(), 1);
    clBaseOPCGroup* added = AddGroup(*server_, "Added");
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(Column(0), (Strings{"G1", "Added"}));
    EXPECT_EQ(Grid().GetRowData(1), added);
    EXPECT_TRUE(IsReadOnly(0, 1));  // no in-place edit that would rename nothing

    // An empty group shows the item titles and no rows.
    tree->topLevelItem(0)->setExpanded(true);
    ClickNode(tree->topLevelItem(0)->child(0));
    EXPECT_EQ(Grid().GetColumnCount(), 7);
    EXPECT_EQ(Grid().GetRowCount(), 0);

    ClickNode(tree->topLevelItem(0));
    doc.UpdateAllViews(nullptr, kHintServerDeleted);
    EXPECT_EQ(Grid().GetRowCount(), 0);
    EXPECT_EQ(Grid().GetColumnCount(), 3);
}

TEST_F(ItemViewTest, WidenedColumnIsKeptInTheColumnSet) {
    clBaseOPCGroup* group = ListedGroup({"Signals.Counter"});
    ASSERT_NE(group, nullptr);
    doc.SetModifiedFlag(false);
    // The operator drags the "Value" border.
    Grid().GetTableView()->horizontalHeader()->resizeSection(3, 185);
    QApplication::processEvents();
    EXPECT_EQ(Grid().GetColumnWidth(3), 185);
    EXPECT_EQ(doc.columns.FindByKind(clColumn::kItemList)->widths[3], 185);
    EXPECT_EQ(doc.columns.FindByKind(clColumn::kGroupList)->widths[2], 90);
    EXPECT_FALSE(doc.IsModified());

    // A server's list stores into the group set.
    ClickNode(tree->topLevelItem(0));
    Grid().GetTableView()->horizontalHeader()->resizeSection(1, 133);
    EXPECT_EQ(doc.columns.FindByKind(clColumn::kGroupList)->widths[1], 133);

    // Back on the group the wider column returns, and survives a save and a reopen.
    ClickNode(tree->topLevelItem(0)->child(0));
    EXPECT_EQ(Grid().GetColumnWidth(3), 185);
    const std::string path = files.Path("widths.tgv");
    ASSERT_TRUE(doc.OnSaveDocument(path));
    ASSERT_TRUE(doc.OnOpenDocument(path));
    tree->topLevelItem(0)->setExpanded(true);
    ClickNode(tree->topLevelItem(0)->child(0));
    EXPECT_EQ(Grid().GetColumnWidth(3), 185);
    EXPECT_EQ(Grid().GetColumnWidth(1), 70);

    // A stored width the grid cannot show falls back to the default.
    doc.columns.FindByKind(clColumn::kItemList)->widths[4] = 0;
    Grid().SetMode(CItemGrid::ItemList);
    EXPECT_EQ(Grid().GetColumnWidth(4), 80);
}

}  // namespace
