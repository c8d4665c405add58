#pragma once
// The two headings of the grid: the header row above the columns, whose borders the operator
// may drag, and the row-header area at the left, which draws any number of row-header columns
// side by side in each row's section.

#include <QHeaderView>

class CGridGeometry;

// The header row. It tells apart a width change the operator makes by dragging a border from
// any other, so the grid can draw its tracking line while the drag lasts.
class CColumnHeaderView final : public QHeaderView {
    Q_OBJECT

  public:
    explicit CColumnHeaderView(QWidget* parent = nullptr);

    // True from the first width change of a drag until the mouse button is released.
    bool IsDragging() const { return dragging_; }

  signals:
    // The operator released the mouse button that was dragging a border.
    void dragFinished();

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool inButtonMove_ = false;
    bool dragging_ = false;
};

// The row headers: each row's section is split into the row-header columns, leftmost (the
// highest-numbered, -count) first, each showing its own cell.
class CRowHeaderView final : public QHeaderView {
    Q_OBJECT

  public:
    CRowHeaderView(const CGridGeometry& geometry, QWidget* parent = nullptr);

    // The row-header column (-1 and down) under x, in this widget's coordinates; 0 for none.
    int ColumnAt(int x) const;

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

  private:
    const CGridGeometry& geometry_;
};
