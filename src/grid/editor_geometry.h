#pragma once
// Where the in-place editor sits. It starts on its cell; with auto-grow it widens and heightens
// to its text plus a margin, growing right and down from the cell's corner, but never past the
// grid's cell area and never smaller than the cell.

#include <QRect>
#include <QSize>

// The editor's rectangle for a cell, the size its text needs (margin included) and the area it
// must stay within.
QRect GrowEditorRect(const QRect& cell, const QSize& textSize, const QRect& bounds);
