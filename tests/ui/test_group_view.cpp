// The tree: built from the document's hints, selecting nodes with either button drives the
// document's selection and the grid, and the context menus reach the command sink.

#include "ui_fixture.h"

namespace {

using Strings = std::vector<std::string>;

TEST_F(ViewsTest, StartsWithTheGroupColumnsAndNoRows) {
    EXPECT_EQ(Grid().GetMode(), CItemGrid::GroupList);
    EXPECT_EQ(Titles(), (Strings{"Group Name", "Update Rate", "Active"}));
    EXPECT_EQ(Grid().GetRowCount(), 0);
    EXPECT_EQ(Grid().GetColumnWidth(0), 200);
    EXPECT_EQ(Grid().GetColumnWidth(2), 90);
    EXPECT_EQ(Grid().GetDlgCtrlID(), 1234u);
    EXPECT_EQ(Grid().geometry(), items->rect());
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_EQ(CItemView::Current(), items);
}

TEST_F(ViewsTest, RebuildShowsServersAndGroupsInListOrderCollapsed) {
    clBaseOPCServer* first = AddServer();
    clBaseOPCServer* second = AddServer();
    ASSERT_TRUE(first && second);
    clBaseOPCGroup* a = AddGroup(*first, "Alpha");
    clBaseOPCGroup* b = AddGroup(*first, "Beta");
    AddGroup(*second, "Gamma");
    ASSERT_TRUE(a && b);
    doc.ClearSelection();
    doc.UpdateAllViews(nullptr, kHintNewDocument);

    ASSERT_EQ(tree->topLevelItemCount(), 2);
    QTreeWidgetItem* node = tree->topLevelItem(0);
    EXPECT_EQ(node->text(0).toStdString(), first->GetPropertyText("name"));
    EXPECT_FALSE(node->isExpanded());
    ASSERT_EQ(node->childCount(), 2);
    EXPECT_EQ(node->child(0)->text(0), "Alpha");
    EXPECT_EQ(node->child(1)->text(0), "Beta");
    // Nodes carry their records and the records their nodes.
    EXPECT_EQ(CGroupView::RecordOf(node), first);
    EXPECT_EQ(first->treeItem, node);
    EXPECT_EQ(b->treeItem, node->child(1));
    EXPECT_EQ(b->parentTreeItem, node);
    EXPECT_EQ(CGroupView::ImageOf(node), CGroupView::kImageServer);
    EXPECT_EQ(CGroupView::ImageOf(node->child(0)), CGroupView::kImageGroup);
    EXPECT_EQ(tree->currentItem(), nullptr);
    EXPECT_FALSE(doc.serverSelected || doc.groupSelected);
}

TEST_F(ViewsTest, SelectingAServerThenAGroupSwitchesTheGridAndListsRows) {
    clBaseOPCGroup* group = GroupWith({"Signals.Ramp", "Signals.Counter", "Static.String"});
    ASSERT_NE(group, nullptr);
    AddGroup(*server_, "Second");
    doc.ClearSelection();
    doc.UpdateAllViews(nullptr, kHintNewDocument);
    QTreeWidgetItem* serverNode = tree->topLevelItem(0);

    ClickNode(serverNode);
    EXPECT_TRUE(doc.serverSelected);
    EXPECT_FALSE(doc.groupSelected);
    EXPECT_EQ(doc.currentServer, server_);
    EXPECT_EQ(Grid().GetMode(), CItemGrid::GroupList);
    EXPECT_EQ(Column(0), (Strings{"G1", "Second"}));
    EXPECT_EQ(Cell(1, 0), "1000");
    EXPECT_TRUE(IsReadOnly(0, 0));
    EXPECT_EQ(Grid().GetRowData(0), group);

    serverNode->setExpanded(true);
    ClickNode(serverNode->child(0));
    EXPECT_TRUE(doc.groupSelected);
    EXPECT_FALSE(doc.serverSelected);
    EXPECT_EQ(doc.currentGroup, group);
    EXPECT_EQ(Titles(),
              (Strings{"Tag Name", "Access", "Type", "Value", "Quality", "Timestamp", "State"}));
    ASSERT_EQ(Grid().GetRowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        const clBaseOPCItem* item = group->Items()[static_cast<std::size_t>(row)].get();
        EXPECT_EQ(Grid().GetRowData(row), item);
        EXPECT_EQ(item->gridRow, row);
        EXPECT_EQ(Cell(0, row), item->GetPropertyText("name"));
        EXPECT_EQ(Cell(2, row), item->GetPropertyText("type"));
        EXPECT_TRUE(IsReadOnly(6, row));
    }

    // The keyboard moves the selection too: down to the next group.
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Down);
    QApplication::processEvents();
    EXPECT_EQ(doc.currentGroup, server_->Groups()[1].get());
    EXPECT_EQ(Grid().GetRowCount(), 0);
}

