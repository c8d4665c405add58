#pragma once
// The cells of a grid, stored by row, with the default cell format and the grid font that the
// cells inherit from. No pixels and no Qt signals: the model on top tells the views.
//
// Addressing: data columns 0 to ColumnCount()-1 and rows 0 to RowCount()-1; row -1 is the
// header row (column titles); columns -1 to -RowHeaderColumnCount() are the row-header columns,
// -1 nearest the data. A row keeps only the cells up to the last one ever written in it, so a
// new row costs one empty record and no cells.

#include <optional>
#include <string_view>
#include <vector>

#include <QFont>

#include "grid/dirty_cells.h"
#include "grid/grid_cell.h"

class CGridStore {
  public:
    CGridStore();

    int ColumnCount() const { return columns_; }
    int RowCount() const { return static_cast<int>(rows_.size()); }
    int RowHeaderColumnCount() const { return rowHeaderColumns_; }

    // Whether (column, row) addresses a cell: the data cells, the header row and the row-header
    // columns all count.
    bool Contains(int column, int row) const;

    // Changes of shape. Cells of removed rows and columns are destroyed; new rows and columns
    // are empty. The counts are not checked here (the grid refuses bad ones first).
    void SetColumnCount(int count);
    void SetRowCount(int count);
    void InsertRow(int index);
    void SetRowHeaderColumnCount(int count);

    // The cell's own properties, or null when the cell has never been written.
    const CGridCell* Find(int column, int row) const;
    // Fills cell with the cell's own properties; false outside the grid.
    bool Read(int column, int row, CGridCell& cell) const;
    // Stores the properties cell sets into the cell, keeping the others; false outside the grid.
    bool Write(int column, int row, const CGridCell& cell);
    // Sets the cell's text, keeping its other properties; false outside the grid.
    bool SetText(int column, int row, std::string_view text);

    const CGridCell& DefaultFormat() const { return default_; }
    void SetDefaultFormat(const CGridCell& cell) { default_ = cell; }
    const QFont* GridFont() const { return gridFont_ ? &*gridFont_ : nullptr; }
    void SetGridFont(const QFont& font) { gridFont_ = font; }

    // What a cell shows and how it behaves: its own property, else the default format's.
    std::string_view EffectiveText(int column, int row) const;
    bool IsReadOnly(int column, int row) const;
    int CellTypeIndex(int column, int row) const;
    const QColor* EffectiveTextColor(int column, int row) const;
    const QColor* EffectiveBackColor(int column, int row) const;
    Qt::Alignment EffectiveAlignment(int column, int row) const;
    // The font of a cell: its own; else, for data cells, the grid font before the default
    // format's, and for headings (header row, row-header columns) the default format's before
    // the grid font; null when none of them is set.
    const QFont* EffectiveFont(int column, int row) const;

    // The cells written since the views were last told.
    CDirtyCells& Dirty() { return dirty_; }

  private:
    struct Row {
        std::vector<CGridCell> cells;  // data columns 0.. (only up to the last written)
        std::vector<CGridCell> heads;  // row-header columns -1, -2, ... (likewise)
    };
    const Row* FindRow(int row) const;
    Row* FindRow(int row);
    CGridCell& Cell(int column, int row);  // creates the storage up to the cell

    int columns_ = 0;
    int rowHeaderColumns_ = 1;
    std::vector<Row> rows_;
    Row header_;  // row -1
    CGridCell default_;
    std::optional<QFont> gridFont_;
    CDirtyCells dirty_;
};
