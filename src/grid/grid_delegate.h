#pragma once
// The in-place editor and the delegate that makes it. The editor is a line edit that, with
// auto-grow on, widens and heightens to its text as the operator types. The delegate never
// writes into the model itself: the grid decides, when the editor closes, whether the text is
// stored (its cell type and OnEditClosed have the say).

#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QRect>
#include <QStyledItemDelegate>

class CCellEditor final : public QLineEdit {
    Q_OBJECT

  public:
    CCellEditor(const QModelIndex& index, QWidget* parent);

    // The cell being edited; invalid once its row or column is gone.
    const QPersistentModelIndex& Index() const { return index_; }
    // Puts the editor on its cell, within bounds (the cell area); with autoGrow it keeps
    // growing to its text from there.
    void Place(const QRect& cell, const QRect& bounds, bool autoGrow);
    // The cell's text, taken once when the editor opens; later changes of the cell do not
    // overwrite what the operator is typing.
    void TakeInitialText(const QString& text);

  private:
    void FitToText();

    QPersistentModelIndex index_;
    QRect cell_;
    QRect bounds_;
    bool autoGrow_ = false;
    bool hasText_ = false;
};

class CGridDelegate final : public QStyledItemDelegate {
    Q_OBJECT

  public:
    explicit CGridDelegate(QObject* parent = nullptr);

    void SetAutoGrow(bool autoGrow) { autoGrow_ = autoGrow; }
    bool IsAutoGrow() const { return autoGrow_; }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

  private:
    bool autoGrow_ = true;
};
