#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "record/csv_recorder.h"
#include "record/csv_rows.h"
#include "tests/support/test_files.h"

namespace corvelle {
namespace {

namespace fs = std::filesystem;

const std::string kBom = "\xEF\xBB\xBF";
const std::string kReadingTop = kBom + std::string(kReadingHeader) + "\r\n";
const std::string kEventTop = kBom + std::string(kEventHeader) + "\r\n";

std::string Ascii(std::span<const std::uint8_t> raw) {
    return {raw.begin(), raw.end()};
}

bool WaitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

Reading At(LocalDateTime time, std::string_view name = "p1") {
    Reading reading;
    reading.time = time;
    reading.slot = 1;
    reading.name.assign(name.begin(), name.end());
    reading.channelCount = 4;
    return reading;
}

LocalDateTime Dec(int day, int hour, int minute, int second, int ms = 0) {
    return {2026, 12, day, hour, minute, second, ms, 28800};
}

// The start and stop marks carry this time.
class StillClock final : public RecorderClock {
  public:
    LocalDateTime Now() const override { return Dec(8, 8, 0, 0); }
    std::chrono::milliseconds Elapsed() const override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
};

std::shared_ptr<const RecorderClock> Clock() {
    return std::make_shared<StillClock>();
}

// The events file's lines past its header, without their times.
std::vector<std::string> EventLines(const std::string& file) {
    std::vector<std::string> lines;
    std::istringstream in(file.substr(kEventTop.size()));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line.substr(24, line.size() - 25));
    }
    return lines;
}

std::string Row(LocalDateTime time) {
    return ReadingRow(At(time)) + "\r\n";
}

class CsvRecorderTest : public ::testing::Test {
  protected:
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Records the readings in one run from Start to the writer's end.
    void Record(const std::vector<Reading>& readings) {
        CsvRecorder recorder(Folder(), Ascii, Clock());
        ASSERT_EQ(recorder.Start(), std::nullopt);
        for (const Reading& reading : readings) {
            recorder.OnReading(reading);
        }
        recorder.Stop();
        ASSERT_TRUE(WaitUntil([&] { return recorder.Finished(); }));
    }

    std::string Folder() const { return dir_.string(); }

    const fs::path dir_ = test::UniqueTempPath("record-test-");
};

TEST_F(CsvRecorderTest, StartsNewAndEmptyFilesAppendsToOthersAndEndsACutRow) {
    const fs::path file = dir_ / "p1" / "2026-12-08.csv";
    const std::string row = Row(Dec(8, 10, 0, 1));
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {std::nullopt, kReadingTop + row},
        {"", kReadingTop + row},
        {kReadingTop + "old\r\n", kReadingTop + "old\r\n" + row},
        {kReadingTop + "old\r\n2026-12-08 10:0", kReadingTop + "old\r\n2026-12-08 10:0\r\n" + row},
        // Cut between CR and LF: no empty row.
        {kReadingTop + "old\r", kReadingTop + "old\r\n" + row},
    };
    for (const auto& [existing, expected] : cases) {
        fs::remove_all(dir_);
        if (existing) {
            fs::create_directories(file.parent_path());
            std::ofstream(file, std::ios::binary) << *existing;
        }
        Record({At(Dec(8, 10, 0, 1))});
        EXPECT_EQ(test::FileText(file), expected);
    }
}

// A power cut inside a quoted name must not make the rest of the day one field.
TEST_F(CsvRecorderTest, ACutQuotedFieldIsClosedBeforeTheNextRow) {
    const fs::path events = dir_ / "events-2026-12-08.csv";
    fs::create_directories(dir_);
    const std::string cut = kEventTop + "2026-12-08 07:00:00.000,1,\"a,\"\"b";
    std::ofstream(events, std::ios::binary) << cut;
    Record({});
    const std::string text = test::FileText(events);
    ASSERT_EQ(text.substr(0, cut.size() + 3), cut + "\"\r\n") << text;
    EXPECT_EQ(EventLines(text.substr(0, kEventTop.size()) + text.substr(cut.size() + 3)).front(),
              ",,开始记录," + Folder() + "（）");
}

