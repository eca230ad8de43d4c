#pragma once

#include <QString>
#include <functional>
#include <optional>

#include <memory>

#include "alarm/qt/alarm_watch.h"
#include "mqtt/publishing.h"
#include "process/orderly_stop.h"
#include "profile/qt/terminal_profiles.h"
#include "record/qt/recording.h"
#include "server/net/acq_socket.h"
#include "service/exit_status.h"
#include "service/headless_view.h"
#include "service/metrics_endpoint.h"
#include "service/service_log.h"
#include "service/service_options.h"

namespace corvelle {

// The console without a screen: the same connection server and pages, listening from the
// start, logging to standard error.
class Service {
  public:
    explicit Service(ServiceOptions options);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Why the service cannot start, and the exit status that says so.
    struct StartFailure {
        QString message;
        int exitStatus = kExitBadOptions;
    };
    // Creates the slots, starts recording and listening.
    std::optional<StartFailure> Start();

    // Stops listening, closes every connection, then writes out the recording and the
    // publishing side by side within OrderlyStop's deadline; done gets the exit status.
    void Stop(std::function<void(int exitStatus)> done);
    // SIGHUP: reads the terminal profiles again, without dropping a connection; a file with a
    // fault is logged and the profiles in use stay.
    void Reload();

    DeviceTabHost& Host() { return server_.Host(); }
    const SlotTables& Tables() const { return tables_; }
    AlarmWatch& Alarms() { return alarms_; }

  private:
    // Raises the descriptor limit; the problem when the slots and limits need more.
    std::optional<StartFailure> CheckDescriptors() const;

    ServiceOptions options_;
    SlotTables tables_;
    ServiceLog log_;
    bool started_ = false;
    HeadlessTabHostView view_;
    NetworkTabHost server_;
    TerminalProfiles profiles_;
    HostSinks sinks_;
    AlarmWatch alarms_;
    Recording recording_;
    std::unique_ptr<Publishing> publishing_;
    // Reads the pages, the recording and the publishing: declared after them, gone before them.
    std::unique_ptr<MetricsEndpoint> metrics_;
    OrderlyStop stop_;
    bool stopping_ = false;
    // Something could not be written while stopping.
    bool lostAtStop_ = false;
};

}  // namespace corvelle
