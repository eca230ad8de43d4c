#include "alarm/qt/alarm_watch.h"

namespace corvelle {
namespace {

constexpr int kTickMs = 1000;

}  // namespace

AlarmWatch::AlarmWatch(HostSinks& sinks, QObject* parent)
    : QObject(parent), sinks_(sinks), engine_(clock_, [this](const AcquisitionEvent& event) {
          sinks_.OnEventFrom(event, &engine_);
          emit alarmEvent(event);
      }) {
    ticker_.setInterval(kTickMs);
    connect(&ticker_, &QTimer::timeout, this, [this] { engine_.Tick(); });
}

AlarmWatch::~AlarmWatch() {
    if (profiles_) {
        sinks_.Remove(&engine_);
    }
}

void AlarmWatch::SetProfiles(const ProfileLookup* profiles) {
    const bool was = profiles_ != nullptr;
    profiles_ = profiles;
    engine_.SetProfiles(profiles);
    if (profiles_ && !was) {
        sinks_.Add(&engine_);
        ticker_.start();
    } else if (!profiles_ && was) {
        sinks_.Remove(&engine_);
        ticker_.stop();
    }
}

}  // namespace corvelle

#include "moc_alarm_watch.cpp"  // NOLINT(bugprone-suspicious-include): moc output
