#pragma once
// The UI services of the desktop application: message boxes as modal Qt message boxes with the
// application's title, the buttons and icon of the MB_* style and the ID* answer of the button
// chosen; trace lines to standard output.

#include <mutex>
#include <string_view>

#include <QMessageBox>

#include "framework/ui_services.h"

class CQtUiServices final : public IUiServices {
  public:
    CQtUiServices() = default;
    CQtUiServices(const CQtUiServices&) = delete;
    CQtUiServices& operator=(const CQtUiServices&) = delete;

    // Shows the box on the application's thread; a call from another thread waits for the
    // answer there. Without a running application the console answers.
    int MessageBox(std::string_view text, UINT type) override;
    void Trace(std::string_view line) override;

    // The parts of a box for a style, and the answer of a button; exposed for tests.
    static QMessageBox::StandardButtons ButtonsOf(UINT type);
    static QMessageBox::StandardButton DefaultButtonOf(UINT type);
    static QMessageBox::Icon IconOf(UINT type);
    // The ID* answer of the button; a box closed without one of its buttons (or with a button it
    // does not have) gets the answer that changes nothing.
    static int AnswerOf(QMessageBox::StandardButton button, UINT type);

  private:
    int ShowBox(std::string_view text, UINT type);

    std::mutex traceMutex_;
};
