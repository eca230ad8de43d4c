#pragma once

#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "alarm/alarm_engine.h"
#include "device/slot_tables.h"
#include "metrics/process_collector.h"
#include "metrics/service_metrics.h"
#include "mqtt/publishing.h"
#include "record/qt/recording.h"

namespace prometheus {
class Exposer;
}

namespace corvelle {

// The service's Prometheus endpoint: prometheus-cpp's exposer on threads of its own, and a
// timer on the UI thread that copies what the pages, the connection server, the recording and
// the publishing count, and the alarms that are up, into the metrics once a second. A reply
// costs nothing here.
class MetricsEndpoint {
  public:
    // publishing: the service's, or nullptr while it does not publish.
    MetricsEndpoint(const SlotTables& tables, const DeviceTabHost& host, const Recording& recording,
                    const AlarmEngine& alarms, std::function<const Publishing*()> publishing);
    ~MetricsEndpoint();
    MetricsEndpoint(const MetricsEndpoint&) = delete;
    MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

    // Serves at address ("127.0.0.1:9464", "[::1]:9464"); the problem when it cannot.
    std::optional<QString> Start(const std::string& address);

  private:
    void Sample();
    void SampleRecording();

    const SlotTables& tables_;
    const DeviceTabHost& host_;
    const Recording& recording_;
    const AlarmEngine& alarms_;
    std::function<const Publishing*()> publishing_;
    std::shared_ptr<ServiceMetrics> metrics_;
    std::shared_ptr<ProcessCollector> process_;
    std::unique_ptr<prometheus::Exposer> exposer_;
    QTimer sampler_;
    // The names each slot's series were made for, as received, and the counts of the last
    // sample: a slot takes a new name only while unlinked, so these are its counts at the
    // change.
    std::vector<std::vector<std::uint8_t>> names_;
    std::vector<PageCounts> seen_;
    // Recordings restart after a failure with counts of their own: the totals of those before.
    const CsvRecorder* recorder_ = nullptr;
    RecordingFigures before_;
    RecordingFigures last_;
};

}  // namespace corvelle
