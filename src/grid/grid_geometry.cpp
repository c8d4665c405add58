#include "grid/grid_geometry.h"

#include <algorithm>
#include <cstddef>
#include <numeric>

#include "grid/grid_defs.h"

namespace {

std::size_t Index(int value) {
    return static_cast<std::size_t>(value);
}

bool IsSize(int size) {
    return size >= 0 && size <= GRID_MAX_SIZE;
}

// Shares total among count columns: each takes total / count, the first ones one more until
// the remainder is used up.
std::vector<int> ShareEvenly(int total, int count) {
    std::vector<int> widths(Index(count), total / count);
    for (int i = 0; i < total % count; ++i) {
        ++widths[Index(i)];
    }
    return widths;
}

}  // namespace

const int CGridGeometry::kOwnHeightLimit = GRID_MAX_ROWS_WITH_OWN_HEIGHT;

CGridGeometry::CGridGeometry()
    : headWidths_{GRID_DEFAULT_ROW_HEADER_WIDTH},
      defaultColumnWidth_(GRID_DEFAULT_COLUMN_WIDTH),
      headerHeight_(GRID_DEFAULT_HEADER_HEIGHT),
      defaultRowHeight_(GRID_DEFAULT_ROW_HEIGHT) {}

void CGridGeometry::SetColumnCount(int count) {
    widths_.resize(Index(count), defaultColumnWidth_);
}

int CGridGeometry::ColumnWidth(int column) const {
    if (column >= 0) {
        return column < ColumnCount() ? widths_[Index(column)] : -1;
    }
    return -column <= RowHeaderColumnCount() ? headWidths_[Index(-column - 1)] : -1;
}

bool CGridGeometry::SetColumnWidth(int column, int width) {
    if (!IsSize(width)) {
        return false;
    }
    if (column >= 0) {
        if (column >= ColumnCount()) {
            return false;
        }
        widths_[Index(column)] = width;
        return true;
    }
    if (-column > RowHeaderColumnCount()) {
        return false;
    }
    int& head = headWidths_[Index(-column - 1)];
    if (RowHeaderWidth() - head + width > GRID_MAX_ROW_HEADER_WIDTH) {
        return false;
    }
    head = width;
    return true;
}

bool CGridGeometry::SetRowHeaderColumnCount(int count) {
    if (count < 1 || count > GRID_MAX_ROW_HEADER_COLUMNS) {
        return false;
    }
    headWidths_ = ShareEvenly(RowHeaderWidth(), count);
    return true;
}

int CGridGeometry::RowHeaderWidth() const {
    return std::accumulate(headWidths_.begin(), headWidths_.end(), 0);
}

bool CGridGeometry::SetRowHeaderWidth(int width) {
    if (width < 0 || width > GRID_MAX_ROW_HEADER_WIDTH) {
        return false;
    }
    const int old = RowHeaderWidth();
    if (old == 0) {
        headWidths_ = ShareEvenly(width, RowHeaderColumnCount());
        return true;
    }
    // Each column keeps its share, rounded down; what rounding left over goes to the columns in
    // order, one pixel each, so the sum is exact.
    int used = 0;
    for (int& head : headWidths_) {
        head = static_cast<int>(static_cast<long long>(head) * width / old);
        used += head;
    }
    for (std::size_t i = 0; used < width; i = (i + 1) % headWidths_.size()) {
        ++headWidths_[i];
        ++used;
    }
    return true;
}

bool CGridGeometry::SetHeaderRowHeight(int height) {
    if (!IsSize(height)) {
        return false;
    }
    headerHeight_ = height;
    return true;
}

void CGridGeometry::SetRowCount(int count) {
    rowCount_ = count;
    if (!HasOwnRowHeights()) {
        rowHeights_.clear();
        rowHeights_.shrink_to_fit();
    } else {
        // Rows coming back from a shared height start from it.
        rowHeights_.resize(Index(count), defaultRowHeight_);
    }
}

void CGridGeometry::InsertRow(int index) {
    ++rowCount_;
    if (!HasOwnRowHeights()) {
        rowHeights_.clear();
        rowHeights_.shrink_to_fit();
    } else {
        rowHeights_.insert(rowHeights_.begin() + index, defaultRowHeight_);
    }
}

int CGridGeometry::RowHeight(int row) const {
    if (row < 0 || row >= rowCount_) {
        return -1;
    }
    return HasOwnRowHeights() ? rowHeights_[Index(row)] : defaultRowHeight_;
}

bool CGridGeometry::SetRowHeight(int row, int height) {
    if (row < 0 || row >= rowCount_ || !IsSize(height)) {
        return false;
    }
    if (HasOwnRowHeights()) {
        rowHeights_[Index(row)] = height;
    } else {
        defaultRowHeight_ = height;
    }
    return true;
}

bool CGridGeometry::SetDefaultRowHeight(int height) {
    if (!IsSize(height)) {
        return false;
    }
    defaultRowHeight_ = height;
    std::fill(rowHeights_.begin(), rowHeights_.end(), height);
    return true;
}
