// The grid on its own, as the dialogs use it: layouts, set-up, the owner's events, and which
// popup commands reach the hook.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QSignalSpy>

#include "ui_fixture.h"

namespace {

using Strings = std::vector<std::string>;

class RecordingOwner final : public IItemGridOwner {
  public:
    void OnRemarkEdited(CItemGrid& /*grid*/, int row, const std::string& text) override {
        remarks.emplace_back(row, text);
    }
    void OnTagDoubleClicked(CItemGrid& /*grid*/, int row) override { doubleClicked.push_back(row); }
    std::vector<std::pair<int, std::string>> remarks;
    std::vector<int> doubleClicked;
};

// A grid whose popup also offers a command below 1000, and which records what reaches the hook.
class ProbeGrid final : public CItemGrid {
  public:
    using CItemGrid::CItemGrid;
    std::vector<UINT> hooked;

  protected:
    int OnPopupOpening(int column, int row, int spot) override {
        const int shown = CItemGrid::OnPopupOpening(column, row, spot);
        if (GetPopupItemCount() > 0) {
            AppendPopupItem(kCmdDelete - 1100, "Low");  // 950
        }
        return shown;
    }
    void OnPopupCommand(int column, int row, int spot, UINT id) override {
        hooked.push_back(id);
        CItemGrid::OnPopupCommand(column, row, spot, id);
    }
};

class DialogGridTest : public DocumentTest {
  protected:
    void SetUp() override {
        DocumentTest::SetUp();
        grid.SetDocument(&doc);
        grid.SetOwner(&owner);
        dialog.resize(500, 300);
        dialog.show();
        (void)QTest::qWaitForWindowExposed(&dialog);
        ASSERT_EQ(
            grid.CreateGridWindow(WS_CHILD | WS_VISIBLE, QRect(10, 10, 460, 260), &dialog, 1006),
            GRID_OK);
        QApplication::processEvents();
    }
    void DoubleClick(int column, int row) {
        QTableView* view = grid.GetTableView();
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {},
                           view->visualRect(view->model()->index(row, column)).center());
        QApplication::processEvents();
    }
    QLineEdit* Editor() {
        for (QLineEdit* edit : grid.GetTableView()->viewport()->findChildren<QLineEdit*>()) {
            if (edit->isVisible()) {
                return edit;
            }
        }
        return nullptr;
    }
    void Type(const QString& text, Qt::Key key) {
        QLineEdit* editor = Editor();
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, key);
        QApplication::processEvents();
    }
    std::string Cell(int column, int row) {
        CGridCell cell;
        grid.ReadCell(column, row, &cell);
        return cell.GetText();
    }

    QWidget dialog;
    RecordingOwner owner;
    ProbeGrid grid;
};

TEST_F(DialogGridTest, SetUpAndTheFourLayouts) {
    EXPECT_EQ(grid.GetMode(), CItemGrid::GroupList);
    EXPECT_EQ(grid.GetRowHeaderWidth(), 0);
    EXPECT_TRUE(grid.IsPopupEnabled());
    EXPECT_TRUE(grid.IsMultiSelectEnabled());
    EXPECT_FALSE(grid.IsEditorAutoGrow());
    EXPECT_EQ(grid.GetColumnSizingMode(), GRID_SIZING_LIVE);
    EXPECT_EQ(grid.GetThumbTrackMode(), 1);
    EXPECT_EQ(grid.GetHeaderFont().weight(), 600);
    EXPECT_EQ(grid.GetHeaderFont().pixelSize(), 12);
    CGridCell format;
    grid.ReadDefaultFormat(&format);
    ASSERT_NE(format.GetFont(), nullptr);
    EXPECT_EQ(*format.GetFont(), grid.GetHeaderFont());

    grid.SetMode(CItemGrid::HistoryList);
    EXPECT_EQ(grid.GetColumnCount(), 5);
    EXPECT_EQ(Cell(4, -1), "Remark");
    EXPECT_EQ(grid.GetColumnWidth(4), 230);
    grid.SetMode(CItemGrid::BrowseTagList);
    EXPECT_EQ(grid.GetColumnCount(), 1);
    EXPECT_EQ(Cell(0, -1), "Tag Name");
    EXPECT_EQ(grid.GetColumnWidth(0), 390);

    // The history set's widths, where the document has one.
    doc.columns.FindByKind(clColumn::kHistoryList)->widths[1] = 99;
    grid.SetMode(CItemGrid::HistoryList);
    EXPECT_EQ(grid.GetColumnWidth(1), 99);
    // Without a document: the defaults.
    grid.SetDocument(nullptr);
    grid.SetMode(CItemGrid::HistoryList);
    EXPECT_EQ(grid.GetColumnWidth(1), 150);

    // Any other mode only clears the rows.
    grid.SetRowCount(3);
    grid.SetMode(7);
    EXPECT_EQ(grid.GetMode(), 7);
    EXPECT_EQ(grid.GetRowCount(), 0);
    EXPECT_EQ(grid.GetColumnCount(), 5);
}

