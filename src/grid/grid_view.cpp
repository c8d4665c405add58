#include "grid/grid_view.h"

#include <QMouseEvent>
#include <QPointer>

#include "grid/data_grid.h"

CGridView::CGridView(CDataGrid& grid, QWidget* parent) : QTableView(parent), grid_(grid) {}

bool CGridView::StartEdit(const QModelIndex& index) {
    return edit(index, AllEditTriggers, nullptr);
}

void CGridView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QPoint point = event->position().toPoint();
    const QModelIndex index = indexAt(point);
    if (index.isValid()) {
        grid_.HandleDoubleClick(index, point);
    }
}

void CGridView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    if (editor == closing_) {
        return;  // asked again (a focus change) while the hooks decide
    }
    const QPointer<QWidget> guard(editor);
    closing_ = editor;
    const bool accepted =
        grid_.HandleEditorClosing(editor, hint == QAbstractItemDelegate::RevertModelCache);
    closing_ = nullptr;
    if (!guard) {
        return;
    }
    if (!accepted) {
        guard->setFocus();  // the editor stays open for the operator to correct
        return;
    }
    QTableView::closeEditor(editor, hint);
}

void CGridView::commitData(QWidget* /*editor*/) {
    // The grid stores the text itself once the edit is accepted.
}
