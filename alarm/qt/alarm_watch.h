#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>

#include "alarm/alarm_engine.h"
#include "device/qt/qt_page_ports.h"

namespace corvelle {

// Alarms as the console and the service run them: while a profile file is in use the engine
// listens to the connection server, its transitions go to every other sink and out of
// alarmEvent, and time passes on a timer of one second. Without profiles it listens to
// nothing and costs nothing.
class AlarmWatch final : public QObject {
    Q_OBJECT

  public:
    explicit AlarmWatch(HostSinks& sinks, QObject* parent = nullptr);
    ~AlarmWatch() override;
    AlarmWatch(const AlarmWatch&) = delete;
    AlarmWatch& operator=(const AlarmWatch&) = delete;

    // The profiles in use, again after each change; nullptr: none, every alarm is cleared and
    // the engine stops listening. A change clears the alarms whose definitions it removes or
    // changes.
    void SetProfiles(const ProfileLookup* profiles);
    bool Watching() const { return profiles_ != nullptr; }
    void SetPollInterval(std::uint32_t milliseconds) { engine_.SetPollInterval(milliseconds); }
    AlarmEngine& Engine() { return engine_; }

  signals:
    void alarmEvent(const corvelle::AcquisitionEvent& event);

  private:
    class SystemClock final : public AlarmClock {
      public:
        SystemClock() { elapsed_.start(); }
        std::int64_t MonotonicMs() const override { return elapsed_.elapsed(); }
        LocalDateTime Now() const override { return local_.Now(); }

      private:
        QElapsedTimer elapsed_;
        LocalClock local_;
    };

    HostSinks& sinks_;
    SystemClock clock_;
    const ProfileLookup* profiles_ = nullptr;
    AlarmEngine engine_;
    QTimer ticker_;
};

}  // namespace corvelle
