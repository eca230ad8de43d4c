#include <gtest/gtest.h>
#include <mosquitto.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The tests' own clients may come before any publisher.
    mosquitto_lib_init();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
