// The parts of the grid that need no window: written-cell tracking, row spans, sizes and the
// editor's growth.

#include <gtest/gtest.h>

#include "grid/dirty_cells.h"
#include "grid/editor_geometry.h"
#include "grid/grid_defs.h"
#include "grid/grid_geometry.h"
#include "grid/row_spans.h"

namespace {

using Block = CDirtyCells::Block;
using Range = CDirtyCells::Range;

TEST(DirtyCells, AdjacentColumnsMakeOneBlockAndGapsSeparateThem) {
    CDirtyCells dirty;
    EXPECT_TRUE(dirty.IsEmpty());
    for (int row = 0; row < 1000; ++row) {
        dirty.MarkCell(3, row);
        dirty.MarkCell(4, row);
        dirty.MarkCell(5, row);
    }
    dirty.MarkCell(0, 7);
    EXPECT_FALSE(dirty.IsEmpty());
    EXPECT_EQ(dirty.TakeBlocks(7, 1000), (std::vector<Block>{{0, 0, 7, 7}, {3, 5, 0, 999}}));
    EXPECT_TRUE(dirty.IsEmpty());
    EXPECT_TRUE(dirty.TakeBlocks(7, 1000).empty());
}

TEST(DirtyCells, BlocksAreClampedToTheGridsCurrentSize) {
    CDirtyCells dirty;
    dirty.MarkColumns(0, 4, 0, 99);
    dirty.MarkCell(1, 150);
    EXPECT_EQ(dirty.TakeBlocks(3, 50), (std::vector<Block>{{0, 2, 0, 49}}));

    dirty.MarkCell(2, 80);
    EXPECT_TRUE(dirty.TakeBlocks(3, 50).empty());  // the row is gone
}

TEST(DirtyCells, TitlesAndRowHeadingsAreKeptApart) {
    CDirtyCells dirty;
    dirty.MarkCell(2, -1);
    dirty.MarkCell(5, -1);
    dirty.MarkCell(-1, 10);
    dirty.MarkCell(-2, 3);
    dirty.MarkCell(-1, -1);  // the corner shows nothing
    EXPECT_TRUE(dirty.TakeBlocks(10, 20).empty());
    EXPECT_EQ(dirty.TakeColumnTitles(4), (Range{2, 3}));
    EXPECT_EQ(dirty.TakeRowHeadings(20), (Range{3, 10}));
    EXPECT_TRUE(dirty.IsEmpty());
}

TEST(RowSpans, MergesOverlappingAndAdjacentBlocksInAnyOrder) {
    const CRowSpans spans({{10, 12}, {0, 2}, {3, 4}, {11, 20}, {30, 29}, {40, 40}});
    EXPECT_EQ(spans.Spans(), (std::vector<std::pair<int, int>>{{0, 4}, {10, 20}, {40, 40}}));
    for (int row : {0, 4, 10, 15, 20, 40}) {
        EXPECT_TRUE(spans.Contains(row)) << row;
    }
    for (int row : {-1, 5, 9, 21, 29, 30, 39, 41}) {
        EXPECT_FALSE(spans.Contains(row)) << row;
    }
    EXPECT_FALSE(CRowSpans().Contains(0));
}

TEST(GridGeometry, RowHeaderWidthIsRescaledInProportionAndAddsUpExactly) {
    CGridGeometry geometry;
    EXPECT_EQ(geometry.RowHeaderWidth(), GRID_DEFAULT_ROW_HEADER_WIDTH);
    ASSERT_TRUE(geometry.SetRowHeaderColumnCount(3));
    EXPECT_EQ(geometry.RowHeaderWidth(), 40);
    ASSERT_TRUE(geometry.SetColumnWidth(-1, 20));
    ASSERT_TRUE(geometry.SetColumnWidth(-2, 10));
    ASSERT_TRUE(geometry.SetColumnWidth(-3, 10));

    ASSERT_TRUE(geometry.SetRowHeaderWidth(101));
    EXPECT_EQ(geometry.RowHeaderWidth(), 101);
    EXPECT_GE(geometry.ColumnWidth(-1), 50);
    EXPECT_LE(geometry.ColumnWidth(-1), 51);
    EXPECT_GE(geometry.ColumnWidth(-2), 25);
    EXPECT_LE(geometry.ColumnWidth(-2), 26);

    // Hidden and shown again: shared evenly.
    ASSERT_TRUE(geometry.SetRowHeaderWidth(0));
    EXPECT_EQ(geometry.ColumnWidth(-3), 0);
    ASSERT_TRUE(geometry.SetRowHeaderWidth(31));
    EXPECT_EQ(geometry.ColumnWidth(-1) + geometry.ColumnWidth(-2) + geometry.ColumnWidth(-3), 31);
    EXPECT_EQ(geometry.ColumnWidth(-3), 10);
}

TEST(GridGeometry, RefusedValuesChangeNothing) {
    CGridGeometry geometry;
    geometry.SetColumnCount(2);
    EXPECT_FALSE(geometry.SetRowHeaderColumnCount(0));
    EXPECT_FALSE(geometry.SetRowHeaderColumnCount(GRID_MAX_ROW_HEADER_COLUMNS + 1));
    EXPECT_EQ(geometry.RowHeaderColumnCount(), 1);
    EXPECT_FALSE(geometry.SetRowHeaderWidth(-1));
    EXPECT_FALSE(geometry.SetRowHeaderWidth(GRID_MAX_ROW_HEADER_WIDTH + 1));
    EXPECT_TRUE(geometry.SetRowHeaderWidth(GRID_MAX_ROW_HEADER_WIDTH));
    EXPECT_FALSE(geometry.SetColumnWidth(2, 10));
    EXPECT_FALSE(geometry.SetColumnWidth(-2, 10));
    EXPECT_FALSE(geometry.SetColumnWidth(0, -1));
    EXPECT_FALSE(geometry.SetColumnWidth(-1, GRID_MAX_ROW_HEADER_WIDTH + 1));
    EXPECT_EQ(geometry.ColumnWidth(0), GRID_DEFAULT_COLUMN_WIDTH);
    EXPECT_EQ(geometry.ColumnWidth(2), -1);
    EXPECT_EQ(geometry.RowHeaderWidth(), GRID_MAX_ROW_HEADER_WIDTH);
}

TEST(GridGeometry, RowsKeepOwnHeightsUpToTheLimitAndShareOneBeyond) {
    CGridGeometry geometry;
    geometry.SetRowCount(GRID_MAX_ROWS_WITH_OWN_HEIGHT);
    ASSERT_TRUE(geometry.HasOwnRowHeights());
    ASSERT_TRUE(geometry.SetRowHeight(5, 33));
    EXPECT_EQ(geometry.RowHeight(5), 33);
    EXPECT_EQ(geometry.RowHeight(6), GRID_DEFAULT_ROW_HEIGHT);
    geometry.InsertRow(0);  // one row too many
    ASSERT_FALSE(geometry.HasOwnRowHeights());
    EXPECT_EQ(geometry.RowHeight(6), GRID_DEFAULT_ROW_HEIGHT);
    ASSERT_TRUE(geometry.SetRowHeight(6, 25));  // sets every row
    EXPECT_EQ(geometry.RowHeight(0), 25);
    EXPECT_EQ(geometry.RowHeight(GRID_MAX_ROWS_WITH_OWN_HEIGHT), 25);

    geometry.SetRowCount(10);
    ASSERT_TRUE(geometry.HasOwnRowHeights());
    EXPECT_EQ(geometry.RowHeight(9), 25);
    geometry.InsertRow(2);
    ASSERT_TRUE(geometry.SetRowHeight(2, 40));
    EXPECT_EQ(geometry.RowHeight(2), 40);
    EXPECT_EQ(geometry.RowHeight(3), 25);
    EXPECT_EQ(geometry.RowHeight(11), -1);
}

TEST(EditorGeometry, GrowsRightAndDownWithinTheAreaAndNeverBelowTheCell) {
    const QRect area(0, 0, 300, 200);
    const QRect cell(100, 50, 80, 20);
    EXPECT_EQ(GrowEditorRect(cell, QSize(30, 10), area), cell);
    EXPECT_EQ(GrowEditorRect(cell, QSize(150, 30), area), QRect(100, 50, 150, 30));
    EXPECT_EQ(GrowEditorRect(cell, QSize(500, 500), area), QRect(100, 50, 200, 150));
    // A cell reaching past the area's edge keeps its own size.
    const QRect clipped(260, 190, 80, 20);
    EXPECT_EQ(GrowEditorRect(clipped, QSize(500, 500), area), clipped);
}

}  // namespace
