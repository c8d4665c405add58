// Selection by the operator: blocks of cells, IsRowSelected, and what multi-selection changes.

#include <gtest/gtest.h>

#include "grid_support.h"

namespace {

class GridSelection : public ::testing::Test {
  protected:
    void SetUp() override {
        grid.SetColumnCount(4);
        grid.SetRowCount(12);
        ShowGrid(grid);
    }
    void Click(int column, int row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(grid.GetTableView()->viewport(), Qt::LeftButton, modifiers,
                          CellCenter(grid, column, row));
    }
    std::vector<int> SelectedRows() const {
        std::vector<int> rows;
        for (int row = 0; row < grid.GetRowCount(); ++row) {
            if (grid.IsRowSelected(row)) {
                rows.push_back(row);
            }
        }
        return rows;
    }

    CDataGrid grid;
};

TEST_F(GridSelection, NoSelectionMeansNoRowIsSelected) {
    EXPECT_TRUE(SelectedRows().empty());
    EXPECT_FALSE(grid.IsRowSelected(-1));
    EXPECT_FALSE(grid.IsRowSelected(12));
}

TEST_F(GridSelection, EveryRowOfSeveralSeparateBlocksCountsWithMultiSelection) {
    grid.EnableMultiSelect(TRUE);
    Click(1, 1);
    Click(1, 3, Qt::ShiftModifier);  // block of rows 1 to 3
    Click(2, 6, Qt::ControlModifier);
    Click(0, 9, Qt::ControlModifier);
    Click(3, 10, Qt::ControlModifier | Qt::ShiftModifier);  // block 9 to 10
    EXPECT_EQ(SelectedRows(), (std::vector<int>{1, 2, 3, 6, 9, 10}));

    // Ctrl-clicking a selected cell takes it out again.
    Click(2, 6, Qt::ControlModifier);
    EXPECT_EQ(SelectedRows(), (std::vector<int>{1, 2, 3, 9, 10}));

    // Selected rows follow a blank row inserted above them.
    grid.InsertBlankRow(0);
    EXPECT_EQ(SelectedRows(), (std::vector<int>{2, 3, 4, 10, 11}));
}

TEST_F(GridSelection, WithoutMultiSelectionThereIsOnlyOneBlock) {
    Click(1, 1);
    Click(1, 2, Qt::ShiftModifier);
    Click(2, 6, Qt::ControlModifier);
    // A control click does not add a second block: the selection stays one run of rows.
    const std::vector<int> rows = SelectedRows();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.back(), 6);
    EXPECT_EQ(rows.back() - rows.front() + 1, static_cast<int>(rows.size()));

    grid.EnableMultiSelect(TRUE);
    Click(1, 1);
    Click(2, 6, Qt::ControlModifier);
    ASSERT_EQ(SelectedRows(), (std::vector<int>{1, 6}));
    grid.EnableMultiSelect(FALSE);  // two blocks are not kept
    EXPECT_TRUE(SelectedRows().empty());
}

TEST_F(GridSelection, SelectBlockAddsWithMultiSelectionAndReplacesWithout) {
    ASSERT_EQ(grid.SelectBlock(0, 2, 1, 3), GRID_OK);
    ASSERT_EQ(grid.SelectBlock(3, 8, 3, 7), GRID_OK);  // corners in any order
    EXPECT_EQ(SelectedRows(), (std::vector<int>{7, 8}));

    grid.EnableMultiSelect(TRUE);
    ASSERT_EQ(grid.SelectBlock(0, 0, 0, 0), GRID_OK);
    EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 7, 8}));
    EXPECT_NE(grid.SelectBlock(0, 0, 4, 0), GRID_OK);
    EXPECT_NE(grid.SelectBlock(0, -1, 0, 0), GRID_OK);

    grid.ClearSelection();
    EXPECT_TRUE(SelectedRows().empty());
}

}  // namespace
