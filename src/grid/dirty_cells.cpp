#include "grid/dirty_cells.h"

#include <algorithm>
#include <cstddef>

void CDirtyCells::Span::Add(int low, int high) {
    if (IsEmpty()) {
        first = low;
        last = high;
    } else {
        first = std::min(first, low);
        last = std::max(last, high);
    }
}

std::optional<CDirtyCells::Range> CDirtyCells::Span::Clamped(int count) const {
    if (IsEmpty() || first >= count) {
        return std::nullopt;
    }
    return Range{std::max(first, 0), std::min(last, count - 1)};
}

void CDirtyCells::MarkCell(int column, int row) {
    if (row < 0 && column < 0) {
        return;
    }
    any_ = true;
    if (row < 0) {
        titles_.Add(column, column);
    } else if (column < 0) {
        headings_.Add(row, row);
    } else {
        MarkColumns(column, column, row, row);
    }
}

void CDirtyCells::MarkColumns(int firstColumn, int lastColumn, int firstRow, int lastRow) {
    if (firstColumn < 0 || lastColumn < firstColumn || firstRow < 0 || lastRow < firstRow) {
        return;
    }
    any_ = true;
    const auto needed = static_cast<std::size_t>(lastColumn) + 1;
    if (columns_.size() < needed) {
        columns_.resize(needed);
    }
    for (int column = firstColumn; column <= lastColumn; ++column) {
        columns_[static_cast<std::size_t>(column)].Add(firstRow, lastRow);
    }
}

std::vector<CDirtyCells::Block> CDirtyCells::TakeBlocks(int columnCount, int rowCount) {
    std::vector<Block> blocks;
    const int limit = std::min(columnCount, static_cast<int>(columns_.size()));
    for (int column = 0; column < limit; ++column) {
        const auto range = columns_[static_cast<std::size_t>(column)].Clamped(rowCount);
        if (!range) {
            continue;
        }
        if (!blocks.empty() && blocks.back().lastColumn == column - 1) {
            Block& block = blocks.back();
            block.lastColumn = column;
            block.firstRow = std::min(block.firstRow, range->first);
            block.lastRow = std::max(block.lastRow, range->last);
        } else {
            blocks.push_back(Block{column, column, range->first, range->last});
        }
    }
    columns_.clear();
    any_ = !titles_.IsEmpty() || !headings_.IsEmpty();
    return blocks;
}

std::optional<CDirtyCells::Range> CDirtyCells::TakeColumnTitles(int columnCount) {
    const auto range = titles_.Clamped(columnCount);
    titles_ = Span{};
    any_ = !columns_.empty() || !headings_.IsEmpty();
    return range;
}

std::optional<CDirtyCells::Range> CDirtyCells::TakeRowHeadings(int rowCount) {
    const auto range = headings_.Clamped(rowCount);
    headings_ = Span{};
    any_ = !columns_.empty() || !titles_.IsEmpty();
    return range;
}

void CDirtyCells::Clear() {
    columns_.clear();
    titles_ = Span{};
    headings_ = Span{};
    any_ = false;
}
