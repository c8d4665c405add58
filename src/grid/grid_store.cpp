#include "grid/grid_store.h"

#include <cstddef>
#include <utility>

namespace {

std::size_t Index(int value) {
    return static_cast<std::size_t>(value);
}

// Position of a row-header column in a row's heads: -1 is 0, -2 is 1, ...
std::size_t HeadIndex(int column) {
    return static_cast<std::size_t>(-column - 1);
}

void Truncate(std::vector<CGridCell>& cells, int count) {
    if (cells.size() > Index(count)) {
        cells.resize(Index(count));
    }
}

}  // namespace

CGridStore::CGridStore() = default;

bool CGridStore::Contains(int column, int row) const {
    return column >= -rowHeaderColumns_ && column < columns_ && row >= -1 && row < RowCount();
}

void CGridStore::SetColumnCount(int count) {
    if (count < columns_) {
        Truncate(header_.cells, count);
        for (Row& row : rows_) {
            Truncate(row.cells, count);
        }
    }
    columns_ = count;
}

void CGridStore::SetRowCount(int count) {
    rows_.resize(Index(count));
}

void CGridStore::InsertRow(int index) {
    rows_.insert(rows_.begin() + index, Row{});
}

void CGridStore::SetRowHeaderColumnCount(int count) {
    if (count < rowHeaderColumns_) {
        Truncate(header_.heads, count);
        for (Row& row : rows_) {
            Truncate(row.heads, count);
        }
    }
    rowHeaderColumns_ = count;
}

const CGridStore::Row* CGridStore::FindRow(int row) const {
    if (row == -1) {
        return &header_;
    }
    return row >= 0 && row < RowCount() ? &rows_[Index(row)] : nullptr;
}

CGridStore::Row* CGridStore::FindRow(int row) {
    return const_cast<Row*>(std::as_const(*this).FindRow(row));
}

const CGridCell* CGridStore::Find(int column, int row) const {
    if (!Contains(column, row)) {
        return nullptr;
    }
    const Row& cells = *FindRow(row);
    const std::vector<CGridCell>& line = column >= 0 ? cells.cells : cells.heads;
    const std::size_t at = column >= 0 ? Index(column) : HeadIndex(column);
    return at < line.size() ? &line[at] : nullptr;
}

CGridCell& CGridStore::Cell(int column, int row) {
    Row& cells = *FindRow(row);
    std::vector<CGridCell>& line = column >= 0 ? cells.cells : cells.heads;
    const std::size_t at = column >= 0 ? Index(column) : HeadIndex(column);
    if (line.size() <= at) {
        line.resize(at + 1);
    }
    return line[at];
}

bool CGridStore::Read(int column, int row, CGridCell& cell) const {
    if (!Contains(column, row)) {
        return false;
    }
    const CGridCell* own = Find(column, row);
    if (own) {
        cell = *own;
    } else {
        cell.Clear();
    }
    return true;
}

bool CGridStore::Write(int column, int row, const CGridCell& cell) {
    if (!Contains(column, row)) {
        return false;
    }
    Cell(column, row).MergeFrom(cell);
    dirty_.MarkCell(column, row);
    return true;
}

bool CGridStore::SetText(int column, int row, std::string_view text) {
    if (!Contains(column, row)) {
        return false;
    }
    Cell(column, row).SetText(text);
    dirty_.MarkCell(column, row);
    return true;
}

std::string_view CGridStore::EffectiveText(int column, int row) const {
    const CGridCell* own = Find(column, row);
    if (own && own->IsSet(CGridCell::propText)) {
        return own->GetText();
    }
    return default_.GetText();
}

bool CGridStore::IsReadOnly(int column, int row) const {
    const CGridCell* own = Find(column, row);
    if (own && own->IsSet(CGridCell::propNoEdit)) {
        return own->IsNoEdit();
    }
    return default_.IsNoEdit();
}

int CGridStore::CellTypeIndex(int column, int row) const {
    const CGridCell* own = Find(column, row);
    if (own && own->IsSet(CGridCell::propCellType)) {
        return own->GetCellTypeIndex();
    }
    return default_.GetCellTypeIndex();
}

const QColor* CGridStore::EffectiveTextColor(int column, int row) const {
    const CGridCell* own = Find(column, row);
    if (own && own->GetTextColor()) {
        return own->GetTextColor();
    }
    return default_.GetTextColor();
}

const QColor* CGridStore::EffectiveBackColor(int column, int row) const {
    const CGridCell* own = Find(column, row);
    if (own && own->GetBackColor()) {
        return own->GetBackColor();
    }
    return default_.GetBackColor();
}

Qt::Alignment CGridStore::EffectiveAlignment(int column, int row) const {
    const CGridCell* own = Find(column, row);
    if (own && own->IsSet(CGridCell::propAlignment)) {
        return own->GetAlignment();
    }
    return default_.GetAlignment();
}

const QFont* CGridStore::EffectiveFont(int column, int row) const {
    const CGridCell* own = Find(column, row);
    if (own && own->GetFont()) {
        return own->GetFont();
    }
    const bool heading = row < 0 || column < 0;
    const QFont* first = heading ? default_.GetFont() : GridFont();
    const QFont* second = heading ? GridFont() : default_.GetFont();
    return first ? first : second;
}
