#include "device/qt/qt_page_ports.h"

#include <QDateTime>
#include <algorithm>
#include <limits>
#include <utility>

namespace corvelle {

QtOneShotTimer::QtOneShotTimer(std::function<void()> onTimeout) {
    timer_.setSingleShot(true);
    // Poll periods are short; a precise timer keeps the cycle from drifting by up to 5 %.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, std::move(onTimeout));
}

void QtOneShotTimer::Start(std::uint32_t milliseconds) {
    const auto limit = static_cast<std::uint32_t>(std::numeric_limits<int>::max());
    timer_.start(static_cast<int>(std::min(milliseconds, limit)));
}

void QtOneShotTimer::Stop() {
    timer_.stop();
}

LocalDateTime LocalClock::Now() const {
    const qint64 milliseconds = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = milliseconds / 1000 - (milliseconds % 1000 < 0 ? 1 : 0);
    if (second != second_) {
        // Zone offsets are whole seconds, so one UTC second is one local second.
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000);
        const QDate date = local.date();
        const QTime time = local.time();
        atSecond_ = {date.year(),   date.month(),  date.day(), time.hour(),
                     time.minute(), time.second(), 0,          local.offsetFromUtc()};
        second_ = second;
    }
    LocalDateTime now = atSecond_;
    now.millisecond = static_cast<int>(milliseconds - second * 1000);
    return now;
}

}  // namespace corvelle