TEST_F(ViewsTest, RightClicksSelectTheNodeAndOpenItsMenu) {
    clBaseOPCGroup* group = GroupWith({"Signals.Ramp", "Signals.Counter"});
    ASSERT_NE(group, nullptr);
    QTreeWidgetItem* serverNode = tree->topLevelItem(0);
    serverNode->setExpanded(true);
    QTreeWidgetItem* groupNode = serverNode->child(0);

    // A group that was not selected: selected, listed, and the GROUP menu opens.
    RightClickTree(NodeCenter(groupNode));
    EXPECT_EQ(tree->currentItem(), groupNode);
    EXPECT_EQ(doc.currentGroup, group);
    EXPECT_TRUE(doc.groupSelected);
    EXPECT_EQ(Grid().GetRowCount(), 2);
    QMenu* menu = tree->OpenMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(MenuTexts(menu), (Strings{"New Tag", "-", "Delete", "-", "Properties"}));
    for (const char* text : {"New Tag", "Delete", "Properties"}) {
        EXPECT_TRUE(Entry(menu, text)->isEnabled()) << text;
    }
    Entry(menu, "Properties")->trigger();
    menu->close();
    QApplication::processEvents();
    EXPECT_EQ(sink->executed, (std::vector<UINT>{ID_GROUP_PROPERTIES}));
    EXPECT_EQ(tree->OpenMenu(), nullptr);

    // The server: SERVER menu, its commands enabled since the node is now selected.
    RightClickTree(NodeCenter(serverNode));
    EXPECT_TRUE(doc.serverSelected);
    EXPECT_EQ(Grid().GetMode(), CItemGrid::GroupList);
    menu = tree->OpenMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(MenuTexts(menu), (Strings{"New OPC Group", "-", "Delete", "-", "Properties"}));
    EXPECT_TRUE(Entry(menu, "New OPC Group")->isEnabled());
    Entry(menu, "Delete")->trigger();
    menu->close();
    QApplication::processEvents();
    EXPECT_EQ(sink->executed.back(), ID_SERVER_DELETE);

    // Empty space: nothing selected, no menu, the grid keeps what it shows.
    const int rows = Grid().GetRowCount();
    RightClickTree(QPoint(5, tree->viewport()->height() - 5));
    EXPECT_EQ(tree->OpenMenu(), nullptr);
    EXPECT_EQ(tree->currentItem(), nullptr);
    EXPECT_FALSE(doc.serverSelected || doc.groupSelected);
    EXPECT_EQ(doc.currentServer, nullptr);
    EXPECT_EQ(Grid().GetRowCount(), rows);
}

TEST_F(ViewsTest, RightClickOnTheSelectedGroupListsItAgain) {
    clBaseOPCGroup* group = GroupWith({"Signals.Ramp"});
    ASSERT_NE(group, nullptr);
    tree->topLevelItem(0)->setExpanded(true);
    QTreeWidgetItem* groupNode = tree->topLevelItem(0)->child(0);
    ClickNode(groupNode);
    // Something else took over the document's selection and the grid.
    doc.ClearSelection();
    Grid().SetMode(CItemGrid::GroupList);
    RightClickTree(NodeCenter(groupNode));
    EXPECT_EQ(doc.currentGroup, group);
    EXPECT_EQ(Grid().GetMode(), CItemGrid::ItemList);
    EXPECT_EQ(Grid().GetRowCount(), 1);
}

TEST_F(ViewsTest, HintsAddRenameAndRemoveNodes) {
    clBaseOPCGroup* group = GroupWith({"Signals.Ramp"}, "Pumps");
    ASSERT_NE(group, nullptr);
    QTreeWidgetItem* serverNode = tree->topLevelItem(0);
    serverNode->setExpanded(true);
    ClickNode(serverNode->child(0));

    // Renamed through its properties: relabelled in place, the selection kept.
    dialogs.QueueGroupDialog(IDOK, [](clBaseOPCGroup& g) { g.name = "Valves"; });
    doc.OnGroupProperties();
    EXPECT_EQ(serverNode->child(0)->text(0), "Valves");
    EXPECT_EQ(tree->currentItem(), serverNode->child(0));
    EXPECT_EQ(doc.currentGroup, group);

    // A new group joins its server's node at the end, and is not selected.
    clBaseOPCGroup* added = AddGroup(*server_, "Aardvark");
    ASSERT_NE(added, nullptr);
    ASSERT_EQ(serverNode->childCount(), 2);
    EXPECT_EQ(serverNode->child(1)->text(0), "Aardvark");
    EXPECT_EQ(added->treeItem, serverNode->child(1));

    // A new server is appended at the root.
    clBaseOPCServer* second = AddServer();
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(1)->data(0, Qt::UserRole).value<void*>(), second);

    // Deleting the selected group removes its node; the selection passes to a neighbour and the
    // grid follows it.
    ClickNode(serverNode);
    ClickNode(serverNode->child(0));
    ASSERT_EQ(doc.currentGroup, group);
    ui.QueueAnswer(IDYES);
    doc.OnDeleteGroup();
    QApplication::processEvents();
    ASSERT_EQ(serverNode->childCount(), 1);
    QTreeWidgetItem* now = tree->currentItem();
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(CGroupView::RecordOf(now), doc.currentGroup != nullptr
                                             ? static_cast<void*>(doc.currentGroup)
                                             : static_cast<void*>(doc.currentServer));

    // A node handle the tree does not hold (one from before a rebuild) changes nothing.
    doc.UpdateAllViews(nullptr, kHintNewDocument);
    int stale = 0;
    doc.UpdateAllViews(nullptr, kHintRemoveTreeNode, &stale);
    added->parentTreeItem = &stale;
    doc.UpdateAllViews(nullptr, kHintGroupAdded, added);
    EXPECT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->childCount(), 1);
}

}  // namespace
