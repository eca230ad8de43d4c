#include <gtest/gtest.h>

#include <QApplication>

#include "res/resources.h"

int main(int argc, char** argv) {
    // Test discovery runs without the tests' environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("corvelle"));
    QApplication::setFont(corvelle::res::DialogFont());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