TEST_F(CsvRecorderTest, EachDayGetsItsOwnFileAndARestartAddsNoSecondHeader) {
    Record({At(Dec(8, 23, 59, 59, 900)), At(Dec(9, 0, 0, 0, 100))});
    Record({At(Dec(9, 0, 0, 1))});
    EXPECT_EQ(test::FileText(dir_ / "p1" / "2026-12-08.csv"),
              kReadingTop + Row(Dec(8, 23, 59, 59, 900)));
    EXPECT_EQ(test::FileText(dir_ / "p1" / "2026-12-09.csv"),
              kReadingTop + Row(Dec(9, 0, 0, 0, 100)) + Row(Dec(9, 0, 0, 1)));
}

TEST_F(CsvRecorderTest, EventsFileHoldsRecordedKindsBetweenTheMarksUntilStop) {
    CsvRecorder recorder(Folder(), Ascii, Clock());
    ASSERT_EQ(recorder.Start(), std::nullopt);
    const auto event = [](int second, EventKind kind) {
        return AcquisitionEvent{
            Dec(8, 9, 0, second), kind, 2, {'a', ',', 'b'}, "h:1", 6, false, {}, {}, {}, {}};
    };
    recorder.OnEvent(event(0, EventKind::Connected));
    recorder.OnEvent(event(1, EventKind::Registered));
    recorder.OnEvent(event(2, EventKind::Identified));
    recorder.Stop();
    recorder.OnEvent(event(3, EventKind::Detached));
    ASSERT_TRUE(WaitUntil([&] { return recorder.Finished(); }));
    EXPECT_EQ(test::FileText(dir_ / "events-2026-12-08.csv"),
              kEventTop + "2026-12-08 08:00:00.000,,,开始记录," + Folder() + "（）\r\n" +
                  "2026-12-08 09:00:01.000,2,\"a,b\",注册,h:1\r\n" +
                  "2026-12-08 09:00:02.000,2,\"a,b\",已连接,6通道\r\n" +
                  "2026-12-08 08:00:00.000,,,停止记录,写入3行，丢弃0行\r\n");
}

TEST_F(CsvRecorderTest, FolderThatCannotBeMadeIsRefusedAtStart) {
    fs::create_directories(dir_);
    std::ofstream(dir_ / "file") << "x";
    CsvRecorder recorder((dir_ / "file" / "rec").string(), Ascii, Clock());
    const auto error = recorder.Start();
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->path.find("file"), std::string::npos) << error->path;
    recorder.OnReading(At(Dec(8, 10, 0, 0)));
    EXPECT_FALSE(recorder.Finished());
    EXPECT_FALSE(fs::exists(dir_ / "file" / "rec"));
}

TEST_F(CsvRecorderTest, FolderRemovedWhileRecordingStopsItOnceWithoutRecreatingIt) {
    const fs::path file = dir_ / "p1" / "2026-12-08.csv";
    CsvRecorderOptions options;
    options.writer.flushPeriod = std::chrono::milliseconds(5);
    CsvRecorder recorder(Folder(), Ascii, Clock(), options);
    std::atomic<int> failures = 0;
    FileError reason;
    recorder.SetFailureCallback([&](const FileError& error, std::uint64_t) {
        reason = error;
        ++failures;
    });
    ASSERT_EQ(recorder.Start(), std::nullopt);
    recorder.OnReading(At(Dec(8, 10, 0, 0)));
    ASSERT_TRUE(WaitUntil([&] { return test::FileText(file).ends_with(Row(Dec(8, 10, 0, 0))); }));
    fs::remove_all(dir_);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Finished(); }));
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(reason.fault, FileFault::FolderRemoved);
    EXPECT_EQ(reason.path, dir_.string());
    recorder.OnReading(At(Dec(8, 10, 0, 1)));
    recorder.Stop();
    EXPECT_FALSE(fs::exists(dir_));
    EXPECT_EQ(failures, 1);
}

