// The writer without its thread, on a fake clock: what it does when files and folders misbehave.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "names/terminal_names.h"
#include "record/csv_rows.h"
#include "record/record_writer.h"
#include "tests/support/set_recorder_clock.h"
#include "tests/support/test_files.h"

namespace corvelle {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

class FakeClock final : public RecorderClock {
  public:
    LocalDateTime Now() const override {
        const auto seconds = elapsed.count() / 1000;
        return {2026,
                12,
                8 + static_cast<int>(seconds / 86400),
                static_cast<int>(seconds / 3600 % 24),
                static_cast<int>(seconds / 60 % 60),
                static_cast<int>(seconds % 60),
                static_cast<int>(elapsed.count() % 1000),
                28800};
    }
    milliseconds Elapsed() const override { return elapsed; }
    // From 2026-12-08 00:00:00.
    milliseconds elapsed{36'000'000};
};

class RecordWriterTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override { fs::remove_all(dir_); }

    RecordWriter& Writer(const RecordWriterOptions& options = {}) {
        writer_ = std::make_unique<RecordWriter>(
            dir_, test::NameBytes, clock_, options,
            [this](const AcquisitionEvent& event) { news_.push_back(event); });
        EXPECT_EQ(writer_->Begin(dir_.string()), std::nullopt);
        return *writer_;
    }
    Reading From(std::string_view name) const {
        Reading reading;
        reading.time = clock_.Now();
        reading.slot = 1;
        reading.name.assign(name.begin(), name.end());
        reading.channelCount = 4;
        return reading;
    }
    // A second of recording: a row from each terminal, then the writer's periodic work.
    std::optional<FileError> Second(std::initializer_list<std::string_view> names) {
        clock_.elapsed += milliseconds(1000);
        for (const std::string_view name : names) {
            writer_->Write(From(name));
        }
        return writer_->Tick();
    }
    int Count(EventKind kind) const {
        return static_cast<int>(std::count_if(news_.begin(), news_.end(),
                                              [kind](const auto& e) { return e.kind == kind; }));
    }
    std::string Events() const { return test::FileText(dir_ / "events-2026-12-08.csv"); }

    const fs::path dir_ = test::UniqueTempPath("writer-test-");
    FakeClock clock_;
    std::vector<AcquisitionEvent> news_;
    std::unique_ptr<RecordWriter> writer_;
};

// A terminal named like the events file, and one whose folder a file stands in: the events and
// every other terminal go on; the blocked terminal's rows wait a minute, are then given up on
// with one report, and flow again once its folder can be made.
TEST_F(RecordWriterTest, OneTerminalsFailureStopsOnlyItsRowsAndEndsWhenItCan) {
    std::ofstream(dir_ / "blocked") << "in the way";
    Writer();
    for (int second = 0; second < 59; ++second) {
        ASSERT_EQ(Second({"events-2026-12-08.csv", "blocked", "ok"}), std::nullopt);
    }
    EXPECT_EQ(Count(EventKind::TerminalRecordingFailed), 0);
    EXPECT_EQ(writer_->Pending(), 59U);
    ASSERT_EQ(Second({"blocked", "ok"}), std::nullopt);
    ASSERT_EQ(Second({"blocked", "ok"}), std::nullopt);
    EXPECT_EQ(Count(EventKind::TerminalRecordingFailed), 1);
    EXPECT_EQ(writer_->Dropped(), 61U);
    EXPECT_EQ(writer_->Pending(), 0U);
    EXPECT_NE(Events().find(",blocked,记录失败,同名的文件或文件夹挡住了它："), std::string::npos)
        << Events();
    EXPECT_FALSE(fs::exists(dir_ / "events-2026-12-08.csv" / "2026-12-08.csv"));
    // Readers find each folder's terminal by its name file.
    const std::string hostile = "events-2026-12-08.csv";
    const std::vector<std::uint8_t> raw(hostile.begin(), hostile.end());
    EXPECT_EQ(test::FileText(dir_ / FolderName(raw, hostile) / RecordWriter::kNameFile),
              hostile + "\n");

    fs::remove(dir_ / "blocked");
    for (int second = 0; second < 31; ++second) {
        ASSERT_EQ(Second({"blocked", "ok"}), std::nullopt);
    }
    EXPECT_EQ(Count(EventKind::TerminalRecordingResumed), 1);
    EXPECT_EQ(Count(EventKind::TerminalRecordingFailed), 1);
    EXPECT_TRUE(fs::exists(dir_ / "blocked" / "2026-12-08.csv"));
    EXPECT_EQ(writer_->ReadingRows(), 59U + 2 + 31 + 59 + 1);
    EXPECT_EQ(writer_->Dropped(), 61U + 30);
    ASSERT_EQ(writer_->Finish(0), std::nullopt);
    EXPECT_NE(Events().find(",停止记录,写入"), std::string::npos);
}

// An editor's save: a copy renamed over the file. The rows after it go to the new file.
TEST_F(RecordWriterTest, AFileReplacedUnderTheWriterIsFollowedWithoutLosingARow) {
    Writer();
    ASSERT_EQ(Second({"p"}), std::nullopt);
    const fs::path file = dir_ / "p" / "2026-12-08.csv";
    fs::copy_file(file, dir_ / "p" / "copy");
    fs::rename(dir_ / "p" / "copy", file);
    writer_->Write(From("p"));
    ASSERT_EQ(Second({"p"}), std::nullopt);
    EXPECT_EQ(Count(EventKind::RecordingFileReopened), 1);
    const std::string rows = test::FileText(file);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 4) << rows;
    EXPECT_EQ(rows.find(kReadingHeader, 10), std::string::npos);
}

