#include "alarm/qt/alarm_watch.h"

#include "device/qt/device_name.h"

namespace corvelle {
namespace {

constexpr int kTickMs = 1000;

}  // namespace

AlarmWatch::AlarmWatch(HostSinks& sinks, QObject* parent)
    : QObject(parent),
      sinks_(sinks),
      engine_(
          clock_,
          [this](std::span<const std::uint8_t> name) -> std::shared_ptr<const TerminalProfile> {
              // Profiles name terminals as the tabs show them.
              return profiles_ ? profiles_->Find(DeviceNameText(name).toStdString()) : nullptr;
          },
          [this](const AcquisitionEvent& event) {
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

void AlarmWatch::SetProfiles(std::shared_ptr<const ProfileSet> profiles) {
    const bool was = profiles_ != nullptr;
    profiles_ = std::move(profiles);
    engine_.Reload();
    if (profiles_ && !was) {
        sinks_.Add(&engine_);
        ticker_.start();
    } else if (!profiles_ && was) {
        sinks_.Remove(&engine_);
        ticker_.stop();
    }
}

}  // namespace corvelle
