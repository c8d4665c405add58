#pragma once
// The sizes of a grid's parts in pixels: data column widths, the row-header columns, the header
// row and the row heights. Rows keep a height of their own up to GRID_MAX_ROWS_WITH_OWN_HEIGHT
// rows; a larger grid uses one height for every row, so it needs no per-row storage.
//
// Setters return false and change nothing when refused; the ranges are those of the grid's
// operations.

#include <vector>

class CGridGeometry {
  public:
    CGridGeometry();

    // Data columns. New columns take the default column width.
    int ColumnCount() const { return static_cast<int>(widths_.size()); }
    void SetColumnCount(int count);
    // Width of a data column (0 and up) or a row-header column (-1 and down); -1 for a column
    // that does not exist.
    int ColumnWidth(int column) const;
    // Refused for a column that does not exist, a width outside 0 to GRID_MAX_SIZE, and a
    // row-header column whose new width would take the row headers beyond their maximum.
    bool SetColumnWidth(int column, int width);
    int DefaultColumnWidth() const { return defaultColumnWidth_; }

    // Row-header columns: how many (1 to GRID_MAX_ROW_HEADER_COLUMNS) and their total width
    // (0 to GRID_MAX_ROW_HEADER_WIDTH; 0 hides them).
    int RowHeaderColumnCount() const { return static_cast<int>(headWidths_.size()); }
    // Keeps the total width and shares it evenly among the new count.
    bool SetRowHeaderColumnCount(int count);
    int RowHeaderWidth() const;
    // Rescales every row-header column in proportion to its share; when they were all 0 wide
    // the width is shared evenly. The widths always add up to the total exactly.
    bool SetRowHeaderWidth(int width);

    int HeaderRowHeight() const { return headerHeight_; }
    bool SetHeaderRowHeight(int height);

    // Rows. New rows take the default row height.
    int RowCount() const { return rowCount_; }
    void SetRowCount(int count);
    void InsertRow(int index);
    // Whether rows keep heights of their own (at most GRID_MAX_ROWS_WITH_OWN_HEIGHT rows).
    bool HasOwnRowHeights() const { return rowCount_ <= kOwnHeightLimit; }
    // Height of a row; -1 for a row that does not exist.
    int RowHeight(int row) const;
    // Sets one row's height; with one height for all rows, sets that height.
    bool SetRowHeight(int row, int height);
    // The height new rows take, and the height of every row when rows share one.
    int DefaultRowHeight() const { return defaultRowHeight_; }
    // Sets the default and gives it to every row.
    bool SetDefaultRowHeight(int height);

  private:
    static const int kOwnHeightLimit;

    std::vector<int> widths_;
    std::vector<int> headWidths_;  // -1 first
    int defaultColumnWidth_;
    int headerHeight_;
    int rowCount_ = 0;
    std::vector<int> rowHeights_;  // empty while rows share one height
    int defaultRowHeight_;
};
