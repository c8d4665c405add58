#include "grid/grid_delegate.h"

#include <memory>

#include <QFont>
#include <QFontMetrics>

#include "grid/editor_geometry.h"

CCellEditor::CCellEditor(const QModelIndex& index, QWidget* parent)
    : QLineEdit(parent), index_(index) {
    setFrame(false);
    connect(this, &QLineEdit::textChanged, this, &CCellEditor::FitToText);
}

void CCellEditor::Place(const QRect& cell, const QRect& bounds, bool autoGrow) {
    cell_ = cell;
    bounds_ = bounds;
    autoGrow_ = autoGrow;
    FitToText();
}

void CCellEditor::TakeInitialText(const QString& text) {
    if (!hasText_) {
        hasText_ = true;
        setText(text);
    }
}

void CCellEditor::FitToText() {
    if (!cell_.isValid()) {
        return;
    }
    if (!autoGrow_) {
        setGeometry(cell_);
        return;
    }
    const QFontMetrics metrics(font());
    // The margin keeps the caret and the next character visible before the editor grows again.
    const QSize needed(metrics.horizontalAdvance(text()) + 2 * metrics.averageCharWidth() + 4,
                       metrics.height() + 4);
    setGeometry(GrowEditorRect(cell_, needed, bounds_));
}

CGridDelegate::CGridDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QWidget* CGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& /*option*/,
                                     const QModelIndex& index) const {
    auto editor = std::make_unique<CCellEditor>(index, parent);
    const QVariant font = index.data(Qt::FontRole);
    if (font.isValid()) {
        editor->setFont(font.value<QFont>());
    }
    // The view takes ownership of its editors.
    return editor.release();
}

void CGridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    if (auto* cellEditor = qobject_cast<CCellEditor*>(editor)) {
        cellEditor->TakeInitialText(index.data(Qt::EditRole).toString());
    }
}

void CGridDelegate::setModelData(QWidget* /*editor*/, QAbstractItemModel* /*model*/,
                                 const QModelIndex& /*index*/) const {
    // The grid stores the text when the edit is accepted (CDataGrid's OnEditClosed path).
}

void CGridDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                         const QModelIndex& /*index*/) const {
    auto* cellEditor = qobject_cast<CCellEditor*>(editor);
    if (!cellEditor) {
        return;
    }
    const QRect bounds = editor->parentWidget() ? editor->parentWidget()->rect() : option.rect;
    cellEditor->Place(option.rect, bounds, autoGrow_);
}
