#include "grid/editor_geometry.h"

#include <algorithm>

QRect GrowEditorRect(const QRect& cell, const QSize& textSize, const QRect& bounds) {
    // Room from the cell's corner to the far edges of the area; a cell that already reaches
    // past them keeps its own size.
    const int roomX = std::max(cell.width(), bounds.right() - cell.left() + 1);
    const int roomY = std::max(cell.height(), bounds.bottom() - cell.top() + 1);
    const int width = std::clamp(textSize.width(), cell.width(), roomX);
    const int height = std::clamp(textSize.height(), cell.height(), roomY);
    return QRect(cell.topLeft(), QSize(width, height));
}