TEST_F(RecordWriterTest, TheFolderGoneOrTheDiskNearlyFullEndTheWholeRecording) {
    Writer();
    ASSERT_EQ(Second({"p"}), std::nullopt);
    fs::remove_all(dir_);
    const auto gone = Second({"p"});
    ASSERT_TRUE(gone.has_value());
    EXPECT_EQ(gone->fault, FileFault::FolderRemoved);
    EXPECT_FALSE(fs::exists(dir_));

    fs::create_directories(dir_);
    news_.clear();
    RecordWriterOptions warnAlways;
    warnAlways.stopBelowBytes = 0;
    warnAlways.warnBelowBytes = ~std::uint64_t{0};
    Writer(warnAlways);
    ASSERT_EQ(Second({"p"}), std::nullopt);
    ASSERT_EQ(Second({"p"}), std::nullopt);
    EXPECT_EQ(Count(EventKind::RecordingSpaceLow), 1);
    RecordWriterOptions stopAlways;
    stopAlways.stopBelowBytes = ~std::uint64_t{0};
    writer_ = std::make_unique<RecordWriter>(
        dir_, [](std::span<const std::uint8_t>) { return std::string("p"); }, clock_, stopAlways,
        nullptr);
    const auto full = writer_->Begin(dir_.string());
    ASSERT_TRUE(full.has_value());
    EXPECT_EQ(full->fault, FileFault::SpaceLow);
}

// Only day files of the recorder's own naming, dated before today minus the days kept, go;
// once at start and again after midnight.
TEST_F(RecordWriterTest, RetentionRemovesOnlyOldFilesOfItsOwnPattern) {
    fs::create_directories(dir_ / "p");
    for (const char* name :
         {"events-2026-11-30.csv", "events-2026-12-01.csv", "notes.csv", "p/2026-11-30.csv",
          "p/2026-12-01.csv", "p/2026-11-30.txt", "p/report 2026-11-30.csv", "p/2026-02-30.csv"}) {
        std::ofstream(dir_ / name) << "x";
    }
    RecordWriterOptions keepWeek;
    keepWeek.keepDays = 7;
    Writer(keepWeek);
    std::set<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
        left.insert(fs::relative(entry.path(), dir_).generic_string());
    }
    EXPECT_EQ(left, (std::set<std::string>{"events-2026-12-01.csv", "notes.csv", "p",
                                           "p/2026-12-01.csv", "p/2026-11-30.txt",
                                           "p/report 2026-11-30.csv", "p/2026-02-30.csv"}));
    EXPECT_EQ(Count(EventKind::RecordingFileRemoved), 2);
    // Past midnight, 2026-12-01 is older than seven days.
    clock_.elapsed += milliseconds(14 * 3600 * 1000);
    ASSERT_EQ(Second({}), std::nullopt);
    EXPECT_FALSE(fs::exists(dir_ / "p" / "2026-12-01.csv"));
    EXPECT_EQ(Count(EventKind::RecordingFileRemoved), 4);
}

// The day files keep raw volts; the events file notes the profile they were written under on a
// terminal's first row, on each new day and whenever it changes, and never without one.
TEST_F(RecordWriterTest, TheProfileInForceIsNotedWhenItStartsChangesOrADayBegins) {
    Writer();
    auto profile = std::make_shared<TerminalProfile>();
    profile->terminal = "p";
    profile->channels[0].emplace().name = "水位";
    const auto write = [&](std::shared_ptr<const TerminalProfile> with) {
        Reading reading = From("p");
        reading.profile = std::move(with);
        writer_->Write(reading);
    };
    writer_->Write(From("plain"));
    write(profile);
    write(std::make_shared<TerminalProfile>(*profile));
    auto renamed = std::make_shared<TerminalProfile>(*profile);
    renamed->channels[0]->name = "液位";
    write(renamed);
    write(nullptr);
    clock_.elapsed += milliseconds(86'400'000);
    write(renamed);
    ASSERT_EQ(writer_->Finish(0), std::nullopt);
    const std::string today = Events();
    const auto notes = [](const std::string& text) {
        std::size_t count = 0;
        for (auto at = text.find(",终端配置,"); at != std::string::npos;
             at = text.find(",终端配置,", at + 1)) {
            ++count;
        }
        return count;
    };
    EXPECT_EQ(notes(today), 3U) << today;
    EXPECT_NE(today.find(",p,终端配置,\"{\"\"name\"\":\"\"p\"\",\"\"description\"\":\"\"\"\","
                         "\"\"channels\"\":[{\"\"channel\"\":1,\"\"name\"\":\"\"水位\"\""),
              std::string::npos)
        << today;
    EXPECT_NE(today.find("液位"), std::string::npos);
    EXPECT_NE(today.find("\"\"channels\"\":[],"), std::string::npos) << today;
    EXPECT_EQ(today.find(",plain,终端配置,"), std::string::npos);
    EXPECT_EQ(notes(test::FileText(dir_ / "events-2026-12-09.csv")), 1U);
}

}  // namespace
}  // namespace corvelle
