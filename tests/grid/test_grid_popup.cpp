// The popup menu: what OnPopupOpening is told, when nothing is shown, and which commands reach
// OnPopupCommand.

#include <gtest/gtest.h>

#include <QSignalSpy>

#include "grid_support.h"

namespace {

class GridPopup : public ::testing::Test {
  protected:
    void SetUp() override {
        grid.SetColumnCount(3);
        grid.SetRowCount(4);
        grid.EnablePopup(TRUE);
        ShowGrid(grid);
    }
    void TearDown() override {
        if (QMenu* menu = VisiblePopup(grid)) {
            menu->close();
        }
    }
    void RightClickCell(int column, int row) {
        RightClick(grid.GetTableView()->viewport(), CellCenter(grid, column, row));
    }
    void Pick(const QString& text) {
        QMenu* menu = VisiblePopup(grid);
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions()) {
            if (action->text() == text) {
                action->trigger();
                menu->close();
                QApplication::processEvents();
                return;
            }
        }
        FAIL() << "no entry " << text.toStdString();
    }

    RecordingGrid grid;
};

TEST_F(GridPopup, OpeningIsToldTheCellAndTheMenuShowsItsEntriesAndSeparators) {
    grid.menu = {{2049, "Write"},
                 {5, ""},
                 {2050, "Delete"},
                 {GRID_POPUP_SEPARATOR, "x"},
                 {2051, "Properties"}};
    RightClickCell(2, 3);
    ASSERT_EQ(grid.opening.size(), 1u);
    EXPECT_EQ(grid.opening[0].column, 2);
    EXPECT_EQ(grid.opening[0].row, 3);
    EXPECT_EQ(grid.opening[0].spot, GRID_SPOT_CELLS);

    QMenu* menu = VisiblePopup(grid);
    ASSERT_NE(menu, nullptr);
    QStringList shown;
    for (QAction* action : menu->actions()) {
        shown << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    EXPECT_EQ(shown, (QStringList{"Write", "-", "Delete", "-", "Properties"}));
}

TEST_F(GridPopup, HeaderRowAndRowHeadingsTellTheirSpot) {
    QHeaderView* header = grid.GetTableView()->horizontalHeader();
    RightClick(header->viewport(),
               QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    QHeaderView* rowHeader = grid.GetTableView()->verticalHeader();
    RightClick(rowHeader->viewport(), QPoint(5, rowHeader->sectionViewportPosition(2) + 3));
    ASSERT_EQ(grid.opening.size(), 2u);
    EXPECT_EQ(grid.opening[0].spot, GRID_SPOT_COLUMN_HEADING);
    EXPECT_EQ(grid.opening[0].column, 1);
    EXPECT_EQ(grid.opening[0].row, -1);
    EXPECT_EQ(grid.opening[1].spot, GRID_SPOT_ROW_HEADING);
    EXPECT_EQ(grid.opening[1].column, -1);
    EXPECT_EQ(grid.opening[1].row, 2);
}

TEST_F(GridPopup, NoMenuWhenDisabledRefusedOrEmpty) {
    grid.EnablePopup(FALSE);
    grid.menu = {{2049, "Write"}};
    RightClickCell(0, 0);
    EXPECT_TRUE(grid.opening.empty());
    EXPECT_EQ(VisiblePopup(grid), nullptr);

    grid.EnablePopup(TRUE);
    grid.openingResult = 0;
    RightClickCell(0, 0);
    EXPECT_EQ(grid.opening.size(), 1u);
    EXPECT_EQ(VisiblePopup(grid), nullptr);

    grid.openingResult = 1;
    grid.menu.clear();  // the hook leaves the menu empty
    RightClickCell(0, 0);
    EXPECT_EQ(VisiblePopup(grid), nullptr);
    grid.menu = {{GRID_POPUP_SEPARATOR, ""}};  // nothing but a separator
    RightClickCell(0, 0);
    EXPECT_EQ(VisiblePopup(grid), nullptr);
}

TEST_F(GridPopup, CommandsBelowOneThousandDoNotReachTheHookButAreRoutedOn) {
    QSignalSpy routed(&grid, &CDataGrid::commandRouted);
    grid.menu = {{999, "Low"}, {1000, "First"}, {2050, "Delete"}};

    RightClickCell(1, 2);
    Pick("Low");
    EXPECT_TRUE(grid.commands.empty());

    RightClickCell(1, 2);
    Pick("First");
    RightClickCell(2, 0);
    Pick("Delete");
    ASSERT_EQ(grid.commands.size(), 2u);
    EXPECT_EQ(grid.commands[0].id, 1000u);
    EXPECT_EQ(grid.commands[0].column, 1);
    EXPECT_EQ(grid.commands[0].row, 2);
    EXPECT_EQ(grid.commands[0].spot, GRID_SPOT_CELLS);
    EXPECT_EQ(grid.commands[1].id, 2050u);
    EXPECT_EQ(grid.commands[1].column, 2);
    EXPECT_EQ(grid.commands[1].row, 0);

    ASSERT_EQ(routed.count(), 3);
    EXPECT_EQ(routed.at(0).at(0).value<UINT>(), 999u);
    EXPECT_EQ(routed.at(2).at(0).value<UINT>(), 2050u);
}

}  // namespace
