// A folder written by the recorder's own writer, read back: the terminals by their names, every
// reading exactly, the events, the gaps of an absence; loading that reports, stops when asked and
// writes nothing.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "device/time_text.h"
#include "history/history_loader.h"
#include "history/record_folder.h"
#include "record/record_writer.h"
#include "tests/support/set_recorder_clock.h"
#include "tests/support/test_files.h"

namespace corvelle {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// Altered in its folder's name: "/" may not be in one.
const std::string kName = "泵站/1";

class Observer : public LoadObserver {
  public:
    bool Cancelled() override { return cancelAfterDays > 0 && days.size() >= cancelAfterDays; }
    void OnProgress(std::uint64_t read, std::uint64_t total) override {
        EXPECT_GE(read, lastRead);
        lastRead = read;
        lastTotal = total;
    }
    void OnDay(const History& soFar) override { days.push_back(soFar.series.Rows()); }

    std::size_t cancelAfterDays = 0;
    std::vector<std::size_t> days;
    std::uint64_t lastRead = 0;
    std::uint64_t lastTotal = 0;
};

class RecordedFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root_);
        RecordWriter writer(root_, test::NameBytes, clock_, {}, nullptr);
        ASSERT_EQ(writer.Begin(root_.string()), std::nullopt);
        // Two days around midnight, every 250 ms, with the terminal away from 00:00:10 to
        // 00:00:20; another terminal beside it.
        for (int i = 0; i < 400; ++i) {
            const int ms = 23 * 3600 * 1000 + 59 * 60 * 1000 + 250 * i;
            clock_.now = {2026,
                          12,
                          7 + ms / 86'400'000,
                          ms / 3'600'000 % 24,
                          ms / 60'000 % 60,
                          ms / 1000 % 60,
                          ms % 1000,
                          28800};
            if (i == 280) {
                Write(writer, EventKind::Detached, kName);
            } else if (i == 320) {
                Write(writer, EventKind::Registered, kName);
            }
            if (i < 280 || i > 320) {
                Reading reading = ReadingAt(i);
                writer.Write(reading);
                readings_.push_back(reading);
                reading.name = {'B'};
                writer.Write(reading);
            }
            clock_.elapsed += milliseconds(250);
            ASSERT_EQ(writer.Tick(), std::nullopt);
        }
        ASSERT_EQ(writer.Finish(0), std::nullopt);
    }
    void TearDown() override { fs::remove_all(root_); }

    Reading ReadingAt(int i) const {
        Reading reading;
        reading.time = clock_.now;
        reading.slot = 1;
        reading.name.assign(kName.begin(), kName.end());
        reading.channelCount = i % 50 < 25 ? 12 : 4;
        for (std::size_t k = 0; k < kChannelCount; ++k) {
            reading.channelMillivolts[k] = (i * 997 + static_cast<int>(k) * 7919) % 65536 - 32768;
            reading.inputs[k] = (i + k) % 3 == 0;
            reading.relays[k] = (i / 7 + k) % 5 == 0;
        }
        reading.temperatureCentidegrees = static_cast<std::int16_t>(-2000 + i);
        reading.referenceMillivolts = 2500;
        reading.supplyCentivolts = static_cast<std::int16_t>(1200 - i);
        reading.signalValue = static_cast<std::int16_t>(i % 31);
        return reading;
    }
    void Write(RecordWriter& writer, EventKind kind, std::string_view name) {
        AcquisitionEvent event;
        event.kind = kind;
        event.time = clock_.now;
        event.slot = 1;
        event.name.assign(name.begin(), name.end());
        event.peer = "10.0.0.5:4001";
        writer.Write(event);
    }
    HistoryRequest Request(const std::string& folder) const {
        RowSelection selection{{0, 4, 11, kTemperatureColumn, kSupplyColumn, kSignalColumn}, true};
        using namespace std::chrono;
        return {root_, folder, sys_days{year{2026} / 12 / 7}, sys_days{year{2026} / 12 / 8},
                selection};
    }

    const fs::path root_ = test::UniqueTempPath("history-test-");
    test::SetRecorderClock clock_{LocalDateTime{2026, 12, 7, 23, 59, 0, 0, 28800}};
    std::vector<Reading> readings_;
};

