// Large grids: 100,000 rows set up quickly with a handful of notifications, refreshes of a few
// columns, one shared row height past the limit, and filling from another thread.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <QSignalSpy>

#include "grid_support.h"

namespace {

constexpr int kRows = 100'000;
constexpr int kColumns = 7;

std::string CellText(int column, int row) {
    return "r" + std::to_string(row) + "c" + std::to_string(column);
}

TEST(GridLarge, HundredThousandRowsFillQuicklyWithFewNotifications) {
    CDataGrid grid;
    grid.SetColumnCount(kColumns);
    ShowGrid(grid, 800, 600);
    QAbstractItemModel* model = grid.GetTableView()->model();
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(grid.SetRowCount(kRows, FALSE), GRID_OK);
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            grid.SetCellText(column, row, CellText(column, row));
        }
    }
    grid.RepaintAll();
    QApplication::processEvents();
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(changed.count(), 1);  // every column written: one run, one notification
    EXPECT_LT(elapsed, std::chrono::seconds(20)) << "generous for debug and sanitizer builds";
    EXPECT_EQ(model->index(kRows - 1, 6).data().toString(), "r99999c6");
    EXPECT_EQ(grid.GetRowCount(), kRows);

    // Past 64000 rows every row shares one height.
    ASSERT_EQ(grid.SetRowHeight(5, 30), GRID_OK);
    EXPECT_EQ(grid.GetRowHeight(kRows - 1), 30);
    EXPECT_EQ(grid.GetTableView()->verticalHeader()->sectionSize(kRows - 1), 30);
}

TEST(GridLarge, RefreshingThreeColumnsIsOneNotificationPerRunOfColumns) {
    CDataGrid grid;
    grid.SetColumnCount(kColumns);
    grid.SetRowCount(kRows);
    ShowGrid(grid, 800, 40 * GRID_DEFAULT_ROW_HEIGHT);
    QAbstractItemModel* model = grid.GetTableView()->model();
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);

    for (int row = 0; row < kRows; ++row) {
        for (int column = 3; column <= 5; ++column) {
            grid.SetCellText(column, row, "v");
        }
    }
    grid.RepaintAll();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).value<QModelIndex>(), model->index(0, 3));
    EXPECT_EQ(changed.at(0).at(1).value<QModelIndex>(), model->index(kRows - 1, 5));

    changed.clear();
    grid.RefreshColumns({1, 3, 4, 5});
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed.at(0).at(0).value<QModelIndex>(), model->index(0, 1));
    EXPECT_EQ(changed.at(0).at(1).value<QModelIndex>(), model->index(kRows - 1, 1));
    EXPECT_EQ(changed.at(1).at(0).value<QModelIndex>(), model->index(0, 3));

    // Writes without RepaintAll still reach the view once control returns to the event loop.
    changed.clear();
    grid.SetCellText(0, 10, "late");
    grid.SetCellText(0, 12, "later");
    EXPECT_EQ(changed.count(), 0);
    QApplication::processEvents();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(1).value<QModelIndex>(), model->index(12, 0));
}

TEST(GridLarge, RowsKeepTheirOwnHeightsUpToTheLimit) {
    CDataGrid grid;
    grid.SetColumnCount(1);
    grid.SetRowCount(GRID_MAX_ROWS_WITH_OWN_HEIGHT);
    ASSERT_EQ(grid.SetRowHeight(3, 44), GRID_OK);
    EXPECT_EQ(grid.GetRowHeight(3), 44);
    EXPECT_EQ(grid.GetRowHeight(4), GRID_DEFAULT_ROW_HEIGHT);
    EXPECT_EQ(grid.GetTableView()->verticalHeader()->sectionSize(3), 44);

    grid.SetRowCount(GRID_MAX_ROWS_WITH_OWN_HEIGHT + 1);
    EXPECT_EQ(grid.GetRowHeight(3), GRID_DEFAULT_ROW_HEIGHT);
    EXPECT_EQ(grid.GetTableView()->verticalHeader()->sectionSize(3), GRID_DEFAULT_ROW_HEIGHT);
}

TEST(GridLarge, AWorkerThreadFillsTheGridThroughTheGridsThread) {
    CDataGrid grid;
    grid.SetColumnCount(5);
    ShowGrid(grid);
    constexpr int kSamples = 1024;
    std::atomic<bool> done{false};
    std::vector<int> samples(kSamples);
    int rowsSeen = -1;

    std::thread worker([&] {
        grid.SetRowCount(0);
        grid.SetRowCount(kSamples);
        for (int i = 0; i < kSamples; ++i) {
            CGridCell cell;
            grid.ReadCell(0, i, &cell);
            cell.SetText(std::to_string(i + 1));
            cell.SetNoEdit(true);
            cell.SetData(&samples[static_cast<std::size_t>(i)]);
            grid.WriteCell(0, i, &cell);
            grid.SetCellText(4, i, "remark");
        }
        grid.RepaintAll();
        rowsSeen = grid.GetRowCount();
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done && std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    worker.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(rowsSeen, kSamples);
    CGridCell cell;
    grid.ReadCell(0, kSamples - 1, &cell);
    EXPECT_EQ(cell.GetText(), "1024");
    EXPECT_TRUE(cell.IsNoEdit());
    EXPECT_EQ(cell.GetData(), &samples.back());
    EXPECT_EQ(grid.GetTableView()->model()->index(7, 4).data().toString(), "remark");
}

}  // namespace