// The probe that checks the folder can be written takes a name nobody uses.
TEST_F(CsvRecorderTest, StartLeavesWhatIsInTheFolderAlone) {
    fs::create_directories(dir_);
    std::ofstream(dir_ / ".write-probe") << "mine";
    Record({});
    EXPECT_EQ(test::FileText(dir_ / ".write-probe"), "mine");
    for (const auto& entry : fs::directory_iterator(dir_)) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".write-probe-"));
    }
}

// Holds the writer inside the name decoder until opened.
class Gate {
  public:
    std::string Decode(std::span<const std::uint8_t> raw) {
        std::unique_lock lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
        return Ascii(raw);
    }
    void WaitEntered() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return entered_; });
    }
    void Open() {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool open_ = false;
};

TEST_F(CsvRecorderTest, OverflowIsCountedAndRecordedOnceWritingCatchesUp) {
    Gate gate;
    {
        CsvRecorderOptions options;
        options.queueCapacity = 4;
        CsvRecorder recorder(
            Folder(), [&](std::span<const std::uint8_t> raw) { return gate.Decode(raw); }, Clock(),
            options);
        ASSERT_EQ(recorder.Start(), std::nullopt);
        recorder.OnReading(At(Dec(8, 10, 0, 0)));
        gate.WaitEntered();
        for (int second = 1; second <= 10; ++second) {
            recorder.OnReading(At(Dec(8, 10, 0, second)));
        }
        EXPECT_EQ(recorder.Queued(), 4U);
        EXPECT_EQ(recorder.Dropped(), 6U);
        gate.Open();
        recorder.Stop();
        ASSERT_TRUE(WaitUntil([&] { return recorder.Finished(); }));
        EXPECT_EQ(recorder.ReadingRowsWritten(), 5U);
        EXPECT_EQ(recorder.EventRowsWritten(), 3U);
    }
    EXPECT_EQ(EventLines(test::FileText(dir_ / "events-2026-12-08.csv")),
              (std::vector<std::string>{",,开始记录," + Folder() + "（）", ",,数据丢弃,6行",
                                        ",,停止记录,写入7行，丢弃6行"}));
    std::string rows = kReadingTop;
    for (int second = 0; second <= 4; ++second) {
        rows += Row(Dec(8, 10, 0, second));
    }
    EXPECT_EQ(test::FileText(dir_ / "p1" / "2026-12-08.csv"), rows);
}

// Rows a failed folder leaves unwritten are dropped, and counted with the others.
TEST_F(CsvRecorderTest, RowsAFailedFolderLeavesUnwrittenAreCounted) {
    Gate gate;
    CsvRecorder recorder(
        Folder(), [&](std::span<const std::uint8_t> raw) { return gate.Decode(raw); }, Clock());
    std::atomic<int> failures = 0;
    std::uint64_t reported = 0;
    recorder.SetFailureCallback([&](const FileError&, std::uint64_t dropped) {
        reported = dropped;
        ++failures;
    });
    ASSERT_EQ(recorder.Start(), std::nullopt);
    recorder.OnReading(At(Dec(8, 10, 0, 0)));
    gate.WaitEntered();
    for (int second = 1; second <= 3; ++second) {
        recorder.OnReading(At(Dec(8, 10, 0, second)));
    }
    fs::remove_all(dir_);
    gate.Open();
    ASSERT_TRUE(WaitUntil([&] { return recorder.Finished(); }));
    EXPECT_EQ(failures, 1);
    // Four readings and the start mark.
    EXPECT_EQ(recorder.ReadingRowsWritten() + recorder.EventRowsWritten() + recorder.Dropped(), 5U);
    EXPECT_EQ(reported, recorder.Dropped());
    EXPECT_EQ(recorder.Unwritten(), 0U);
}

}  // namespace
}  // namespace corvelle
