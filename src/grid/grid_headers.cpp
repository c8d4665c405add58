#include "grid/grid_headers.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionHeader>

#include "grid/grid_geometry.h"
#include "grid/grid_model.h"

CColumnHeaderView::CColumnHeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    // Connected before anyone else, so the flag is up when the grid hears of the change.
    connect(this, &QHeaderView::sectionResized, this, [this] {
        if (inButtonMove_) {
            dragging_ = true;
        }
    });
}

void CColumnHeaderView::mouseMoveEvent(QMouseEvent* event) {
    inButtonMove_ = (event->buttons() & Qt::LeftButton) != 0;
    QHeaderView::mouseMoveEvent(event);
    inButtonMove_ = false;
}

void CColumnHeaderView::mouseReleaseEvent(QMouseEvent* event) {
    QHeaderView::mouseReleaseEvent(event);
    if (dragging_) {
        dragging_ = false;
        emit dragFinished();
    }
}

CRowHeaderView::CRowHeaderView(const CGridGeometry& geometry, QWidget* parent)
    : QHeaderView(Qt::Vertical, parent), geometry_(geometry) {}

int CRowHeaderView::ColumnAt(int x) const {
    int left = 0;
    for (int column = -geometry_.RowHeaderColumnCount(); column <= -1; ++column) {
        const int width = geometry_.ColumnWidth(column);
        if (x >= left && x < left + width) {
            return column;
        }
        left += width;
    }
    return 0;
}

void CRowHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    const auto* grid = qobject_cast<const CGridModel*>(model());
    if (!grid || !rect.isValid()) {
        return;
    }
    const CGridStore& store = grid->Store();
    int left = rect.left();
    for (int column = -geometry_.RowHeaderColumnCount(); column <= -1; ++column) {
        const int width = geometry_.ColumnWidth(column);
        if (width <= 0) {
            continue;
        }
        QStyleOptionHeader option;
        initStyleOptionForIndex(&option, logicalIndex);
        option.rect = QRect(left, rect.top(), width, rect.height());
        const std::string_view text = store.EffectiveText(column, logicalIndex);
        option.text = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        option.textAlignment = Qt::AlignCenter;
        painter->save();
        if (const QFont* font = store.EffectiveFont(column, logicalIndex)) {
            painter->setFont(*font);
        }
        style()->drawControl(QStyle::CE_Header, &option, painter, this);
        painter->restore();
        left += width;
    }
}
