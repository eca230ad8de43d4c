// The history window end to end on a folder the recorder's own writer made: the terminal by its
// name, the profile in force at each row, the hover read-out, the rows counted in the chart's
// description, the visible range exported, bad rows reported, and nothing written to the folder.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QMessageBox>
#include <QPicture>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "app/console_options.h"
#include "history/day_block.h"
#include "history/record_folder.h"
#include "history/ui/history_window.h"
#include "record/record_writer.h"
#include "tests/support/set_recorder_clock.h"
#include "tests/support/test_files.h"

namespace corvelle {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

const std::string kName = "泵站/1";

// Ten minutes of 1 s rows on 2026-12-07 from 10:00, AD1 rising by 1 mV a row; the terminal away
// from 10:05 to 10:06; from 10:08 its readings come with a profile that scales AD1 to metres and
// names input 1, which the recorder notes in the events file.
class HistoryWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root_);
        RecordWriter writer(root_, test::NameBytes, clock_, {}, nullptr);
        ASSERT_EQ(writer.Begin(root_.string()), std::nullopt);
        auto profile = std::make_shared<TerminalProfile>();
        profile->terminal = kName;
        profile->channels[0] = ChannelProfile{"水位", "m", Scaling{1, 2, 0, 10}, 2, Axis::Left, {}};
        profile->inputs[0].name = "门禁";
        for (int i = 0; i < 600; ++i) {
            clock_.now.minute = i / 60;
            clock_.now.second = i % 60;
            if (i == 300 || i == 360) {
                AcquisitionEvent event;
                event.kind = i == 300 ? EventKind::Detached : EventKind::Registered;
                event.time = clock_.now;
                event.slot = 1;
                event.name.assign(kName.begin(), kName.end());
                writer.Write(event);
            }
            if (i < 300 || i >= 360) {
                Reading reading;
                reading.time = clock_.now;
                reading.slot = 1;
                reading.name.assign(kName.begin(), kName.end());
                reading.channelCount = 12;
                reading.channelMillivolts[0] = 1000 + i;
                reading.channelMillivolts[1] = -2000;
                reading.inputs[0] = i % 2;
                if (i >= 480) {
                    reading.profile = profile;
                }
                writer.Write(reading);
            }
            clock_.elapsed += milliseconds(1000);
            ASSERT_EQ(writer.Tick(), std::nullopt);
        }
        ASSERT_EQ(writer.Finish(0), std::nullopt);
    }
    void TearDown() override {
        // Gone before the application's fonts are, like any window a user closes.
        delete window_.data();
        fs::remove_all(root_);
    }

    // A window on the folder, loaded with AD1, AD2 and input 1.
    HistoryWindow& Loaded() {
        window_ = new HistoryWindow(QString::fromStdString(root_.string()));
        window_->resize(1200, 700);
        window_->show();
        EXPECT_TRUE(window_->SelectTerminal(QString::fromStdString(kName)));
        window_->SetDates({2026, 12, 7}, {2026, 12, 7});
        window_->SetShown({0, 1}, {1}, {});
        window_->Load();
        EXPECT_TRUE(QTest::qWaitFor([this] { return !window_->Loading(); }, 10000));
        return *window_;
    }

    const fs::path root_ = test::UniqueTempPath("history-window-");
    test::SetRecorderClock clock_{LocalDateTime{2026, 12, 7, 10, 0, 0, 0, 28800}};
    QPointer<HistoryWindow> window_;
};

