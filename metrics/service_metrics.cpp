#include "metrics/service_metrics.h"

#include "metrics/families.h"

#include <limits>
#include <utility>

namespace corvelle {
namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

constexpr std::array kRefusalReasons{CloseReason::NotAllowed, CloseReason::UnregisteredLimit,
                                     CloseReason::RegistrationTimeout,
                                     CloseReason::InvalidRegistration, CloseReason::NoFreeSlot};

template <typename T>
double Load(const std::atomic<T>& value) {
    return static_cast<double>(value.load(std::memory_order_relaxed));
}

}  // namespace

const char* RefusalLabel(CloseReason reason) {
    switch (reason) {
        case CloseReason::NotAllowed:
            return "not_allowed";
        case CloseReason::UnregisteredLimit:
            return "unregistered_limit";
        case CloseReason::RegistrationTimeout:
            return "registration_timeout";
        case CloseReason::InvalidRegistration:
            return "invalid_registration";
        case CloseReason::NoFreeSlot:
            return "no_free_slot";
        case CloseReason::TakenOver:
            return "taken_over";
        case CloseReason::WriteBacklog:
            return "write_backlog";
        case CloseReason::SilentTimeout:
            return "silent_timeout";
    }
    return "other";
}

const char* PriorityLabel(AlarmPriority priority) {
    switch (priority) {
        case AlarmPriority::Urgent:
            return "urgent";
        case AlarmPriority::High:
            return "high";
        case AlarmPriority::Low:
            return "low";
    }
    return "other";
}

ServiceMetrics::ServiceMetrics(std::size_t slotCount)
    : terminals_(std::make_unique<Terminal[]>(slotCount)), slotCount_(slotCount) {}

void ServiceMetrics::RenameTerminal(std::size_t slot, const std::string& nameUtf8,
                                    const PageCounts& counts) {
    Terminal& terminal = terminals_[slot];
    terminal.base = counts;
    terminal.lastReplies = counts.replies;
    terminal.lastReply.store(0, std::memory_order_relaxed);
    {
        const std::lock_guard lock(namesMutex_);
        terminal.nameShown = nameUtf8;
    }
    terminal.inUse.store(!nameUtf8.empty(), std::memory_order_relaxed);
}

void ServiceMetrics::SetTerminal(std::size_t slot, bool linked, const PageCounts& counts,
                                 SteadyClock::time_point now) {
    Terminal& terminal = terminals_[slot];
    constexpr auto relaxed = std::memory_order_relaxed;
    terminal.linked.store(linked, relaxed);
    terminal.polls.store(counts.polls - terminal.base.polls, relaxed);
    terminal.replies.store(counts.replies - terminal.base.replies, relaxed);
    terminal.replyErrors.store(counts.replyErrors - terminal.base.replyErrors, relaxed);
    terminal.relayCommands.store(counts.relayCommands - terminal.base.relayCommands, relaxed);
    if (counts.replies != terminal.lastReplies) {
        terminal.lastReplies = counts.replies;
        terminal.lastReply.store(now.time_since_epoch().count(), relaxed);
    }
}

void ServiceMetrics::SetConnections(const ConnectionCounts& counts) {
    constexpr auto relaxed = std::memory_order_relaxed;
    accepted_.store(counts.accepted, relaxed);
    for (std::size_t i = 0; i < kCloseReasonCount; ++i) {
        refused_[i].store(counts.refused[i], relaxed);
    }
    takeovers_.store(counts.takeovers, relaxed);
    silentClosed_.store(counts.silentClosed, relaxed);
    for (std::size_t i = 0; i < registrations_.size(); ++i) {
        registrations_[i].store(counts.registrations[i], relaxed);
    }
    registrationMsSum_.store(counts.registrationMsSum, relaxed);
}

void ServiceMetrics::SetRecording(const RecordingFigures& figures) {
    constexpr auto relaxed = std::memory_order_relaxed;
    recordingUp_.store(figures.up, relaxed);
    recordedRows_.store(figures.rows, relaxed);
    recordingDropped_.store(figures.dropped, relaxed);
    recordingOpenFiles_.store(figures.openFiles, relaxed);
}

