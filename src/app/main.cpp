// opctagvista: the desktop client for OPC Data Access servers.

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include "app/command_line.h"
#include "app/main_app.h"
#include "app/main_frame.h"
#include "ui/group_view.h"

int main(int argc, char** argv) {
    // Help needs no display, so it is answered before the toolkit starts.
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(UsageText(), stdout);
            return 0;
        }
    }
    QApplication qtApp(argc, argv);
    // Qt takes the C library's number format from the environment; the program's number texts
    // are those of the C locale.
    std::setlocale(LC_NUMERIC, "C");

    std::vector<std::string> arguments;
    const QStringList qtArguments = QApplication::arguments();
    for (qsizetype i = 1; i < qtArguments.size(); ++i) {
        arguments.push_back(qtArguments[i].toStdString());
    }
    const CommandLine line = ParseCommandLine(arguments);
    if (line.action == CommandLine::Action::Help) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    if (line.action == CommandLine::Action::Error) {
        std::fprintf(stderr, "opctagvista: %s\n%s", line.error.c_str(), UsageText());
        return 2;
    }

    CMainApp app;
    if (!app.InitInstance(line.file)) {
        app.ExitInstance();
        return 1;
    }
    int screenshotResult = 0;
    if (line.screenshot) {
        // The picture shows the first group's items, so that it shows live values.
        CGroupView& tree = app.GetMainFrame()->GetGroupView();
        tree.expandAll();
        if (tree.topLevelItemCount() > 0 && tree.topLevelItem(0)->childCount() > 0) {
            tree.setCurrentItem(tree.topLevelItem(0)->child(0));
        }
        QTimer::singleShot(line.screenshotDelayMs, &qtApp, [&app, &line, &screenshotResult] {
            const QPixmap picture = app.GetMainFrame()->grab();
            if (!picture.save(QString::fromStdString(*line.screenshot), "PNG")) {
                std::fprintf(stderr, "opctagvista: cannot write %s\n", line.screenshot->c_str());
                screenshotResult = 1;
            }
            // The picture is all that was wanted: no save question.
            QCoreApplication::exit(0);
        });
    }
    const int loopResult = QApplication::exec();
    const int exitResult = app.ExitInstance();
    if (screenshotResult != 0) {
        return screenshotResult;
    }
    return loopResult != 0 ? loopResult : exitResult;
}