TEST_F(HistoryWindowTest, ShowsExportsAndWritesNothingToTheFolder) {
    const auto before = test::FolderSnapshot(root_);
    HistoryWindow& window = Loaded();
    HistoryChart& chart = window.Chart();
    EXPECT_EQ(window.StatusText(), QString());
    EXPECT_EQ(chart.accessibleDescription(),
              QStringLiteral("2026-12-07 10:00:00.000 至 2026-12-07 10:09:59.000，540 行"));
    ASSERT_EQ(chart.View()->history.series.Pieces().size(), 2U);

    // The read-out of the row under the pointer, in the profile then in force.
    chart.replot();
    const auto pointAt = [&](int minute, int second) {
        const double at = AxisTime(
            StartOf(std::chrono::sys_days{std::chrono::year{2026} / 12 / 7}) +
            std::chrono::hours(10) + std::chrono::minutes(minute) + std::chrono::seconds(second));
        QTest::mouseMove(&chart, QPoint(static_cast<int>(chart.xAxis->coordToPixel(at)),
                                        chart.axisRect()->rect().center().y()));
        return chart.ReadoutText().toStdString();
    };
    EXPECT_EQ(pointAt(9, 0), "2026-12-07 10:09:00.000\n水位  5.40 m\nAD2  -2.000 V\n门禁  0");
    EXPECT_EQ(pointAt(1, 1), "2026-12-07 10:01:01.000\n水位  1.061 V\nAD2  -2.000 V\n门禁  1");
    // The visible range: volts before the profile, metres from it on.
    const fs::path out = test::UniqueTempPath("history-export-");
    fs::create_directories(out);
    const auto exportCsv = [&](const fs::path& file) {
        auto problem =
            window.ExportTo(HistoryWindow::Export::Csv, QString::fromStdString(file.string()));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window.Exporting(); }, 10000));
        return problem;
    };
    // Written off the UI thread over an older file, which it replaces whole.
    std::ofstream(out / "a.csv") << "older";
    ASSERT_EQ(exportCsv(out / "a.csv"), std::nullopt);
    const std::string csv = test::FileText(out / "a.csv");
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")), "\xEF\xBB\xBF时间,水位(m),水位 原始(V),AD2(V)");
    EXPECT_NE(csv.find("\r\n2026-12-07 10:00:00.000,1.000,1.000,-2.000\r\n"), std::string::npos);
    EXPECT_NE(csv.find("\r\n2026-12-07 10:08:00.000,4.80,1.480,-2.000\r\n"), std::string::npos);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 541);
    // Cancelled at once: the file is the whole export or left as it was; a file that cannot be
    // made is said so, and nothing of either is left behind.
    ASSERT_EQ(window.ExportTo(HistoryWindow::Export::Csv,
                              QString::fromStdString((out / "a.csv").string())),
              std::nullopt);
    window.Cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Exporting(); }, 10000));
    EXPECT_EQ(test::FileText(out / "a.csv"), csv);
    ASSERT_EQ(exportCsv(out / "none" / "b.csv"), std::nullopt);
    const auto* message = window.findChild<QMessageBox*>();
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->text().toStdString(),
              "无法写入：" + QDir::toNativeSeparators(
                                 QString::fromStdString((out / "none" / "b.csv").string()))
                                 .toStdString());
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
    for (const auto kind : {HistoryWindow::Export::Png, HistoryWindow::Export::Pdf}) {
        const fs::path file = out / (kind == HistoryWindow::Export::Png ? "a.png" : "a.pdf");
        EXPECT_EQ(window.ExportTo(kind, QString::fromStdString(file.string())), std::nullopt);
        EXPECT_GT(fs::file_size(file), 1000U);
    }
    EXPECT_TRUE(window.ExportTo(HistoryWindow::Export::Csv,
                                QString::fromStdString((root_ / "x.csv").string())));
    fs::remove_all(out);

    // Zoomed to the first minute, back to the whole range with Home.
    chart.xAxis->setRange(AxisTime(chart.VisibleFrom()), AxisTime(chart.VisibleFrom()) + 60);
    QTest::keyClick(&chart, Qt::Key_Home);
    EXPECT_EQ(chart.VisibleTo(), chart.View()->history.series.Extent()->last);
    window.close();
    EXPECT_EQ(test::FolderSnapshot(root_), before);
}

