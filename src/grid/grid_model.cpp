#include "grid/grid_model.h"

#include <algorithm>
#include <vector>

#include <QColor>
#include <QFont>

CGridModel::CGridModel(QObject* parent) : QAbstractTableModel(parent) {}

int CGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : store_.RowCount();
}

int CGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : store_.ColumnCount();
}

QString CGridModel::Text(int column, int row) const {
    const std::string_view text = store_.EffectiveText(column, row);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant CGridModel::FontOf(int column, int row) const {
    const QFont* font = store_.EffectiveFont(column, row);
    return font ? QVariant(*font) : QVariant();
}

QVariant CGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= store_.RowCount() ||
        index.column() >= store_.ColumnCount()) {
        return {};
    }
    const int column = index.column();
    const int row = index.row();
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return Text(column, row);
        case Qt::FontRole:
            return FontOf(column, row);
        case Qt::ForegroundRole: {
            const QColor* color = store_.EffectiveTextColor(column, row);
            return color ? QVariant(*color) : QVariant();
        }
        case Qt::BackgroundRole: {
            const QColor* color = store_.EffectiveBackColor(column, row);
            return color ? QVariant(*color) : QVariant();
        }
        case Qt::TextAlignmentRole: {
            const Qt::Alignment alignment = store_.EffectiveAlignment(column, row);
            return QVariant::fromValue(
                static_cast<int>(alignment ? alignment : (Qt::AlignLeft | Qt::AlignVCenter)));
        }
        default:
            return {};
    }
}

QVariant CGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    // Column titles are the header row's cells; a row's heading is its row-header column -1.
    const int column = orientation == Qt::Horizontal ? section : -1;
    const int row = orientation == Qt::Horizontal ? -1 : section;
    if (!store_.Contains(column, row)) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            return Text(column, row);
        case Qt::FontRole:
            return FontOf(column, row);
        default:
            return {};
    }
}

Qt::ItemFlags CGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!store_.IsReadOnly(index.column(), index.row())) {
        flags |= Qt::ItemIsEditable;
    }
    return flags;
}

void CGridModel::SetRowCount(int count) {
    Flush();  // what was written is told with the indexes it was written at
    const int old = store_.RowCount();
    if (count > old) {
        beginInsertRows(QModelIndex(), old, count - 1);
        store_.SetRowCount(count);
        endInsertRows();
    } else if (count < old) {
        beginRemoveRows(QModelIndex(), count, old - 1);
        store_.SetRowCount(count);
        endRemoveRows();
    }
}

void CGridModel::InsertRow(int index) {
    Flush();
    beginInsertRows(QModelIndex(), index, index);
    store_.InsertRow(index);
    endInsertRows();
}

void CGridModel::SetColumnCount(int count) {
    Flush();
    const int old = store_.ColumnCount();
    if (count > old) {
        beginInsertColumns(QModelIndex(), old, count - 1);
        store_.SetColumnCount(count);
        endInsertColumns();
    } else if (count < old) {
        beginRemoveColumns(QModelIndex(), count, old - 1);
        store_.SetColumnCount(count);
        endRemoveColumns();
    }
}

void CGridModel::SetRowHeaderColumnCount(int count) {
    store_.SetRowHeaderColumnCount(count);
    if (store_.RowCount() > 0) {
        emit headerDataChanged(Qt::Vertical, 0, store_.RowCount() - 1);
    }
}

bool CGridModel::Write(int column, int row, const CGridCell& cell) {
    if (!store_.Write(column, row, cell)) {
        return false;
    }
    ScheduleFlush();
    return true;
}

bool CGridModel::SetText(int column, int row, std::string_view text) {
    if (!store_.SetText(column, row, text)) {
        return false;
    }
    ScheduleFlush();
    return true;
}

void CGridModel::SetDefaultFormat(const CGridCell& cell) {
    store_.SetDefaultFormat(cell);
    RefreshColumns({});
}

void CGridModel::SetGridFont(const QFont& font) {
    store_.SetGridFont(font);
    RefreshColumns({});
}

void CGridModel::RefreshColumns(std::span<const int> columns) {
    const int rows = store_.RowCount();
    const int count = store_.ColumnCount();
    if (columns.empty()) {
        // Everything: every data cell, every title and every row heading.
        if (rows > 0 && count > 0) {
            store_.Dirty().MarkColumns(0, count - 1, 0, rows - 1);
        }
        for (int column = 0; column < count; ++column) {
            store_.Dirty().MarkCell(column, -1);
        }
        if (rows > 0) {
            store_.Dirty().MarkCell(-1, 0);
            store_.Dirty().MarkCell(-1, rows - 1);
        }
    } else if (rows > 0) {
        for (const int column : columns) {
            if (column >= 0 && column < count) {
                store_.Dirty().MarkColumns(column, column, 0, rows - 1);
            }
        }
    }
    Flush();
}

void CGridModel::Flush() {
    CDirtyCells& dirty = store_.Dirty();
    if (dirty.IsEmpty()) {
        return;
    }
    const int rows = store_.RowCount();
    const int columns = store_.ColumnCount();
    const std::vector<CDirtyCells::Block> blocks = dirty.TakeBlocks(columns, rows);
    const auto titles = dirty.TakeColumnTitles(columns);
    const auto headings = dirty.TakeRowHeadings(rows);
    for (const CDirtyCells::Block& block : blocks) {
        emit dataChanged(index(block.firstRow, block.firstColumn),
                         index(block.lastRow, block.lastColumn));
    }
    if (titles) {
        emit headerDataChanged(Qt::Horizontal, titles->first, titles->last);
    }
    if (headings) {
        emit headerDataChanged(Qt::Vertical, headings->first, headings->last);
    }
}

void CGridModel::ScheduleFlush() {
    if (flushPosted_) {
        return;
    }
    flushPosted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            flushPosted_ = false;
            Flush();
        },
        Qt::QueuedConnection);
}