void ServiceMetrics::SetPublishing(const PublishingFigures& figures) {
    constexpr auto relaxed = std::memory_order_relaxed;
    publishing_.store(true, relaxed);
    publishingUp_.store(figures.up, relaxed);
    published_.store(figures.published, relaxed);
    publishDropped_.store(figures.dropped, relaxed);
    publishQueue_.store(figures.queued, relaxed);
}

void ServiceMetrics::SetAlarms(const AlarmFigures& figures) {
    constexpr auto relaxed = std::memory_order_relaxed;
    for (std::size_t i = 0; i < AlarmFigures::kPriorities; ++i) {
        alarmsActive_[i].store(figures.active[i], relaxed);
        alarmsUnacknowledged_[i].store(figures.unacknowledged[i], relaxed);
    }
}

std::vector<MetricFamily> ServiceMetrics::Collect() const {
    std::vector<MetricFamily> families;
    CollectTerminals(families);
    CollectConnections(families);
    CollectRecording(families);
    CollectPublishing(families);
    CollectAlarms(families);
    return families;
}

void ServiceMetrics::CollectTerminals(std::vector<MetricFamily>& families) const {
    std::vector<std::string> names(slotCount_);
    {
        const std::lock_guard lock(namesMutex_);
        for (std::size_t i = 0; i < slotCount_; ++i) {
            names[i] = terminals_[i].nameShown;
        }
    }
    MetricFamily linked =
        Family("corvelle_terminals_linked", "Terminals attached to a slot over a live connection.",
               MetricType::Gauge);
    MetricFamily inUse =
        Family("corvelle_slots_in_use", "Slots bound to a terminal's name, linked or not.",
               MetricType::Gauge);
    MetricFamily polls =
        Family("corvelle_polls_total", "Polls sent to the terminal.", MetricType::Counter);
    MetricFamily replies = Family("corvelle_replies_total", "Valid poll replies: one reading each.",
                                  MetricType::Counter);
    MetricFamily errors = Family(
        "corvelle_reply_errors_total",
        "Received chunks that were neither a valid reply nor a relay echo.", MetricType::Counter);
    MetricFamily age = Family("corvelle_last_reply_age_seconds",
                              "Seconds since the terminal's last valid reply, to within the "
                              "second the service samples its pages at.",
                              MetricType::Gauge);
    MetricFamily relays = Family("corvelle_relay_commands_total",
                                 "Relay switch frames sent to the terminal.", MetricType::Counter);
    const auto now = SteadyClock::now().time_since_epoch().count();
    double linkedCount = 0;
    double inUseCount = 0;
    for (std::size_t i = 0; i < slotCount_; ++i) {
        const Terminal& terminal = terminals_[i];
        linkedCount += terminal.linked.load(std::memory_order_relaxed) ? 1 : 0;
        if (!terminal.inUse.load(std::memory_order_relaxed)) {
            continue;
        }
        ++inUseCount;
        const std::vector<ClientMetric::Label> labels{{"name", names[i]},
                                                      {"slot", std::to_string(i + 1)}};
        AddSample(polls, Load(terminal.polls), labels);
        AddSample(replies, Load(terminal.replies), labels);
        AddSample(errors, Load(terminal.replyErrors), labels);
        AddSample(relays, Load(terminal.relayCommands), labels);
        if (const auto last = terminal.lastReply.load(std::memory_order_relaxed); last != 0) {
            const SteadyClock::duration since(now - last);
            AddSample(age, std::chrono::duration<double>(since).count(), labels);
        }
    }
    AddSample(linked, linkedCount);
    AddSample(inUse, inUseCount);
    for (MetricFamily* family : {&linked, &inUse, &polls, &replies, &errors, &age, &relays}) {
        families.push_back(std::move(*family));
    }
}

