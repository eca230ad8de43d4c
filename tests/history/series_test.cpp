// The min/max pyramid and the series against brute force, and where a series' line breaks.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "history/series.h"

namespace corvelle {
namespace {

using std::chrono::milliseconds;

const RowTime kMidnight = StartOf(std::chrono::sys_days{std::chrono::year{2026} / 12 / 8});

template <class Range, class Column>
Range Brute(const Column& column, std::size_t begin, std::size_t end) {
    Range range;
    for (std::size_t i = begin; i < end; ++i) {
        range.Add(column[i]);
    }
    return range;
}

TEST(MinMaxPyramid, EveryRunExactAgainstBruteForce) {
    std::mt19937 random(7);
    for (const std::size_t size : {1, 15, 16, 17, 255, 256, 257, 5000, 70000}) {
        std::vector<float> values(size);
        std::vector<std::uint32_t> flags(size);
        for (std::size_t i = 0; i < size; ++i) {
            // Spikes of one row, and stretches without a value.
            values[i] = random() % 97 == 0 ? std::numeric_limits<float>::quiet_NaN()
                                           : static_cast<float>(random() % 20001) / 10 - 1000;
            flags[i] = random() % 7 == 0 ? random() & 0xFFFFFF : 0x5;
        }
        const MinMaxPyramid<ValueRange> valuePyramid{std::span<const float>(values)};
        const MinMaxPyramid<FlagRange> flagPyramid{std::span<const std::uint32_t>(flags)};
        for (int query = 0; query < 2000; ++query) {
            std::size_t begin = random() % (size + 1);
            std::size_t end = random() % (size + 1);
            std::tie(begin, end) = std::minmax(begin, end);
            const auto range = valuePyramid.Over(values, begin, end);
            const auto brute = Brute<ValueRange>(values, begin, end);
            ASSERT_EQ(range.Empty(), brute.Empty());
            if (!brute.Empty()) {
                ASSERT_EQ(range.min, brute.min);
                ASSERT_EQ(range.max, brute.max);
            }
            const auto flagRange = flagPyramid.Over(flags, begin, end);
            const auto flagBrute = Brute<FlagRange>(flags, begin, end);
            ASSERT_EQ(flagRange.all, flagBrute.all);
            ASSERT_EQ(flagRange.any, flagBrute.any);
        }
    }
}

// A block of rows at the given times (milliseconds after midnight), each valued by its index.
std::shared_ptr<const DayBlock> Block(const std::vector<std::int64_t>& times, float first = 0) {
    DayBlockBuilder builder({{0}, true});
    std::array<float, kValueColumns> values{};
    for (const std::int64_t time : times) {
        values[0] = first++;
        builder.Add(kMidnight + milliseconds(time), values, static_cast<std::uint32_t>(time));
    }
    return builder.Finish();
}

std::vector<std::int64_t> Every(std::int64_t from, std::int64_t step, int count) {
    std::vector<std::int64_t> times;
    times.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        times.push_back(from + step * i);
    }
    return times;
}

std::vector<std::size_t> Starts(const Series& series) {
    std::vector<std::size_t> starts;
    for (const Piece& piece : series.Pieces()) {
        starts.push_back(piece.begin);
    }
    return starts;
}

TEST(Series, PixelColumnsHoldEveryRowOnceWithExactRanges) {
    Series series({{0}, true});
    std::mt19937 random(3);
    for (std::int64_t block = 0; block < 3; ++block) {
        std::vector<std::int64_t> times;
        for (std::int64_t t = 0; t < 20000; t += 1 + random() % 400) {
            times.push_back(block * 20000 + t);
        }
        series.Append(Block(times, static_cast<float>(random() % 1000)));
    }
    std::vector<PixelColumn> columns;
    for (int view = 0; view < 200; ++view) {
        const RowTime from = kMidnight + milliseconds(random() % 60000) - milliseconds(500);
        const RowTime to = from + milliseconds(1 + random() % 60000);
        const int width = 1 + static_cast<int>(random() % 700);
        for (const Piece& piece : series.Pieces()) {
            series.Columns(piece, from, to, width, columns);
            const std::size_t first = series.Find(piece, from);
            std::size_t row = first;
            for (const PixelColumn& column : columns) {
                ASSERT_EQ(column.begin, row);
                row = column.end;
                const RowTime left = from + (to - from) * column.x / width;
                const RowTime right = from + (to - from) * (column.x + 1) / width;
                ASSERT_GE(series.Time(column.begin), left);
                ASSERT_LT(series.Time(column.end - 1), right);
                ValueRange brute;
                for (std::size_t r = column.begin; r < column.end; ++r) {
                    brute.Add(series.Value(0, r));
                }
                const ValueRange range = series.Range(0, column.begin, column.end);
                ASSERT_EQ(range.min, brute.min);
                ASSERT_EQ(range.max, brute.max);
            }
            EXPECT_EQ(row, series.Find(piece, to));
        }
    }
}

TEST(Series, BreaksAtGapsClockBackAndAbsencesOnly) {
    // 200 ms rows, a 10 s gap, the interval set to 3 s (no gap), the clock set back.
    auto times = Every(0, 200, 10);
    times.push_back(times.back() + 10000);
    for (const auto t : Every(times.back() + 200, 200, 5)) {
        times.push_back(t);
    }
    for (const auto t : Every(times.back() + 3000, 3000, 5)) {
        times.push_back(t);
    }
    times.push_back(500);
    times.push_back(700);
    Series series({{0}, false});
    series.Append(Block(times));
    EXPECT_EQ(Starts(series), (std::vector<std::size_t>{0, 10, 21}));
    EXPECT_EQ(series.Pieces()[1].start, PieceStart::Gap);
    EXPECT_EQ(series.Pieces()[2].start, PieceStart::ClockBack);

    // Rows sharing times (a spreadsheet cut the milliseconds) make no gaps.
    Series coarse({{0}, false});
    coarse.Append(Block({0, 0, 0, 60000, 60000, 120000, 120000, 120000, 180000}));
    EXPECT_EQ(coarse.Pieces().size(), 1U);

    // Absences: within a block, between two blocks, and after the last row.
    Series away({{0}, false});
    const std::vector<RowTime> within = {kMidnight + milliseconds(1000)};
    away.Append(Block(Every(0, 200, 10)), within);
    const std::vector<RowTime> between = {kMidnight + milliseconds(1900)};
    away.Append(Block(Every(2000, 200, 10)), between);
    const std::vector<RowTime> after = {kMidnight + milliseconds(5000)};
    away.Append(Block({}), after);
    away.Append(Block(Every(5200, 200, 10)));
    EXPECT_EQ(Starts(away), (std::vector<std::size_t>{0, 5, 10, 20}));
    EXPECT_EQ(away.Rows(), 30U);
    EXPECT_EQ(away.Nearest(kMidnight + milliseconds(5150)), 20U);
    EXPECT_EQ(away.Nearest(kMidnight + milliseconds(4000)), 19U);
}

}  // namespace
}  // namespace corvelle
