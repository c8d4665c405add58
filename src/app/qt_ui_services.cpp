#include "app/qt_ui_services.h"

#include <cstdio>
#include <string>

#include <QApplication>
#include <QMetaObject>
#include <QThread>

#include "app/app_names.h"
#include "framework/console_ui.h"

QMessageBox::StandardButtons CQtUiServices::ButtonsOf(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case MB_YESNOCANCEL:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case MB_YESNO:
            return QMessageBox::Yes | QMessageBox::No;
        default:
            return QMessageBox::Ok;
    }
}

QMessageBox::StandardButton CQtUiServices::DefaultButtonOf(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_YESNOCANCEL:
        case MB_YESNO:
            return QMessageBox::Yes;
        default:
            return QMessageBox::Ok;
    }
}

QMessageBox::Icon CQtUiServices::IconOf(UINT type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONHAND:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONEXCLAMATION:
            return QMessageBox::Warning;
        case MB_ICONASTERISK:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

int CQtUiServices::AnswerOf(QMessageBox::StandardButton button, UINT type) {
    int answer = 0;
    switch (button) {
        case QMessageBox::Ok:
            answer = IDOK;
            break;
        case QMessageBox::Cancel:
            answer = IDCANCEL;
            break;
        case QMessageBox::Yes:
            answer = IDYES;
            break;
        case QMessageBox::No:
            answer = IDNO;
            break;
        default:
            break;
    }
    return IsAnswerOf(type, answer) ? answer : NeutralAnswer(type);
}

int CQtUiServices::MessageBox(std::string_view text, UINT type) {
    QCoreApplication* const app = QCoreApplication::instance();
    if (qobject_cast<QApplication*>(app) == nullptr) {
        static ConsoleUiServices console;
        return console.MessageBox(text, type);
    }
    if (QThread::currentThread() == app->thread()) {
        return ShowBox(text, type);
    }
    // A box belongs to the application's thread: the caller waits for the answer given there.
    int answer = NeutralAnswer(type);
    const std::string copy(text);
    QMetaObject::invokeMethod(
        app, [this, &answer, &copy, type] { answer = ShowBox(copy, type); },
        Qt::BlockingQueuedConnection);
    return answer;
}

int CQtUiServices::ShowBox(std::string_view text, UINT type) {
    QMessageBox box(IconOf(type), QString::fromUtf8(kAppTitle.data(), kAppTitle.size()),
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                    ButtonsOf(type), QApplication::activeWindow());
    box.setDefaultButton(DefaultButtonOf(type));
    box.exec();
    const QAbstractButton* const clicked = box.clickedButton();
    const QMessageBox::StandardButton button =
        clicked != nullptr ? box.standardButton(const_cast<QAbstractButton*>(clicked))
                           : QMessageBox::NoButton;
    return AnswerOf(button, type);
}

void CQtUiServices::Trace(std::string_view line) {
    const std::lock_guard lock(traceMutex_);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}
