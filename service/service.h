#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "device/acquisition_sink.h"
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
    // Stops listening and closes every connection; done runs once everything is written.
    void Stop(const std::function<void()>& done);

    DeviceTabHost& Host() { return server_.Host(); }
    const SlotTables& Tables() const { return tables_; }

  private:
    ServiceOptions options_;
    SlotTables tables_;
    ServiceLog log_;
    bool started_ = false;
    HeadlessTabHostView view_;
    SinkFanout sinks_;
    NetworkTabHost server_;
};

}  // namespace corvelle
