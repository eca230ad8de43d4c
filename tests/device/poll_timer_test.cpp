#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <map>

#include "device/qt/qt_page_ports.h"

namespace corvelle {
namespace {

// Timers due within a twentieth of their period of one that expires expire in the same pass of
// the event loop, never earlier than that twentieth; a stopped one does not expire, and one
// restarted from its own handler expires again.
TEST(PollTimers, DueTogetherExpireInOnePass) {
    QElapsedTimer clock;
    clock.start();
    std::map<char, qint64> expired;
    std::map<char, bool> withA;
    bool inPassOfA = false;
    int aExpiries = 0;
    QtOneShotTimer* a = nullptr;
    const auto note = [&](char name) {
        expired.emplace(name, clock.elapsed());
        withA[name] = inPassOfA;
    };
    QtOneShotTimer timerA([&] {
        note('a');
        inPassOfA = true;
        QTimer::singleShot(0, [&] { inPassOfA = false; });
        if (++aExpiries == 1) {
            a->Start(30);
        }
    });
    a = &timerA;
    QtOneShotTimer b([&] { note('b'); });
    QtOneShotTimer c([&] { note('c'); });
    QtOneShotTimer d([&] { note('d'); });
    a->Start(100);
    b.Start(104);
    c.Start(140);
    d.Start(100);
    d.Stop();
    EXPECT_TRUE(b.IsActive());
    EXPECT_FALSE(d.IsActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return expired.size() == 3 && aExpiries == 2; }, 3000));
    QTest::qWait(20);

    EXPECT_EQ(expired.count('d'), 0U);
    EXPECT_GE(expired['a'], 100);
    EXPECT_TRUE(withA['b']);
    EXPECT_GE(expired['b'], 104 - 104 / 20);
    // With a's second expiry when that comes late enough, on a loaded machine.
    EXPECT_GE(expired['c'], 140 - 140 / 20);
    EXPECT_FALSE(a->IsActive() || b.IsActive() || c.IsActive());
}

}  // namespace
}  // namespace corvelle
