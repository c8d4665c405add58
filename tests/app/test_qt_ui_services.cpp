// Message boxes as the operator sees them: the buttons and icon of each style, the answer of
// each button, and a real box answered by a click.

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

#include <thread>

#include "app/qt_ui_services.h"
#include "app_fixture.h"

namespace app_test {
namespace {

TEST(QtUiServices, StylesGiveTheirButtonsIconsAndAnswers) {
    using B = QMessageBox;
    EXPECT_EQ(CQtUiServices::ButtonsOf(MB_OK), B::StandardButtons(B::Ok));
    EXPECT_EQ(CQtUiServices::ButtonsOf(MB_OKCANCEL), B::Ok | B::Cancel);
    EXPECT_EQ(CQtUiServices::ButtonsOf(MB_YESNO | MB_ICONQUESTION), B::Yes | B::No);
    EXPECT_EQ(CQtUiServices::ButtonsOf(MB_YESNOCANCEL), B::Yes | B::No | B::Cancel);
    // Button sets the program does not use offer OK.
    EXPECT_EQ(CQtUiServices::ButtonsOf(0x5), B::StandardButtons(B::Ok));

    EXPECT_EQ(CQtUiServices::IconOf(MB_OK), B::NoIcon);
    EXPECT_EQ(CQtUiServices::IconOf(MB_ICONHAND), B::Critical);
    EXPECT_EQ(CQtUiServices::IconOf(MB_YESNO | MB_ICONQUESTION), B::Question);
    EXPECT_EQ(CQtUiServices::IconOf(MB_ICONEXCLAMATION), B::Warning);
    EXPECT_EQ(CQtUiServices::IconOf(MB_ICONINFORMATION | MB_OKCANCEL), B::Information);

    EXPECT_EQ(CQtUiServices::AnswerOf(B::Ok, MB_OKCANCEL), IDOK);
    EXPECT_EQ(CQtUiServices::AnswerOf(B::Cancel, MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(CQtUiServices::AnswerOf(B::Yes, MB_YESNOCANCEL), IDYES);
    EXPECT_EQ(CQtUiServices::AnswerOf(B::No, MB_YESNO), IDNO);
    // Closed without a button of its own: the answer that changes nothing.
    EXPECT_EQ(CQtUiServices::AnswerOf(B::NoButton, MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(CQtUiServices::AnswerOf(B::NoButton, MB_YESNO), IDNO);
    EXPECT_EQ(CQtUiServices::AnswerOf(B::NoButton, MB_OK), IDOK);
    EXPECT_EQ(CQtUiServices::AnswerOf(B::Yes, MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(CQtUiServices::DefaultButtonOf(MB_YESNOCANCEL), B::Yes);
}

// Answers the next message box by clicking the button, recording what it showed.
struct BoxSeen {
    std::string title;
    std::string text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool shown = false;
};

// Looks for the box every few milliseconds (up to five seconds), so that it also finds one that
// opens after other events.
void ClickNextBox(BoxSeen& seen, QMessageBox::StandardButton button, int triesLeft = 500) {
    QTimer::singleShot(10, [&seen, button, triesLeft] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            if (triesLeft > 0) {
                ClickNextBox(seen, button, triesLeft - 1);
            }
            return;
        }
        seen.shown = true;
        seen.title = box->windowTitle().toStdString();
        seen.text = box->text().toStdString();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        if (QAbstractButton* b = box->button(button)) {
            b->click();
        } else {
            box->reject();
        }
    });
}

TEST(QtUiServices, RealBoxesAnswerWithTheButtonClicked) {
    CQtUiServices services;
    BoxSeen seen;
    ClickNextBox(seen, QMessageBox::No);
    EXPECT_EQ(services.MessageBox("Delete OPC Server ?", MB_YESNO | MB_ICONQUESTION), IDNO);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.title, "Velmora OPC Tagvista");
    EXPECT_EQ(seen.text, "Delete OPC Server ?");
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);

    BoxSeen cancelled;
    ClickNextBox(cancelled, QMessageBox::Cancel);
    EXPECT_EQ(services.MessageBox("Save changes to Untitled?", MB_YESNOCANCEL), IDCANCEL);
    EXPECT_TRUE(cancelled.shown);

    // A box asked for on another thread is shown on the application's thread.
    BoxSeen fromWorker;
    ClickNextBox(fromWorker, QMessageBox::Yes);
    int answer = 0;
    std::thread worker([&] { answer = services.MessageBox("Übernehmen?", MB_YESNO); });
    ASSERT_TRUE(WaitFor([&] { return fromWorker.shown; }, std::chrono::seconds(5)));
    worker.join();
    EXPECT_EQ(answer, IDYES);
    EXPECT_EQ(fromWorker.text, "Übernehmen?");
}

}  // namespace
}  // namespace app_test
