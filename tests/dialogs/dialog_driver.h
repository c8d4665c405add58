#pragma once
// Driving the real Qt dialogs from a test: a script runs on the next modal dialog once it is on
// screen (modal dialogs block the test until they close), controls are found by their control
// id, and a watchdog closes any dialog a failed script left open so the test ends.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTimer>

#include "com/apartment.h"
#include "grid/control_id.h"
#include "grid/grid_cell.h"
#include "ui/item_grid.h"

namespace dialogs_test {

using namespace std::chrono_literals;

// Runs script on the next modal dialog that opens above over (null: any modal dialog). Gives up
// with a failure when none opens in time.
inline void WhenModal(std::function<void(QDialog&)> script, QWidget* over = nullptr) {
    auto* timer = new QTimer(qApp);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, script, over, deadline] {
        QWidget* const top = QApplication::activeModalWidget();
        auto* const dialog = qobject_cast<QDialog*>(top);
        if (dialog == nullptr || top == over) {
            if (std::chrono::steady_clock::now() > deadline) {
                timer->stop();
                timer->deleteLater();
                ADD_FAILURE() << "no modal dialog opened";
            }
            return;
        }
        timer->stop();
        timer->deleteLater();
        script(*dialog);
    });
    timer->start(5);
}

// Closes every modal dialog still open after the time allowed, as failures: a script that
// stopped half way must not leave the test waiting for ever.
class ModalWatchdog {
  public:
    explicit ModalWatchdog(std::chrono::milliseconds allowed = 60s) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            while (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "dialog left open: " << dialog->windowTitle().toStdString();
                dialog->done(2);
                QApplication::processEvents();
            }
            timer_.start(1s);
        });
        timer_.start(allowed);
    }

  private:
    QTimer timer_;
};

template <class Widget>
Widget* Control(const QWidget& dialog, int id) {
    return qobject_cast<Widget*>(FindControl(dialog, static_cast<UINT>(id)));
}

inline std::string Text(const QWidget& dialog, int id) {
    const auto* edit = Control<QLineEdit>(dialog, id);
    return edit != nullptr ? edit->text().toStdString() : std::string("<no edit>");
}

inline void Type(const QWidget& dialog, int id, const std::string& text) {
    auto* edit = Control<QLineEdit>(dialog, id);
    ASSERT_NE(edit, nullptr) << "edit " << id;
    edit->setText(QString::fromStdString(text));
}

// Clicks a button as the operator would: a disabled one does nothing.
inline void Click(const QWidget& dialog, int id) {
    auto* button = Control<QAbstractButton>(dialog, id);
    ASSERT_NE(button, nullptr) << "button " << id;
    button->click();
}

inline bool Enabled(const QWidget& dialog, int id) {
    const QWidget* widget = FindControl(dialog, static_cast<UINT>(id));
    return widget != nullptr && widget->isEnabled();
}

inline bool Checked(const QWidget& dialog, int id) {
    const auto* button = Control<QAbstractButton>(dialog, id);
    return button != nullptr && button->isChecked();
}

// Runs the event loop and the apartment until done() holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        Apartment::Ui().WaitAndDrain(5ms);
    }
    return true;
}

inline std::string CellText(const CDataGrid& grid, int column, int row) {
    CGridCell cell;
    grid.ReadCell(column, row, &cell);
    return cell.GetText();
}

// The grid inside a dialog.
inline CItemGrid* GridOf(const QWidget& dialog) {
    return dialog.findChild<CItemGrid*>();
}

// The row whose first cell shows text, -1 when none does.
inline int FindRow(const CDataGrid& grid, const std::string& text) {
    for (int row = 0; row < grid.GetRowCount(); ++row) {
        if (CellText(grid, 0, row) == text) {
            return row;
        }
    }
    return -1;
}

}  // namespace dialogs_test
