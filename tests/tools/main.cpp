#include <gtest/gtest.h>

#include <QCoreApplication>

// The loopback tests drive real sockets, which need an application object for their event
// loop.
int main(int argc, char* argv[]) {
    const QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
