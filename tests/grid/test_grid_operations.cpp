// The grid's operations on a real widget: refusals, titles, read-only cells, the current cell,
// rows and row data, and how the window comes to be.

#include <gtest/gtest.h>

#include <QDialog>
#include <QFrame>
#include <QVBoxLayout>

#include "grid/control_id.h"
#include "grid_support.h"

namespace {

TEST(GridOperations, RefusedArgumentsLeaveTheGridUnchanged) {
    CDataGrid grid;
    ASSERT_EQ(grid.SetColumnCount(3), GRID_OK);
    ASSERT_EQ(grid.SetRowCount(4), GRID_OK);

    EXPECT_NE(grid.SetRowCount(-1), GRID_OK);
    EXPECT_NE(grid.SetColumnCount(-1), GRID_OK);
    EXPECT_NE(grid.SetRowCount(GRID_MAX_ROWS + 1), GRID_OK);
    EXPECT_NE(grid.InsertBlankRow(5), GRID_OK);
    EXPECT_NE(grid.InsertBlankRow(-1), GRID_OK);
    EXPECT_NE(grid.SetColumnWidth(3, 50), GRID_OK);
    EXPECT_NE(grid.SetColumnWidth(-2, 50), GRID_OK);
    EXPECT_NE(grid.SetRowHeaderWidth(1025), GRID_OK);
    EXPECT_NE(grid.SetRowHeaderWidth(-1), GRID_OK);
    EXPECT_NE(grid.SetRowHeaderColumnCount(65), GRID_OK);
    EXPECT_NE(grid.SetGridFont(nullptr), GRID_OK);
    EXPECT_NE(grid.ReadCell(0, 0, nullptr), GRID_OK);
    EXPECT_NE(grid.WriteCell(0, 0, nullptr), GRID_OK);
    CGridCell cell;
    cell.SetText("x");
    EXPECT_NE(grid.WriteCell(3, 0, &cell), GRID_OK);
    EXPECT_NE(grid.WriteCell(0, 4, &cell), GRID_OK);
    EXPECT_NE(grid.WriteCell(0, -2, &cell), GRID_OK);
    EXPECT_NE(grid.WriteCell(-2, 0, &cell), GRID_OK);
    EXPECT_NE(grid.SetCellText(0, 4, "x"), GRID_OK);

    EXPECT_EQ(grid.GetColumnCount(), 3);
    EXPECT_EQ(grid.GetRowCount(), 4);
    EXPECT_EQ(grid.GetColumnWidth(0), GRID_DEFAULT_COLUMN_WIDTH);
    EXPECT_EQ(grid.GetRowHeaderWidth(), GRID_DEFAULT_ROW_HEADER_WIDTH);
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 3; ++column) {
            ASSERT_EQ(grid.ReadCell(column, row, &cell), GRID_OK);
            EXPECT_TRUE(cell.IsEmpty());
        }
    }
    // The headings count as inside.
    EXPECT_EQ(grid.WriteCell(-1, 0, &cell), GRID_OK);
    EXPECT_EQ(grid.WriteCell(2, -1, &cell), GRID_OK);
}

TEST(GridOperations, RowHeaderColumnCountZeroIsRefusedAndWidthZeroHidesThem) {
    CDataGrid grid;
    grid.SetColumnCount(2);
    grid.SetRowCount(2);
    ShowGrid(grid);
    QHeaderView* rowHeader = grid.GetTableView()->verticalHeader();
    EXPECT_EQ(grid.GetRowHeaderColumnCount(), 1);
    EXPECT_EQ(grid.GetRowHeaderWidth(), 40);
    EXPECT_TRUE(rowHeader->isVisible());
    EXPECT_EQ(rowHeader->width(), 40);

    EXPECT_NE(grid.SetRowHeaderColumnCount(0), GRID_OK);
    EXPECT_EQ(grid.GetRowHeaderColumnCount(), 1);

    ASSERT_EQ(grid.SetRowHeaderWidth(0), GRID_OK);
    QApplication::processEvents();
    EXPECT_FALSE(rowHeader->isVisible());
    // The first data column now starts at the left edge of the grid.
    EXPECT_EQ(grid.GetTableView()->viewport()->mapTo(&grid, QPoint(0, 0)).x(),
              grid.GetTableView()->frameWidth());

    ASSERT_EQ(grid.SetRowHeaderColumnCount(2), GRID_OK);
    ASSERT_EQ(grid.SetRowHeaderWidth(60), GRID_OK);
    QApplication::processEvents();
    EXPECT_TRUE(rowHeader->isVisible());
    EXPECT_EQ(rowHeader->width(), 60);
    ASSERT_EQ(grid.SetColumnWidth(-2, 10), GRID_OK);
    EXPECT_EQ(grid.GetRowHeaderWidth(), 40);
    EXPECT_EQ(rowHeader->width(), 40);
}

