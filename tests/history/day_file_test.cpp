// The day-file reader over what the recorder writes and what else it tolerates, and over every
// kind of bad row: each skipped, counted, and the first one named.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>

#include "history/day_file.h"
#include "record/csv_rows.h"

namespace corvelle {
namespace {

const std::string kHeader = std::string(kByteOrderMark).append(kReadingHeader) + "\r\n";
const std::string kRow =
    "2026-12-08 10:15:30.123,-1.234,0.005,32.767,-32.768,,,,,,,,,-5.25,2.500,12.05,7,"
    "010000000000,101000000001";
const std::string kLater = "2026-12-08 10:15:30.323" + kRow.substr(23);

RowSelection All() {
    RowSelection selection;
    for (ValueColumn k = 0; k < kValueColumns; ++k) {
        selection.values.push_back(k);
    }
    selection.flags = true;
    return selection;
}

std::shared_ptr<const DayBlock> ReadDay(const std::string& text, ReadProblems& problems) {
    std::istringstream in(text);
    return ReadDayFile(in, All(), "泵站/2026-12-08.csv", problems).block;
}

TEST(DayFile, ReadsTheRecordersRowsExactly) {
    ReadProblems problems;
    const auto block = ReadDay(kHeader + kRow + "\r\n" + kLater + "\r\n", problems);
    ASSERT_EQ(block->Rows(), 2U);
    EXPECT_EQ(problems.rows, 0U);
    EXPECT_EQ(block->Times()[1] - block->Times()[0], std::chrono::milliseconds(200));
    const float expected[] = {-1.234F, 0.005F, 32.767F, -32.768F};
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(block->Values(k)[0], expected[k]);
    }
    for (std::size_t k = 4; k < 12; ++k) {
        EXPECT_TRUE(std::isnan(block->Values(k)[0]));
    }
    EXPECT_EQ(block->Values(kTemperatureColumn)[0], -5.25F);
    EXPECT_EQ(block->Values(kSignalColumn)[0], 7.0F);
    EXPECT_EQ(block->Flags()[0], InputBit(2) | RelayBit(1) | RelayBit(3) | RelayBit(12));
}

TEST(DayFile, ToleratesWhatSpreadsheetsMakeOfTheFile) {
    const std::string lf = kHeader.substr(3, kHeader.size() - 5) + "\n" + kRow + "\n" + kLater;
    // Re-saved: another encoding of the header, quotes, times cut to seconds or minutes with
    // "/" and no leading zeros, trailing zeros and leading flag zeros cut, exponents, columns
    // added at the end.
    const std::string resaved =
        "\xca\xb1\xbc\xe4,AD1\r\n"
        "\"2026/12/8 "
        "9:05:01\",\"-1.2\",5E-3,5.48746591,,,,,,,,,,22,2.5,12,7,10000000000,\"0\",,\r\n"
        "2026-12-08T09:06,1,,,,,,,,,,,,22,2.5,12,7,0,0\r";
    const std::string cases[] = {lf, resaved, kHeader + kRow + "\r" + kLater + "\r"};
    for (const std::string& text : cases) {
        ReadProblems problems;
        const auto block = ReadDay(text, problems);
        EXPECT_EQ(block->Rows(), 2U) << text;
        EXPECT_EQ(problems.rows, 0U) << text;
    }
    ReadProblems problems;
    const auto block = ReadDay(resaved, problems);
    EXPECT_EQ(block->Values(0)[0], -1.2F);
    EXPECT_EQ(block->Values(1)[0], 0.005F);
    EXPECT_EQ(block->Values(2)[0], std::strtof("5.48746591", nullptr));
    EXPECT_EQ(block->Flags()[0], InputBit(2));
    EXPECT_EQ(block->Times()[1] - block->Times()[0], std::chrono::seconds(59));
}

TEST(DayFile, SkipsAndCountsEachBadRowNamingTheFirst) {
    struct Case {
        std::string bad;
        std::uint64_t count;
    };
    const std::string tail = kRow.substr(23);
    const Case cases[] = {
        {"2026-12-08 10:15:31.000,-1.2", 1},                      // cut short by a crash
        {kRow + ",1", 1},                                         // a field too many
        {kRow.substr(0, kRow.rfind(',')), 1},                     // a field too few
        {"2026-12-08 10:15:31.000,abc" + tail.substr(7), 1},      // not a number
        {"2026-12-08 10:15:31.000,nan" + tail.substr(7), 1},      // no NaN or infinity
        {"2026-12-08 10:15:31.000,1e50" + tail.substr(7), 1},     // beyond a float
        {"2026-13-08 10:15:31.000" + tail, 1},                    // no such month
        {"2026-12-08 24:00:00.000" + tail, 1},                    // no such hour
        {kRow.substr(0, kRow.size() - 12) + "010000000002", 1},   // not a flag
        {kRow.substr(0, kRow.size() - 12) + "0010000000001", 1},  // thirteen flags
        {std::string(300, '\0'), 1},                              // zeros left by power loss
        {std::string(5000, '7'), 1},                              // longer than any row
        {"\"2026-12-08 10:15:31.000" + tail, 1},                  // a quote left open
        {"\"2026-12-08 10:15:31.000\"x" + tail, 1},               // text after a quote
        {kHeader.substr(3, kHeader.size() - 5) + "\r\n" + kRow + ",1", 2},  // a header again
    };
    for (const Case& c : cases) {
        ReadProblems problems;
        const auto block =
            ReadDay(kHeader + kRow + "\r\n" + c.bad + ("\r\n" + kLater) + "\r\n", problems);
        EXPECT_EQ(block->Rows(), 2U) << c.bad.substr(0, 40);
        EXPECT_EQ(problems.rows, c.count) << c.bad.substr(0, 40);
        EXPECT_EQ(problems.firstFile, "泵站/2026-12-08.csv");
        EXPECT_EQ(problems.firstLine, 3U) << c.bad.substr(0, 40);
    }
}

TEST(DayFile, EmptyFilesAndHeadersAloneHoldNoRows) {
    for (const std::string& text :
         {std::string(), std::string(kByteOrderMark), kHeader, std::string("\r\n\r\n")}) {
        ReadProblems problems;
        EXPECT_EQ(ReadDay(text, problems)->Rows(), 0U);
        EXPECT_EQ(problems.rows, 0U);
    }
    // Without a header, the first row is a row; a first line that is neither is counted.
    ReadProblems problems;
    EXPECT_EQ(ReadDay(kRow + "\r\n" + kLater, problems)->Rows(), 2U);
    EXPECT_EQ(ReadDay("2026-12-08 10:15:31.000,1\r\n" + kRow, problems)->Rows(), 1U);
    EXPECT_EQ(problems.rows, 1U);
    EXPECT_EQ(problems.firstLine, 1U);
}

TEST(DayFile, TimesGoingBackStartAPieceAndAreKept) {
    ReadProblems problems;
    const auto block =
        ReadDay(kHeader + kLater + "\r\n" + kRow + "\r\n" + kLater + "\r\n", problems);
    ASSERT_EQ(block->Rows(), 3U);
    EXPECT_EQ(problems.rows, 0U);
    ASSERT_EQ(block->Breaks().size(), 1U);
    EXPECT_EQ(block->Breaks()[0].row, 1U);
    EXPECT_EQ(block->Breaks()[0].start, PieceStart::ClockBack);
}

TEST(RowTime, RecordersFormAndSpreadsheetForms) {
    using namespace std::chrono;
    const RowTime noon = StartOf(sys_days{year{2026} / 12 / 8}) + hours(12);
    EXPECT_EQ(ParseRowTime("2026-12-08 12:00:00.000"), noon);
    EXPECT_EQ(ParseRowTime("2026/12/8 12:00"), noon);
    EXPECT_EQ(ParseRowTime("2026-12-08T12:00:01.5"), noon + milliseconds(1500));
    EXPECT_EQ(ParseRowTime("2026-12-08 12:00:01.123456"), noon + milliseconds(1123));
    for (const char* bad : {"", "2026-12-08", "2026-02-30 12:00", "2026-12/08 12:00",
                            "2026-12-08 12:00:00.", "2026-12-08 12:00:60", " 2026-12-08 12:00",
                            "2026-12-08 12:00+08:00", "12/08/2026 12:00"}) {
        EXPECT_EQ(ParseRowTime(bad), std::nullopt) << bad;
    }
}

}  // namespace
}  // namespace corvelle
