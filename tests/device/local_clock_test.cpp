#include <gtest/gtest.h>

#include <QDateTime>
#include <QTest>

#include "device/qt/qt_page_ports.h"

namespace corvelle {
namespace {

QDateTime AsDateTime(const LocalDateTime& t) {
    return {QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second, t.millisecond),
            Qt::OffsetFromUTC, t.utcOffsetSeconds};
}

// The clock reads the local time of a zone with a quarter-hour offset as Qt does, across
// second boundaries, however often it is asked within a second.
TEST(LocalClock, TellsTheLocalTimeAsQtDoes) {
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Asia/Kathmandu");
    const LocalClock clock;
    for (int sample = 0; sample < 8; ++sample) {
        const QDateTime before = QDateTime::currentDateTime();
        const LocalDateTime now = clock.Now();
        const QDateTime after = QDateTime::currentDateTime();
        EXPECT_EQ(now.utcOffsetSeconds, before.offsetFromUtc());
        EXPECT_LE(before.toMSecsSinceEpoch(), AsDateTime(now).toMSecsSinceEpoch());
        EXPECT_GE(after.toMSecsSinceEpoch(), AsDateTime(now).toMSecsSinceEpoch());
        QTest::qSleep(170);
    }
    if (zone.isNull()) {
        qunsetenv("TZ");
    } else {
        qputenv("TZ", zone);
    }
}

}  // namespace
}  // namespace corvelle