TEST(GridOperations, ColumnTitlesAreTheHeaderRowAndLeaveDataRowsAlone) {
    CDataGrid grid;
    grid.SetColumnCount(2);
    grid.SetRowCount(3);
    grid.SetCellText(1, 0, "data");
    ASSERT_EQ(grid.SetCellText(1, -1, "Update Rate"), GRID_OK);
    grid.RepaintAll();

    const QAbstractItemModel* model = grid.GetTableView()->model();
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "Update Rate");
    EXPECT_EQ(model->index(0, 1).data().toString(), "data");
    for (int row = 1; row < 3; ++row) {
        EXPECT_EQ(model->index(row, 1).data().toString(), "");
    }
    CGridCell title;
    grid.ReadCell(1, -1, &title);
    EXPECT_EQ(title.GetText(), "Update Rate");
}

TEST(GridOperations, ReadOnlyCellKeepsItsMarkThroughSetCellTextAndIsNotEdited) {
    CDataGrid grid;
    grid.SetColumnCount(2);
    grid.SetRowCount(2);
    CGridCell cell;
    grid.ReadCell(0, 1, &cell);
    cell.SetText("Tag1");
    cell.SetNoEdit(true);
    ASSERT_EQ(grid.WriteCell(0, 1, &cell), GRID_OK);

    ASSERT_EQ(grid.SetCellText(0, 1, "Tag2"), GRID_OK);
    CGridCell read;
    grid.ReadCell(0, 1, &read);
    EXPECT_EQ(read.GetText(), "Tag2");
    EXPECT_TRUE(read.IsNoEdit());

    ShowGrid(grid);
    ASSERT_EQ(grid.GotoCell(0, 1), GRID_OK);
    EXPECT_NE(grid.BeginCellEdit(), GRID_OK);
    EXPECT_FALSE(grid.IsEditing());
    // The editable neighbour opens.
    ASSERT_EQ(grid.GotoCell(1, 1), GRID_OK);
    EXPECT_EQ(grid.BeginCellEdit(), GRID_OK);
    EXPECT_TRUE(grid.IsEditing());
}

TEST(GridOperations, CurrentCellGoesWithTheRowsAndComesBackAtRowZero) {
    CDataGrid grid;
    EXPECT_EQ(grid.GetCurrentRow(), -1);
    grid.SetColumnCount(3);
    grid.SetRowCount(10);
    EXPECT_EQ(grid.GetCurrentRow(), 0);
    EXPECT_EQ(grid.GetCurrentColumn(), 0);

    ASSERT_EQ(grid.GotoCell(2, 8), GRID_OK);
    grid.SetRowCount(5);  // clamped
    EXPECT_EQ(grid.GetCurrentRow(), 4);
    EXPECT_EQ(grid.GetCurrentColumn(), 2);

    grid.SetRowCount(0);
    EXPECT_EQ(grid.GetCurrentRow(), -1);
    EXPECT_EQ(grid.GetCurrentColumn(), -1);
    EXPECT_NE(grid.BeginCellEdit(), GRID_OK);

    grid.SetRowCount(7);
    EXPECT_EQ(grid.GetCurrentRow(), 0);
    EXPECT_EQ(grid.GetCurrentColumn(), 2);

    grid.SetRowCount(0);
    ASSERT_EQ(grid.InsertBlankRow(0), GRID_OK);
    EXPECT_EQ(grid.GetCurrentRow(), 0);
    EXPECT_NE(grid.GotoCell(3, 0), GRID_OK);
    EXPECT_NE(grid.GotoCell(0, -1), GRID_OK);
}

