#pragma once

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "alarm/alarm_definition.h"
#include "device/device_page.h"
#include "server/device_tab_host.h"

namespace corvelle {

// The recording as the metrics see it.
struct RecordingFigures {
    bool up = false;
    std::uint64_t rows = 0;
    std::uint64_t dropped = 0;
    std::size_t openFiles = 0;
};

// Publishing as the metrics see it.
struct PublishingFigures {
    bool up = false;
    std::uint64_t published = 0;
    std::uint64_t dropped = 0;
    std::size_t queued = 0;
};

// Alarms as the metrics see them, by priority (AlarmPriority's order); shelved ones aside.
struct AlarmFigures {
    static constexpr std::size_t kPriorities = 3;
    // Active, acknowledged or not.
    std::array<std::size_t, kPriorities> active{};
    // Active or returned to normal, and not yet acknowledged.
    std::array<std::size_t, kPriorities> unacknowledged{};
};

// The service's figures for a Prometheus scrape. The Set calls come from the UI thread and only
// store into atomics: no lock and no allocation, except when a slot takes another terminal's
// name. Collect runs on the exposer's threads. Each group of figures adds its own families in
// Collect, so that a new group is a new block beside the others.
class ServiceMetrics final : public prometheus::Collectable {
  public:
    using SteadyClock = std::chrono::steady_clock;

    explicit ServiceMetrics(std::size_t slotCount);

    // slot is 0-based. A slot's series are those of the terminal named nameUtf8: when the name
    // changes, the old series go and the new ones count from counts (the page's at the change)
    // on. An empty name: the slot
    // is not in use and has no series. Takes a lock: for name changes only.
    void RenameTerminal(std::size_t slot, const std::string& nameUtf8, const PageCounts& counts);
    // The slot's counts as its page has them now; a reply since the last call was at now.
    void SetTerminal(std::size_t slot, bool linked, const PageCounts& counts,
                     SteadyClock::time_point now);
    void SetConnections(const ConnectionCounts& counts);
    void SetRecording(const RecordingFigures& figures);
    // Only a service that publishes has the publishing families.
    void SetPublishing(const PublishingFigures& figures);
    void SetAlarms(const AlarmFigures& figures);

    std::vector<prometheus::MetricFamily> Collect() const override;

  private:
    struct Terminal {
        // The UI thread's own: the counts the current series started at.
        PageCounts base;
        std::uint64_t lastReplies = 0;
        // For the collector: the series' values. nameShown is guarded by namesMutex_.
        std::string nameShown;
        std::atomic<bool> inUse{false};
        std::atomic<bool> linked{false};
        std::atomic<std::uint64_t> polls{0};
        std::atomic<std::uint64_t> replies{0};
        std::atomic<std::uint64_t> replyErrors{0};
        std::atomic<std::uint64_t> relayCommands{0};
        // Steady clock ticks of the last reply; 0: none in this series.
        std::atomic<std::int64_t> lastReply{0};
    };

    void CollectTerminals(std::vector<prometheus::MetricFamily>& families) const;
    void CollectConnections(std::vector<prometheus::MetricFamily>& families) const;
    void CollectRecording(std::vector<prometheus::MetricFamily>& families) const;
    void CollectPublishing(std::vector<prometheus::MetricFamily>& families) const;
    void CollectAlarms(std::vector<prometheus::MetricFamily>& families) const;

    std::unique_ptr<Terminal[]> terminals_;
    std::size_t slotCount_;
    mutable std::mutex namesMutex_;

    std::atomic<std::uint64_t> accepted_{0};
    std::array<std::atomic<std::uint64_t>, kCloseReasonCount> refused_{};
    std::atomic<std::uint64_t> takeovers_{0};
    std::atomic<std::uint64_t> silentClosed_{0};
    std::array<std::atomic<std::uint64_t>, ConnectionCounts::kRegistrationBoundsMs.size() + 1>
        registrations_{};
    std::atomic<std::uint64_t> registrationMsSum_{0};

    std::atomic<bool> recordingUp_{false};
    std::atomic<std::uint64_t> recordedRows_{0};
    std::atomic<std::uint64_t> recordingDropped_{0};
    std::atomic<std::size_t> recordingOpenFiles_{0};

    std::atomic<bool> publishing_{false};
    std::atomic<bool> publishingUp_{false};
    std::atomic<std::uint64_t> published_{0};
    std::atomic<std::uint64_t> publishDropped_{0};
    std::atomic<std::size_t> publishQueue_{0};

    std::array<std::atomic<std::size_t>, AlarmFigures::kPriorities> alarmsActive_{};
    std::array<std::atomic<std::size_t>, AlarmFigures::kPriorities> alarmsUnacknowledged_{};
};

// The priority as a label value: "urgent" (紧急), "high" (重要), "low" (一般).
const char* PriorityLabel(AlarmPriority priority);

// The refusal reason as a label value: "not_allowed", "registration_timeout", ...
const char* RefusalLabel(CloseReason reason);

}  // namespace corvelle