TEST_F(DialogGridTest, RemarkEditsReachTheOwnerOtherColumnsStayReadOnly) {
    grid.SetMode(CItemGrid::HistoryList);
    grid.SetRowCount(2);
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 4; ++column) {
            grid.SetReadOnlyText(column, row, "x");
        }
        grid.SetPlainText(4, row, "");
    }
    DoubleClick(4, 1);
    ASSERT_TRUE(grid.IsEditing());
    Type("checked", Qt::Key_Return);
    EXPECT_EQ(owner.remarks, (std::vector<std::pair<int, std::string>>{{1, "checked"}}));
    EXPECT_EQ(Cell(4, 1), "checked");

    // Escape: neither the owner nor the cell hears of it.
    DoubleClick(4, 0);
    Type("dropped", Qt::Key_Escape);
    EXPECT_EQ(owner.remarks.size(), 1u);
    EXPECT_EQ(Cell(4, 0), "");

    // A read-only column does not open the editor.
    DoubleClick(1, 0);
    EXPECT_FALSE(grid.IsEditing());

    // The column widths go to the history set while a group is selected, and nowhere else.
    grid.GetTableView()->horizontalHeader()->resizeSection(4, 260);
    EXPECT_EQ(doc.columns.FindByKind(clColumn::kHistoryList)->widths[4], 230);
    doc.groupSelected = true;
    grid.GetTableView()->horizontalHeader()->resizeSection(4, 270);
    EXPECT_EQ(doc.columns.FindByKind(clColumn::kHistoryList)->widths[4], 270);
}

TEST_F(DialogGridTest, TagDoubleClicksReachTheOwner) {
    grid.SetMode(CItemGrid::BrowseTagList);
    grid.SetRowCount(3);
    int entries[3] = {};
    for (int row = 0; row < 3; ++row) {
        grid.SetReadOnlyText(0, row, "Leaf" + std::to_string(row));
        grid.SetRowData(row, &entries[row]);
    }
    EXPECT_EQ(grid.GetRowData(2), &entries[2]);
    EXPECT_EQ(grid.GetRowData(3), nullptr);
    DoubleClick(0, 2);
    EXPECT_EQ(owner.doubleClicked, (std::vector<int>{2}));
    EXPECT_FALSE(grid.IsEditing());
    // No item menu in this mode.
    doc.groupSelected = true;
    QTableView* view = grid.GetTableView();
    const QPoint pos = view->visualRect(view->model()->index(0, 0)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, view->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(view->viewport(), &event);
    EXPECT_EQ(grid.GetPopupItemCount(), 0);
}

TEST_F(DialogGridTest, PopupCommandsBelowOneThousandDoNotReachTheHook) {
    clBaseOPCServer* server = AddServer();
    ASSERT_NE(server, nullptr);
    clBaseOPCGroup* group = AddGroup(*server, "G");
    ASSERT_NE(group, nullptr);
    clBaseOPCItem* item = AddItem(*group, "Signals.Ramp");
    ASSERT_NE(item, nullptr);
    SelectGroup(*server, *group);
    grid.SetMode(CItemGrid::ItemList);
    grid.SetRowCount(1);
    grid.SetReadOnlyText(0, 0, item->displayName);
    grid.SetRowData(0, item);

    QSignalSpy routed(&grid, &CDataGrid::commandRouted);
    QTableView* view = grid.GetTableView();
    const QPoint pos = view->visualRect(view->model()->index(0, 0)).center();
    auto pick = [&](const QString& text) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, view->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(view->viewport(), &event);
        QApplication::processEvents();
        QMenu* menu = nullptr;
        for (QMenu* m : grid.findChildren<QMenu*>()) {
            if (m->isVisible()) {
                menu = m;
            }
        }
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions()) {
            if (action->text() == text) {
                action->trigger();
            }
        }
        menu->close();
        QApplication::processEvents();
    };
    pick("Low");
    EXPECT_TRUE(grid.hooked.empty());
    ASSERT_EQ(routed.count(), 1);
    EXPECT_EQ(routed[0][0].value<UINT>(), 950u);
    EXPECT_EQ(group->Items().size(), 1u);

    ui.QueueAnswer(IDYES);
    pick("Delete");
    EXPECT_EQ(grid.hooked, (std::vector<UINT>{CItemGrid::kCmdDelete}));
    EXPECT_TRUE(group->Items().empty());
    EXPECT_EQ(doc.currentItem, nullptr);
}

}  // namespace