TEST(GridOperations, InsertBlankRowShiftsRowDataAndNeverTouchesIt) {
    CDataGrid grid;
    grid.SetColumnCount(2);
    std::vector<int> objects{10, 20, 30};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(grid.InsertBlankRow(i), GRID_OK);  // appending
        CGridCell cell;
        grid.ReadCell(0, i, &cell);
        cell.SetData(&objects[static_cast<std::size_t>(i)]);
        cell.SetText(std::to_string(objects[static_cast<std::size_t>(i)]));
        grid.WriteCell(0, i, &cell);
    }
    ASSERT_EQ(grid.InsertBlankRow(1), GRID_OK);
    ASSERT_EQ(grid.GetRowCount(), 4);

    CGridCell cell;
    grid.ReadCell(0, 1, &cell);
    EXPECT_TRUE(cell.IsEmpty());
    EXPECT_EQ(cell.GetData(), nullptr);
    grid.ReadCell(0, 2, &cell);
    EXPECT_EQ(cell.GetData(), &objects[1]);
    EXPECT_EQ(cell.GetText(), "20");
    grid.ReadCell(0, 3, &cell);
    EXPECT_EQ(static_cast<int*>(cell.GetData()), &objects[2]);

    grid.SetRowCount(0);
    EXPECT_EQ(objects, (std::vector<int>{10, 20, 30}));  // the grid frees nothing of them
}

TEST(GridOperations, CreateGridWindowRunsSetUpThenInitialisationBeforeShowing) {
    QWidget parent;
    parent.resize(400, 300);
    parent.show();
    RecordingGrid grid;
    ASSERT_EQ(grid.CreateGridWindow(WS_CHILD | WS_VISIBLE, QRect(10, 20, 200, 100), &parent, 1234),
              GRID_OK);
    EXPECT_EQ(grid.calls, (std::vector<std::string>{"OnGridSetUp", "OnGridInitialized"}));
    EXPECT_FALSE(grid.visibleAtSetUp);
    EXPECT_TRUE(grid.isVisible());
    EXPECT_EQ(grid.parentWidget(), &parent);
    EXPECT_EQ(grid.geometry(), QRect(10, 20, 200, 100));
    EXPECT_EQ(grid.GetDlgCtrlID(), 1234u);
    EXPECT_EQ(FindControl(parent, 1234), &grid);

    EXPECT_NE(grid.CreateGridWindow(WS_CHILD, QRect(), &parent, 1), GRID_OK);
    RecordingGrid orphan;
    EXPECT_NE(orphan.CreateGridWindow(WS_CHILD, QRect(), nullptr, 1), GRID_OK);
    EXPECT_TRUE(orphan.calls.empty());
}

TEST(GridOperations, AttachToDialogControlTakesThePlaceholdersPlaceAndDialogFont) {
    QDialog dialog;
    QFrame frame(&dialog);
    QVBoxLayout layout(&dialog);
    QFrame* placeholder = &frame;
    placeholder->setMinimumSize(300, 200);
    SetControlId(*placeholder, 1006);
    layout.addWidget(placeholder);
    QFont dialogFont("Sans", 10);
    dialogFont.setWeight(QFont::Normal);
    dialog.setFont(dialogFont);
    dialog.show();
    QApplication::processEvents();
    const QRect place = placeholder->geometry();

    RecordingGrid grid;
    EXPECT_NE(grid.AttachToDialogControl(&dialog, 999), GRID_OK);
    ASSERT_EQ(grid.AttachToDialogControl(&dialog, 1006), GRID_OK);
    EXPECT_EQ(grid.calls, (std::vector<std::string>{"OnGridSetUp"}));
    EXPECT_EQ(grid.parentWidget(), &dialog);
    EXPECT_EQ(grid.geometry(), place);
    EXPECT_TRUE(grid.isVisible());
    EXPECT_FALSE(placeholder->isVisible());
    EXPECT_EQ(FindControl(dialog, 1006), &grid);
    EXPECT_EQ(grid.GetStyle() & (WS_TABSTOP | WS_CLIPCHILDREN), WS_TABSTOP | WS_CLIPCHILDREN);
    EXPECT_EQ(grid.focusPolicy(), Qt::StrongFocus);

    CGridCell format;
    grid.ReadDefaultFormat(&format);
    ASSERT_NE(format.GetFont(), nullptr);
    EXPECT_EQ(format.GetFont()->weight(), QFont::DemiBold);  // 400 + 200
    EXPECT_EQ(format.GetFont()->family(), dialogFont.family());

    grid.SetColumnCount(1);
    grid.SetRowCount(1);
    const QAbstractItemModel* model = grid.GetTableView()->model();
    EXPECT_EQ(model->index(0, 0).data(Qt::FontRole).value<QFont>().weight(), QFont::Normal);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal, Qt::FontRole).value<QFont>().weight(),
              QFont::DemiBold);
}

}  // namespace