TEST_F(HistoryWindowTest, CountsBadRowsAndSaysWhereTheFirstIs) {
    const fs::path day = root_ / fs::path(ListTerminals(root_).front().folder) / "2026-12-07.csv";
    std::string text = test::FileText(day);
    // Line 4 cut short, line 6 without its time.
    const auto lineStart = [&](int line) {
        std::size_t at = 0;
        for (int i = 1; i < line; ++i) {
            at = text.find('\n', at) + 1;
        }
        return at;
    };
    text.erase(lineStart(6), 10);
    text.erase(lineStart(4) + 30, text.find('\r', lineStart(4)) - lineStart(4) - 30);
    std::ofstream(day, std::ios::binary | std::ios::trunc) << text;
    HistoryWindow& window = Loaded();
    EXPECT_EQ(window.StatusText().toStdString(), "2 行无法读取（第一处：" +
                                                     ListTerminals(root_).front().folder +
                                                     "/2026-12-07.csv 第 4 行）");
    EXPECT_EQ(window.Chart().View()->history.series.Rows(), 538U);
    window.close();
}

// A dense view's strokes are filled straight into the image and left out where later lines
// cover them: the plot must still be what Qt draws with every stroke whole, as replayed from a
// recording of the drawing (a painter that is not the raster engine gets no such short cuts).
TEST(HistoryChartPicture, DenseLinesAreWhatQtDrawsWithEveryStrokeWhole) {
    const RowSelection selection{{0, 1, 2, 3, 4, 5}, true};
    Series series(selection);
    DayBlockBuilder builder(selection);
    std::array<float, kValueColumns> values{};
    std::uint32_t noise = 11;
    const RowTime start = StartOf(std::chrono::sys_days{std::chrono::year{2026} / 12 / 7});
    for (int row = 0; row < 50'000; ++row) {
        for (std::size_t k = 0; k < 6; ++k) {
            noise = noise * 1664525U + 1013904223U;
            values[k] = static_cast<float>(std::sin(row / (300.0 + 50.0 * k)) +
                                           static_cast<double>(noise >> 20) * 1e-3);
        }
        builder.Add(start + milliseconds(200 * row), values,
                    static_cast<std::uint32_t>(row / 700) & 0xFFFFFF);
    }
    series.Append(builder.Finish());
    History history;
    history.name = kName;
    history.series = std::move(series);
    HistoryChart chart;
    chart.resize(640, 420);
    chart.legend->setVisible(false);
    chart.SetView(HistoryView::Make(std::move(history), {1, 3}, {2}), false);
    const auto draw = [&](QPaintDevice& device) {
        QCPPainter painter(&device);
        chart.toPainter(&painter, chart.width(), chart.height());
    };
    QImage straight(chart.size(), QImage::Format_ARGB32_Premultiplied);
    draw(straight);
    QPicture recorded;
    draw(recorded);
    QImage replayed(chart.size(), QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&replayed);
        painter.drawPicture(0, 0, recorded);
    }
    ASSERT_EQ(chart.axisRects().size(), 2);
    for (const QCPAxisRect* plot : chart.axisRects()) {
        EXPECT_EQ(straight.copy(plot->rect()), replayed.copy(plot->rect()));
    }
}

TEST(HistoryOptions, ReadTheWindowsCommandLine) {
    const auto parse = [](QStringList arguments) {
        arguments.prepend(QStringLiteral("corvelle"));
        return ParseConsoleOptions(arguments);
    };
    const auto full = parse(
        {"--history", "/d", "--terminal", "泵站", "--from", "2026-12-01", "--to", "2026-12-07"});
    ASSERT_TRUE(std::holds_alternative<ConsoleOptions>(full));
    const auto& history = *std::get<ConsoleOptions>(full).history;
    EXPECT_TRUE(history.Complete());
    EXPECT_EQ(history.from, QDate(2026, 12, 1));
    EXPECT_FALSE(std::get<ConsoleOptions>(parse({"--history", "/d"})).history->Complete());
    EXPECT_FALSE(std::get<ConsoleOptions>(parse({})).history.has_value());
    for (const QStringList& bad : {QStringList{"--history", "/d", "--from", "2026-13-01"},
                                   QStringList{"--history", "/d", "--to", "7.12.2026"},
                                   QStringList{"--terminal", "x"}, QStringList{"--history", ""}}) {
        EXPECT_TRUE(std::holds_alternative<BadOptions>(parse(bad))) << bad.join(' ').toStdString();
    }
}

}  // namespace
}  // namespace corvelle
