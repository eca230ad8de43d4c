#include "service/metrics_endpoint.h"

#include <prometheus/exposer.h>

#include <exception>

#include "alarm/alarm_board.h"
#include "device/qt/device_name.h"

namespace corvelle {
namespace {

constexpr int kSampleMs = 1000;

AlarmFigures CountAlarms(const std::vector<AlarmSnapshot>& alarms) {
    AlarmFigures figures;
    for (const AlarmSnapshot& alarm : alarms) {
        if (alarm.shelved) {
            continue;
        }
        const auto priority = static_cast<std::size_t>(alarm.condition.priority);
        if (IsActive(alarm.state)) {
            ++figures.active[priority];
        }
        if (IsUnacked(alarm)) {
            ++figures.unacknowledged[priority];
        }
    }
    return figures;
}

}  // namespace

MetricsEndpoint::MetricsEndpoint(const SlotTables& tables, const DeviceTabHost& host,
                                 const Recording& recording, const AlarmEngine& alarms,
                                 std::function<const Publishing*()> publishing)
    : tables_(tables),
      host_(host),
      recording_(recording),
      alarms_(alarms),
      publishing_(std::move(publishing)),
      metrics_(std::make_shared<ServiceMetrics>(tables.SlotCount())),
      process_(std::make_shared<ProcessCollector>()),
      names_(tables.SlotCount()),
      seen_(tables.SlotCount()) {
    QObject::connect(&sampler_, &QTimer::timeout, &sampler_, [this] { Sample(); });
}

// The exposer's threads end before the metrics they read go.
MetricsEndpoint::~MetricsEndpoint() = default;

std::optional<QString> MetricsEndpoint::Start(const std::string& address) {
    Sample();
    try {
        exposer_ = std::make_unique<prometheus::Exposer>(address, 1);
    } catch (const std::exception& failure) {
        return QString::fromUtf8(failure.what());
    }
    exposer_->RegisterCollectable(metrics_);
    exposer_->RegisterCollectable(process_);
    sampler_.start(kSampleMs);
    return std::nullopt;
}

void MetricsEndpoint::Sample() {
    const auto now = ServiceMetrics::SteadyClock::now();
    for (std::size_t slot = 0; slot < tables_.SlotCount(); ++slot) {
        const DevicePage* page = tables_.pageWindows[slot];
        if (page == nullptr) {
            continue;
        }
        const std::vector<std::uint8_t>& name = tables_.deviceNames[slot];
        if (name != names_[slot]) {
            names_[slot] = name;
            const bool inUse = name != DefaultSlotName(static_cast<int>(slot));
            metrics_->RenameTerminal(
                slot, inUse ? DeviceNameText(name).toStdString() : std::string(), seen_[slot]);
        }
        seen_[slot] = page->Counts();
        metrics_->SetTerminal(slot, tables_.linkFlags[slot] == 1, seen_[slot], now);
    }
    metrics_->SetConnections(host_.Counts());
    SampleRecording();
    metrics_->SetAlarms(CountAlarms(alarms_.Alarms()));
    if (const Publishing* publishing = publishing_()) {
        const MqttLinkCounts counts = publishing->Counts();
        metrics_->SetPublishing({.up = counts.connected,
                                 .published = counts.published,
                                 .dropped = counts.dropped,
                                 .queued = counts.queued});
    }
}

void MetricsEndpoint::SampleRecording() {
    const CsvRecorder* recorder = recording_.Recorder();
    if (recorder != recorder_) {
        before_.rows += last_.rows;
        before_.dropped += last_.dropped;
        last_ = {};
        recorder_ = recorder;
    }
    if (recorder != nullptr) {
        last_ = {.up = true,
                 .rows = recorder->ReadingRowsWritten(),
                 .dropped = recorder->Dropped(),
                 .openFiles = recorder->OpenFiles()};
    }
    metrics_->SetRecording({.up = recording_.IsRecording(),
                            .rows = before_.rows + last_.rows,
                            .dropped = before_.dropped + last_.dropped,
                            .openFiles = recorder != nullptr ? last_.openFiles : 0});
}

}  // namespace corvelle
