#include "device/qt/qt_page_ports.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace corvelle {

// The one precise timer behind a thread's poll timers, alive while any of them is.
class PollTimerGroup {
  public:
    PollTimerGroup() {
        timer_.setSingleShot(true);
        // Poll periods are short; a precise timer keeps the cycle from drifting by up to 5 %.
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Expire(); });
        clock_.start();
    }

    static std::shared_ptr<PollTimerGroup> OfThisThread() {
        thread_local std::weak_ptr<PollTimerGroup> current;
        std::shared_ptr<PollTimerGroup> group = current.lock();
        if (!group) {
            group = std::make_shared<PollTimerGroup>();
            current = group;
        }
        return group;
    }

    std::int64_t Now() const { return clock_.elapsed(); }
    void Join(QtOneShotTimer* timer) { members_.push_back(timer); }
    void Leave(QtOneShotTimer* timer) {
        members_.erase(std::remove(members_.begin(), members_.end(), timer), members_.end());
        Arm();
    }

    // Sets the shared timer for the earliest due member; left alone while expiring, which
    // arms it once at the end.
    void Arm() {
        if (expiring_) {
            return;
        }
        std::optional<std::int64_t> earliest;
        for (const QtOneShotTimer* member : members_) {
            if (member->active_ && (!earliest || member->due_ < *earliest)) {
                earliest = member->due_;
            }
        }
        if (!earliest) {
            timer_.stop();
            armedFor_.reset();
            return;
        }
        if (armedFor_ == earliest && timer_.isActive()) {
            return;
        }
        armedFor_ = earliest;
        const std::int64_t wait = std::max<std::int64_t>(0, *earliest - Now());
        timer_.start(
            static_cast<int>(std::min<std::int64_t>(wait, std::numeric_limits<int>::max())));
    }

  private:
    void Expire() {
        armedFor_.reset();
        const std::int64_t now = Now();
        const bool anyDue = std::any_of(members_.begin(), members_.end(), [now](const auto* m) {
            return m->active_ && m->due_ <= now;
        });
        // Each with the count of its starts and stops, which a handler's change to it moves on.
        std::vector<std::pair<QtOneShotTimer*, std::uint64_t>> expiring;
        for (QtOneShotTimer* member : members_) {
            if (anyDue && member->active_ && member->earliest_ <= now) {
                member->active_ = false;
                expiring.emplace_back(member, member->changes_);
            }
        }
        expiring_ = true;
        for (const auto& [member, changes] : expiring) {
            // A handler may have stopped, restarted or destroyed a later one.
            const bool present =
                std::find(members_.begin(), members_.end(), member) != members_.end();
            if (present && member->changes_ == changes) {
                member->onTimeout_();
            }
        }
        expiring_ = false;
        Arm();
    }

    QTimer timer_;
    QElapsedTimer clock_;
    std::vector<QtOneShotTimer*> members_;
    std::optional<std::int64_t> armedFor_;
    bool expiring_ = false;
};

QtOneShotTimer::QtOneShotTimer(std::function<void()> onTimeout)
    : onTimeout_(std::move(onTimeout)), group_(PollTimerGroup::OfThisThread()) {
    group_->Join(this);
}

QtOneShotTimer::~QtOneShotTimer() {
    group_->Leave(this);
}

void QtOneShotTimer::Start(std::uint32_t milliseconds) {
    const auto limit = static_cast<std::uint32_t>(std::numeric_limits<int>::max());
    interval_ = std::min(milliseconds, limit);
    due_ = group_->Now() + interval_;
    earliest_ = due_ - interval_ / 20;
    active_ = true;
    ++changes_;
    group_->Arm();
}

void QtOneShotTimer::Stop() {
    active_ = false;
    ++changes_;
    group_->Arm();
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
