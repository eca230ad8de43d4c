#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "chart/chart_interface.h"
#include "device/device_page.h"
#include "device/page_ports.h"
#include "device/slot_tables.h"

namespace corvelle::test {

// Distinct record addresses for tests that never need a real connection: pages only pass
// records back, they never look inside.
inline ClientRecord* FakeRecord(std::size_t n) {
    static std::array<std::max_align_t, 8> storage{};
    return reinterpret_cast<ClientRecord*>(&storage.at(n));
}

struct SentEnvelope {
    std::vector<std::uint8_t> bytes;
    ClientRecord* record = nullptr;

    // The payload as text, or "<bad length>" when the length field disagrees with it.
    std::string Payload() const {
        if (bytes.size() < 2 ||
            static_cast<std::size_t>(bytes[0] << 8 | bytes[1]) + 2 != bytes.size()) {
            return "<bad length>";
        }
        return {bytes.begin() + 2, bytes.end()};
    }
};

class RecordingSender : public DeviceSender {
  public:
    void SendToDevice(std::span<const std::uint8_t> envelope, ClientRecord* record) override {
        sent.push_back({{envelope.begin(), envelope.end()}, record});
    }
    void NoteValidReply(ClientRecord* /*record*/) override { ++validReplies; }
    std::vector<std::string> Payloads() const {
        std::vector<std::string> payloads;
        for (const auto& envelope : sent) {
            payloads.push_back(envelope.Payload());
        }
        return payloads;
    }

    std::vector<SentEnvelope> sent;
    int validReplies = 0;
};

class FakeTimer : public OneShotTimer {
  public:
    void Start(std::uint32_t milliseconds) override {
        period = milliseconds;
        starts.push_back(milliseconds);
    }
    void Stop() override {
        period.reset();
        ++stops;
    }
    // Lets the armed period expire and delivers the tick to page; false when nothing was armed.
    bool Fire(DevicePage& page) {
        if (!period) {
            return false;
        }
        period.reset();
        page.OnTimer(DevicePage::kPollTimerId);
        return true;
    }

    std::optional<std::uint32_t> period;  // set while armed
    std::vector<std::uint32_t> starts;
    int stops = 0;
};

class FakeClock : public Clock {
  public:
    LocalDateTime Now() const override { return now; }
    LocalDateTime now{2024, 3, 5, 7, 8, 9};
};

class RecordingView : public PageView {
  public:
    void SetStatusText(std::string_view text) override { statusTexts.emplace_back(text); }
    void SetValueRows(std::span<const ValueRow> newRows) override {
        rows.assign(newRows.begin(), newRows.end());
        ++rowUpdates;
    }
    void SetInputLamp(std::size_t index, bool lit) override {
        inputLamps.at(index) = lit;
        ++inputLampUpdates;
    }
    void SetRelay(std::size_t index, bool lit, std::string_view caption) override {
        relayLamps.at(index) = lit;
        relayCaptions.at(index) = caption;
        ++relayUpdates;
    }
    void SetSwitchName(bool relay, std::size_t index, std::string_view name) override {
        (relay ? relayNames : inputNames).at(index) = name;
    }

    std::vector<std::string> statusTexts;
    std::vector<ValueRow> rows;
    int rowUpdates = 0;
    std::array<bool, 12> inputLamps{};
    int inputLampUpdates = 0;
    std::array<bool, 12> relayLamps{};
    std::array<std::string, 12> relayCaptions;
    int relayUpdates = 0;
    std::array<std::string, 12> inputNames;
    std::array<std::string, 12> relayNames;
};

struct ChartPoint {
    double x = 0;
    double y = 0;
    std::string label;
    std::int32_t colour = 0;
};

class RecordingSeries : public ChartSeries {
  public:
    void Clear() override {
        points.clear();
        ++clears;
    }
    int AppendPoint(double x, double y, std::string_view label, std::int32_t colour) override {
        points.push_back({x, y, std::string(label), colour});
        ++appended;
        return static_cast<int>(points.size()) - 1;
    }

    std::vector<ChartPoint> points;
    int clears = 0;
    int appended = 0;  // over the whole life, across clears
};

class RecordingChart : public TrendChart {
  public:
    ChartSeries& Series(int index) override { return series.at(static_cast<std::size_t>(index)); }
    void SetValueAxisRange(double minimum, double maximum) override {
        ranges.emplace_back(minimum, maximum);
    }
    void SetLines(const std::array<LineMeaning, kChartSeriesCount>& meanings,
                  bool labelled) override {
        lines = meanings;
        axesLabelled = labelled;
    }
    void SetRightAxisRange(double minimum, double maximum) override {
        rightRanges.emplace_back(minimum, maximum);
    }

    std::array<RecordingSeries, kChartSeriesCount> series;
    std::vector<std::pair<double, double>> ranges;
    std::array<LineMeaning, kChartSeriesCount> lines;
    bool axesLabelled = false;
    std::vector<std::pair<double, double>> rightRanges;
};

// One page with its own timer, view and chart; tables, sender and clock may be shared by
// several pages, as in the console.
struct FakePage {
    FakePage(int slot, SlotTables& tables, DeviceSender& sender, const Clock& clock)
        : page(slot, tables, sender, timer, clock, view, chart) {}

    FakeTimer timer;
    RecordingView view;
    RecordingChart chart;
    DevicePage page;
};

}  // namespace corvelle::test
