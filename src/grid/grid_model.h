#pragma once
// The Qt model over a grid's cell store. It answers the views from the cell records on demand
// (only visible cells are ever asked for) and turns changes into as few notifications as
// possible: changes of shape as one ranged insert or remove, cell writes collected and told as
// one dataChanged per run of written columns, either when the grid repaints or, at the latest,
// when control returns to the event loop.

#include <span>
#include <string_view>

#include <QAbstractTableModel>

#include "grid/grid_store.h"

class CGridModel final : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit CGridModel(QObject* parent = nullptr);

    const CGridStore& Store() const { return store_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Changes of shape, told to the views as ranged inserts and removes. Counts and indexes are
    // checked by the grid before they come here.
    void SetRowCount(int count);
    void InsertRow(int index);
    void SetColumnCount(int count);
    void SetRowHeaderColumnCount(int count);

    // Cell writes: stored at once, told to the views later (Flush). False outside the grid.
    bool Write(int column, int row, const CGridCell& cell);
    bool SetText(int column, int row, std::string_view text);
    void SetDefaultFormat(const CGridCell& cell);
    void SetGridFont(const QFont& font);

    // Every row of these columns changed: one dataChanged per run of adjacent columns, now.
    void RefreshColumns(std::span<const int> columns);
    // Tells the views what was written since the last time.
    void Flush();

  private:
    void ScheduleFlush();
    // The cell's text as Qt text.
    QString Text(int column, int row) const;
    QVariant FontOf(int column, int row) const;

    CGridStore store_;
    bool flushPosted_ = false;
};
