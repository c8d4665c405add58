// Column widths and the operator's sizing of them, and thumb tracking.

#include <gtest/gtest.h>

#include <QScrollBar>

#include "grid_support.h"

namespace {

class GridColumns : public ::testing::Test {
  protected:
    void SetUp() override {
        grid.SetColumnCount(4);
        grid.SetRowCount(3);
    }
    QHeaderView* Header() const { return grid.GetTableView()->horizontalHeader(); }
    // The right border of a column in the header row's coordinates.
    int Border(int column) const {
        return Header()->sectionViewportPosition(column) + Header()->sectionSize(column) - 1;
    }
    // Drags the border of column to the right by the given steps, calling during after each.
    template <class During>
    void Drag(int column, std::initializer_list<int> steps, During during) {
        QWidget* target = Header()->viewport();
        const int y = Header()->height() / 2;
        const int start = Border(column);
        QTest::mousePress(target, Qt::LeftButton, {}, QPoint(start, y));
        for (const int step : steps) {
            QTest::mouseMove(target, QPoint(start + step, y));
            QApplication::processEvents();
            during();
        }
        QTest::mouseRelease(target, Qt::LeftButton, {}, QPoint(start + *(steps.end() - 1), y));
        QApplication::processEvents();
    }
    QWidget* TrackingLine() const {
        return grid.GetTableView()->viewport()->findChild<QWidget*>("trackingLine");
    }

    RecordingGrid grid;
};

TEST_F(GridColumns, WidthHookRunsOnlyWhileTheGridIsVisibleAndPainting) {
    ASSERT_EQ(grid.SetColumnWidth(1, 150), GRID_OK);
    EXPECT_EQ(grid.GetColumnWidth(1), 150);
    EXPECT_TRUE(grid.widthChanges.empty());  // not shown yet

    ShowGrid(grid);
    EXPECT_EQ(Header()->sectionSize(1), 150);
    ASSERT_EQ(grid.SetColumnWidth(2, 120), GRID_OK);
    ASSERT_EQ(grid.SetColumnWidth(2, 120), GRID_OK);  // no change, no call
    grid.setUpdatesEnabled(false);
    ASSERT_EQ(grid.SetColumnWidth(3, 90), GRID_OK);
    grid.setUpdatesEnabled(true);
    EXPECT_EQ(grid.widthChanges, (std::vector<std::pair<int, int>>{{2, 120}}));
    EXPECT_EQ(Header()->sectionSize(3), 90);

    // A row-header column is not a data column.
    ASSERT_EQ(grid.SetColumnWidth(-1, 30), GRID_OK);
    EXPECT_EQ(grid.GetRowHeaderWidth(), 30);
    EXPECT_EQ(grid.widthChanges.size(), 1u);
}

TEST_F(GridColumns, DraggingABorderCallsTheHookAtEveryStepWithAFullRepaintInLiveMode) {
    ASSERT_EQ(grid.SetColumnSizingMode(GRID_SIZING_LIVE), GRID_OK);
    ShowGrid(grid);
    const int start = grid.GetColumnWidth(1);
    bool lineSeen = false;
    Drag(1, {10, 25, 40}, [&] { lineSeen = lineSeen || TrackingLine()->isVisible(); });
    ASSERT_EQ(grid.widthChanges.size(), 3u);
    EXPECT_EQ(grid.widthChanges[0], std::make_pair(1, start + 10));
    EXPECT_EQ(grid.widthChanges[1], std::make_pair(1, start + 25));
    EXPECT_EQ(grid.widthChanges[2], std::make_pair(1, start + 40));
    EXPECT_EQ(grid.GetColumnWidth(1), start + 40);
    EXPECT_FALSE(lineSeen);
}

TEST_F(GridColumns, TrackingModeDrawsALineWhileDraggingAndRemovesItAfter) {
    ASSERT_EQ(grid.SetColumnSizingMode(GRID_SIZING_TRACKING), GRID_OK);
    ShowGrid(grid);
    const int start = grid.GetColumnWidth(0);
    std::vector<int> lineX;
    Drag(0, {15, 30}, [&] {
        if (TrackingLine()->isVisible()) {
            lineX.push_back(TrackingLine()->x());
        }
    });
    EXPECT_EQ(grid.widthChanges.size(), 2u);
    EXPECT_EQ(grid.GetColumnWidth(0), start + 30);
    ASSERT_EQ(lineX.size(), 2u);
    EXPECT_EQ(lineX[1] - lineX[0], 15);
    EXPECT_FALSE(TrackingLine()->isVisible());
}

TEST_F(GridColumns, FixedModeIgnoresDragsAndUnknownModesAreRefused) {
    ASSERT_EQ(grid.SetColumnSizingMode(GRID_SIZING_FIXED), GRID_OK);
    EXPECT_NE(grid.SetColumnSizingMode(3), GRID_OK);
    EXPECT_NE(grid.SetColumnSizingMode(-1), GRID_OK);
    EXPECT_EQ(grid.GetColumnSizingMode(), GRID_SIZING_FIXED);
    ShowGrid(grid);
    const int start = grid.GetColumnWidth(1);
    Drag(1, {20, 40}, [] {});
    EXPECT_EQ(grid.GetColumnWidth(1), start);
    EXPECT_TRUE(grid.widthChanges.empty());
}

TEST_F(GridColumns, ColumnCountChangesKeepTheWidthsOfSurvivingColumns) {
    grid.SetColumnWidth(0, 200);
    grid.SetColumnWidth(3, 33);
    grid.SetCellText(3, -1, "Gone");
    grid.SetColumnCount(2);
    EXPECT_EQ(grid.GetColumnWidth(3), -1);
    grid.SetColumnCount(5);
    EXPECT_EQ(grid.GetColumnWidth(0), 200);
    EXPECT_EQ(grid.GetColumnWidth(3), GRID_DEFAULT_COLUMN_WIDTH);
    EXPECT_EQ(Header()->sectionSize(3), GRID_DEFAULT_COLUMN_WIDTH);
    CGridCell title;
    grid.ReadCell(3, -1, &title);
    EXPECT_TRUE(title.IsEmpty());
}

TEST_F(GridColumns, ThumbTrackModeOneFollowsTheThumb) {
    QScrollBar* bar = grid.GetTableView()->verticalScrollBar();
    EXPECT_EQ(grid.GetThumbTrackMode(), 0);
    EXPECT_FALSE(bar->hasTracking());
    ASSERT_EQ(grid.SetThumbTrackMode(1), GRID_OK);
    EXPECT_TRUE(bar->hasTracking());
    ASSERT_EQ(grid.SetThumbTrackMode(2), GRID_OK);
    EXPECT_FALSE(bar->hasTracking());
    EXPECT_NE(grid.SetThumbTrackMode(-1), GRID_OK);
    EXPECT_EQ(grid.GetThumbTrackMode(), 2);
}

}  // namespace
