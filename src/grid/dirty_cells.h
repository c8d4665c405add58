#pragma once
// The cells written since the views were last told, kept so that a burst of writes (filling a
// grid, refreshing live values) reaches the views as a handful of ranged notifications instead
// of one per cell. Marking is O(1); the notification is one block per run of adjacent written
// columns, spanning the rows written in any of them.

#include <optional>
#include <vector>

class CDirtyCells {
  public:
    struct Block {
        int firstColumn;
        int lastColumn;
        int firstRow;
        int lastRow;
        bool operator==(const Block&) const = default;
    };
    struct Range {
        int first;
        int last;
        bool operator==(const Range&) const = default;
    };

    // A cell was written: row -1 is the header row (a column title), a negative column a
    // row-header column; where both meet nothing is shown, so nothing is kept.
    void MarkCell(int column, int row);
    // Every row from firstRow to lastRow of the columns firstColumn to lastColumn was written.
    void MarkColumns(int firstColumn, int lastColumn, int firstRow, int lastRow);

    bool IsEmpty() const { return !any_; }

    // The written data cells within the grid's current size, as blocks in column order.
    std::vector<Block> TakeBlocks(int columnCount, int rowCount);
    // The columns whose titles were written, within the column count.
    std::optional<Range> TakeColumnTitles(int columnCount);
    // The rows whose row-header cells were written, within the row count.
    std::optional<Range> TakeRowHeadings(int rowCount);
    // Forgets everything (after a change that repaints the whole grid anyway).
    void Clear();

  private:
    struct Span {
        int first = 0;
        int last = -1;
        bool IsEmpty() const { return last < first; }
        void Add(int low, int high);
        std::optional<Range> Clamped(int count) const;
    };

    std::vector<Span> columns_;  // by data column; grows to the highest column written
    Span titles_;                // columns of the header row
    Span headings_;              // rows of the row-header columns
    bool any_ = false;
};
