#include "grid/control_id.h"

#include <QVariant>
#include <QWidget>

namespace {
constexpr const char* kControlIdProperty = "controlId";
}

void SetControlId(QWidget& widget, UINT id) {
    widget.setProperty(kControlIdProperty, QVariant::fromValue(id));
}

UINT GetControlId(const QWidget& widget) {
    const QVariant value = widget.property(kControlIdProperty);
    return value.isValid() ? value.value<UINT>() : 0;
}

QWidget* FindControl(const QWidget& parent, UINT id) {
    if (id == 0) {
        return nullptr;  // 0 is "no id"
    }
    const auto children = parent.findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (GetControlId(*child) == id) {
            return child;
        }
    }
    return nullptr;
}

void ClearControlId(QWidget& widget) {
    widget.setProperty(kControlIdProperty, QVariant());
}
