// One QApplication for every test, on the offscreen platform unless told otherwise.

#include <gtest/gtest.h>

#include <clocale>

#include <QApplication>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");  // the number texts are read and written in the C locale
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
