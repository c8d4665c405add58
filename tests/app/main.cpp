// One QApplication for every test, on the offscreen platform unless told otherwise, with the
// C number format the program's texts need.

#include <gtest/gtest.h>
#include <QApplication>

#include <clocale>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    // The tests end the application objects themselves; a hidden last window must not end a
    // loop a test runs.
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