void ServiceMetrics::CollectConnections(std::vector<MetricFamily>& families) const {
    AddSingle(families, "corvelle_connections_accepted_total",
              "Connections accepted, registered or not.", MetricType::Counter, Load(accepted_));
    MetricFamily refused =
        Family("corvelle_connections_refused_total",
               "Connections closed or registrations refused, by reason; each connection once.",
               MetricType::Counter);
    for (const CloseReason reason : kRefusalReasons) {
        AddSample(refused, Load(refused_[static_cast<std::size_t>(reason)]),
                  {{"reason", RefusalLabel(reason)}});
    }
    families.push_back(std::move(refused));
    AddSingle(families, "corvelle_takeovers_total",
              "Terminals that registered again and replaced their own older connection.",
              MetricType::Counter, Load(takeovers_));
    AddSingle(families, "corvelle_silent_closed_total",
              "Registered connections closed after giving no valid reply for too long.",
              MetricType::Counter, Load(silentClosed_));

    MetricFamily histogram =
        Family("corvelle_registration_seconds",
               "Time from a connection's accept to its registration.", MetricType::Histogram);
    ClientMetric metric;
    std::uint64_t cumulative = 0;
    const auto& bounds = ConnectionCounts::kRegistrationBoundsMs;
    for (std::size_t i = 0; i < registrations_.size(); ++i) {
        cumulative += registrations_[i].load(std::memory_order_relaxed);
        const double bound =
            i < bounds.size() ? bounds[i] / 1000.0 : std::numeric_limits<double>::infinity();
        metric.histogram.bucket.push_back({cumulative, bound});
    }
    metric.histogram.sample_count = cumulative;
    metric.histogram.sample_sum = Load(registrationMsSum_) / 1000.0;
    histogram.metric.push_back(std::move(metric));
    families.push_back(std::move(histogram));
}

void ServiceMetrics::CollectRecording(std::vector<MetricFamily>& families) const {
    AddSingle(families, "corvelle_recording_up", "1 while the service records, else 0.",
              MetricType::Gauge, recordingUp_.load(std::memory_order_relaxed) ? 1 : 0);
    AddSingle(families, "corvelle_recorded_rows_total", "Reading rows written to the day files.",
              MetricType::Counter, Load(recordedRows_));
    AddSingle(families, "corvelle_recording_dropped_total",
              "Rows dropped: on a full queue, or for a file that could not be written.",
              MetricType::Counter, Load(recordingDropped_));
    AddSingle(families, "corvelle_recording_open_files", "Files the recording holds open.",
              MetricType::Gauge, Load(recordingOpenFiles_));
}

void ServiceMetrics::CollectPublishing(std::vector<MetricFamily>& families) const {
    if (!publishing_.load(std::memory_order_relaxed)) {
        return;
    }
    AddSingle(families, "corvelle_publishing_up", "1 while connected to the MQTT broker, else 0.",
              MetricType::Gauge, publishingUp_.load(std::memory_order_relaxed) ? 1 : 0);
    AddSingle(families, "corvelle_published_total", "Messages the broker took.",
              MetricType::Counter, Load(published_));
    AddSingle(families, "corvelle_publish_queue", "Messages waiting for the broker.",
              MetricType::Gauge, Load(publishQueue_));
    AddSingle(families, "corvelle_publish_dropped_total",
              "Messages given up on: past the queue's bound, or refused by the client library.",
              MetricType::Counter, Load(publishDropped_));
}

void ServiceMetrics::CollectAlarms(std::vector<MetricFamily>& families) const {
    MetricFamily active =
        Family("corvelle_alarms_active",
               "Alarms active now, acknowledged or not, by priority; shelved ones aside.",
               MetricType::Gauge);
    MetricFamily unacknowledged =
        Family("corvelle_alarms_unacknowledged",
               "Alarms active or returned to normal that no operator has acknowledged yet, by "
               "priority; shelved ones aside.",
               MetricType::Gauge);
    for (const AlarmPriority priority :
         {AlarmPriority::Urgent, AlarmPriority::High, AlarmPriority::Low}) {
        const auto i = static_cast<std::size_t>(priority);
        const std::vector<ClientMetric::Label> labels{{"priority", PriorityLabel(priority)}};
        AddSample(active, Load(alarmsActive_[i]), labels);
        AddSample(unacknowledged, Load(alarmsUnacknowledged_[i]), labels);
    }
    families.push_back(std::move(active));
    families.push_back(std::move(unacknowledged));
}

}  // namespace corvelle
