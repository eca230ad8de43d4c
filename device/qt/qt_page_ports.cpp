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
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    return {date.year(),   date.month(),  date.day(),  time.hour(),
            time.minute(), time.second(), time.msec(), now.offsetFromUtc()};
}

}  // namespace corvelle
