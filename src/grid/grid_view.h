#pragma once
// The table view inside CDataGrid. It hands the grid the events that reach its hooks (double
// clicks, the closing of the in-place editor) and leaves storing edited text to the grid.

#include <QTableView>

class CDataGrid;

class CGridView final : public QTableView {
    Q_OBJECT

  public:
    CGridView(CDataGrid& grid, QWidget* parent);

    // Opens the in-place editor on index; false when the cell cannot be edited.
    bool StartEdit(const QModelIndex& index);
    bool IsEditing() const { return state() == EditingState; }
    // Lays out headers, cell area and scroll bars for the current sizes.
    void RecalcGeometries() { updateGeometries(); }

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void commitData(QWidget* editor) override;

  private:
    CDataGrid& grid_;
    QWidget* closing_ = nullptr;  // the editor whose closing is being decided
};
