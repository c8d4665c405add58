#pragma once
// Control ids on Qt widgets: a dialog's controls carry the number their dialog code knows them
// by, so the grid can take over a placeholder control and be found again by its own id.

#include "com/types.h"

class QWidget;

// Gives widget the control id.
void SetControlId(QWidget& widget, UINT id);
// The widget's control id, 0 when it has none.
UINT GetControlId(const QWidget& widget);
// The first descendant of parent (depth first) that carries the id, or null; 0 finds none.
QWidget* FindControl(const QWidget& parent, UINT id);
// Takes the id away from the widget.
void ClearControlId(QWidget& widget);
