#pragma once

#include <QString>
#include <functional>
#include <optional>

#include <QElapsedTimer>
#include <QTimer>
#include <memory>

#include "mqtt/publishing.h"
#include "record/qt/recording.h"
#include "server/net/acq_socket.h"
#include "service/headless_view.h"
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

    // Creates the slots and starts listening; the problem when it cannot listen.
    std::optional<QString> Start();
    // How long Stop waits for the recording to be written before it gives up.
    static constexpr int kStopWaitMs = 1500;

    // Stops listening, closes every connection and ends the recording; done runs once
    // everything is written, or after kStopWaitMs at the latest.
    void Stop(std::function<void()> done);

    DeviceTabHost& Host() { return server_.Host(); }
    const SlotTables& Tables() const { return tables_; }

  private:
    ServiceOptions options_;
    SlotTables tables_;
    ServiceLog log_;
    bool started_ = false;
    HeadlessTabHostView view_;
    NetworkTabHost server_;
    HostSinks sinks_;
    Recording recording_;
    std::unique_ptr<Publishing> publishing_;
    QTimer stopWait_;
    QElapsedTimer stopClock_;
    std::function<void()> done_;
};

}  // namespace corvelle