TEST_F(RecordedFolder, ReadsBackEveryReadingExactlyWithItsGap) {
    const auto terminals = ListTerminals(root_);
    ASSERT_EQ(terminals.size(), 2U);
    EXPECT_EQ(terminals[0].name, "B");
    EXPECT_EQ(terminals[1].name, "泵站/1");
    EXPECT_NE(terminals[1].folder, terminals[1].name);

    const auto before = test::FolderSnapshot(root_);
    Observer observer;
    const History history = LoadHistory(Request(terminals[1].folder), observer);
    EXPECT_EQ(test::FolderSnapshot(root_), before);

    EXPECT_EQ(history.name, "泵站/1");
    EXPECT_EQ(history.problems.rows, 0U);
    EXPECT_TRUE(history.unreadable.empty());
    EXPECT_EQ(observer.days, (std::vector<std::size_t>{240, readings_.size()}));
    EXPECT_EQ(observer.lastRead, observer.lastTotal);
    const Series& series = history.series;
    ASSERT_EQ(series.Rows(), readings_.size());
    for (std::size_t row = 0; row < readings_.size(); ++row) {
        const Reading& r = readings_[row];
        EXPECT_EQ(FormatDateTimeMs(LocalDateTimeOf(series.Time(row))), FormatDateTimeMs(r.time));
        EXPECT_EQ(series.Value(0, row), static_cast<float>(r.channelMillivolts[0]) / 1000.0F);
        if (r.channelCount == 12) {
            EXPECT_EQ(series.Value(1, row), static_cast<float>(r.channelMillivolts[4]) / 1000.0F);
            EXPECT_EQ(series.Value(2, row), static_cast<float>(r.channelMillivolts[11]) / 1000.0F);
        } else {
            EXPECT_TRUE(std::isnan(series.Value(1, row)));
        }
        EXPECT_EQ(series.Value(3, row), static_cast<float>(r.temperatureCentidegrees) / 100.0F);
        EXPECT_EQ(series.Value(4, row), static_cast<float>(r.supplyCentivolts) / 100.0F);
        EXPECT_EQ(series.Value(5, row), static_cast<float>(r.signalValue));
        std::uint32_t flags = 0;
        for (int k = 1; k <= 12; ++k) {
            flags |=
                (r.inputs[k - 1] != 0 ? InputBit(k) : 0) | (r.relays[k - 1] != 0 ? RelayBit(k) : 0);
        }
        EXPECT_EQ(series.Flags(row), flags);
    }
    // Joined across midnight, split where the terminal was away.
    ASSERT_EQ(series.Pieces().size(), 2U);
    EXPECT_EQ(series.Pieces()[1].begin, 280U);
    std::vector<std::string> events;
    for (const EventRecord& event : history.events) {
        events.push_back(event.event + " " + event.name);
    }
    EXPECT_EQ(events,
              (std::vector<std::string>{"开始记录 ", "已断开 泵站/1", "注册 泵站/1", "停止记录 "}));
}

TEST_F(RecordedFolder, LoadsOffThreadAndStopsWhenCancelled) {
    Observer observer;
    observer.cancelAfterDays = 1;
    History history;
    std::thread loader(
        [&] { history = LoadHistory(Request(ListTerminals(root_)[1].folder), observer); });
    loader.join();
    EXPECT_TRUE(history.cancelled);
    EXPECT_EQ(history.daysRead, 1U);
    EXPECT_EQ(history.series.Rows(), 240U);

    Observer empty;
    const fs::path nothing = root_ / "nothing";
    fs::create_directories(nothing / "plain");
    EXPECT_TRUE(ListTerminals(nothing).empty());
    const History none = LoadHistory({nothing, "plain", {}, {}, {}}, empty);
    EXPECT_EQ(none.name, "plain");
    EXPECT_EQ(none.series.Rows(), 0U);
    EXPECT_EQ(none.days, 0U);
    // A folder with a day file but no name file is a terminal named as its folder.
    std::ofstream(nothing / "plain" / "2026-12-08.csv").put('\n');
    const auto terminals = ListTerminals(nothing);
    ASSERT_EQ(terminals.size(), 1U);
    EXPECT_EQ(terminals[0].name, "plain");
    EXPECT_TRUE(empty.days.empty());
}

}  // namespace
}  // namespace corvelle
