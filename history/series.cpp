#include "history/series.h"

#include <algorithm>
#include <numeric>
#include <optional>

namespace corvelle {

using std::chrono::milliseconds;

Series::Series(RowSelection selection) : selection_(std::move(selection)) {}

std::pair<std::size_t, std::size_t> Series::Locate(std::size_t row) const {
    const auto after = std::upper_bound(firsts_.begin(), firsts_.end(), row);
    const auto block = static_cast<std::size_t>(after - firsts_.begin()) - 1;
    return {block, row - firsts_[block]};
}

RowTime Series::Time(std::size_t row) const {
    const auto [block, at] = Locate(row);
    return blocks_[block]->Times()[at];
}

float Series::Value(std::size_t kept, std::size_t row) const {
    const auto [block, at] = Locate(row);
    return blocks_[block]->Values(kept)[at];
}

std::uint32_t Series::Flags(std::size_t row) const {
    const auto [block, at] = Locate(row);
    return blocks_[block]->Flags()[at];
}

std::optional<TimeSpan> Series::Extent() const {
    if (rows_ == 0) {
        return std::nullopt;
    }
    TimeSpan span{Time(0), Time(rows_ - 1)};
    for (const Piece& piece : pieces_) {
        span.first = std::min(span.first, Time(piece.begin));
        span.last = std::max(span.last, Time(piece.end - 1));
    }
    return span;
}

void Series::Append(std::shared_ptr<const DayBlock> block, std::span<const RowTime> absences) {
    const std::size_t base = rows_;
    std::vector<Break> starts;
    if (block && block->Rows() > 0) {
        const RowTime first = block->Times().front();
        if (base > 0) {
            const milliseconds step = first - Time(base - 1);
            if (step < milliseconds{0}) {
                starts.push_back({base, PieceStart::ClockBack});
            } else if (absent_ || IsGap(step, lastStep_, block->FirstStep())) {
                starts.push_back({base, PieceStart::Gap});
            }
            if (step > milliseconds{0}) {
                lastStep_ = step;
            }
        }
        absent_ = false;
        if (block->LastStep() > milliseconds{0}) {
            lastStep_ = block->LastStep();
        }
        for (const Break& at : block->Breaks()) {
            starts.push_back({base + at.row, at.start});
        }
        blocks_.push_back(std::move(block));
        firsts_.push_back(base);
        rows_ += blocks_.back()->Rows();
    }
    // An absence splits each run of the new rows whose times never go back where it falls, and
    // the new rows from the old ones when it falls between them.
    std::vector<std::size_t> runs = {base};
    for (const Break& at : starts) {
        if (at.start == PieceStart::ClockBack && at.row > base) {
            runs.push_back(at.row);
        }
    }
    runs.push_back(rows_);
    for (const RowTime absence : absences) {
        if (rows_ == 0 || absence > Time(rows_ - 1)) {
            absent_ = true;
            continue;
        }
        if (rows_ == base) {
            continue;
        }
        for (std::size_t run = 0; run + 1 < runs.size(); ++run) {
            const Piece within{runs[run], runs[run + 1], PieceStart::Gap};
            const std::size_t row = Find(within, absence);
            const bool joinsOld = row == base && base > 0 && run == 0 && Time(base - 1) < absence &&
                                  Time(base - 1) <= Time(base);
            if ((row > within.begin && row < within.end) || joinsOld) {
                starts.push_back({row, PieceStart::Gap});
            }
        }
    }
    // A row that starts a piece for two reasons keeps the first one found.
    std::stable_sort(starts.begin(), starts.end(),
                     [](const Break& a, const Break& b) { return a.row < b.row; });
    starts.erase(std::unique(starts.begin(), starts.end(),
                             [](const Break& a, const Break& b) { return a.row == b.row; }),
                 starts.end());
    if (pieces_.empty() && rows_ > 0) {
        pieces_.push_back({0, 0, PieceStart::First});
    }
    for (const Break& at : starts) {
        pieces_.back().end = at.row;
        pieces_.push_back({at.row, 0, at.start});
    }
    if (!pieces_.empty()) {
        pieces_.back().end = rows_;
    }
}

std::size_t Series::Find(const Piece& piece, RowTime time) const {
    // Block by block, the last rows of each first: a search within one block then reads one
    // array, not a block's rows through Locate.
    if (piece.begin >= piece.end) {
        return piece.end;
    }
    auto [block, at] = Locate(piece.begin);
    for (std::size_t row = piece.begin;; ++block, at = 0) {
        const std::span<const RowTime> times = blocks_[block]->Times();
        const std::size_t stop = std::min(times.size(), at + (piece.end - row));
        if (times[stop - 1] >= time || row + (stop - at) == piece.end) {
            const auto found =
                std::lower_bound(times.begin() + static_cast<std::ptrdiff_t>(at),
                                 times.begin() + static_cast<std::ptrdiff_t>(stop), time);
            return row + static_cast<std::size_t>(found - times.begin()) - at;
        }
        row += stop - at;
    }
}

std::size_t Series::Nearest(RowTime time) const {
    std::size_t nearest = rows_;
    milliseconds distance = milliseconds::max();
    const auto consider = [&](std::size_t row) {
        const milliseconds d = time > Time(row) ? time - Time(row) : Time(row) - time;
        if (d < distance) {
            distance = d;
            nearest = row;
        }
    };
    for (const Piece& piece : pieces_) {
        const std::size_t row = Find(piece, time);
        if (row < piece.end) {
            consider(row);
        }
        if (row > piece.begin) {
            consider(row - 1);
        }
    }
    return nearest;
}

template <class Range, class BlockRange>
Range Series::Over(std::size_t begin, std::size_t end, BlockRange blockRange) const {
    Range range;
    if (begin >= end) {
        return range;
    }
    for (auto [block, at] = Locate(begin); begin < end; ++block, at = 0) {
        const std::size_t take = std::min(end - begin, blocks_[block]->Rows() - at);
        range.Add(blockRange(*blocks_[block], at, at + take));
        begin += take;
    }
    return range;
}

ValueRange Series::Range(std::size_t kept, std::size_t begin, std::size_t end) const {
    return Over<ValueRange>(begin, end,
                            [kept](const DayBlock& block, std::size_t b, std::size_t e) {
                                return block.Range(kept, b, e);
                            });
}

void Series::Fetch(std::size_t kept, std::size_t row) const {
    if (row < rows_) {
        const auto [block, at] = Locate(row);
        blocks_[block]->Fetch(kept, at);
    }
}

void Series::FetchFlags(std::size_t row) const {
    if (row < rows_) {
        const auto [block, at] = Locate(row);
        blocks_[block]->FetchFlags(at);
    }
}

FlagRange Series::FlagsOver(std::size_t begin, std::size_t end) const {
    return Over<FlagRange>(begin, end, [](const DayBlock& block, std::size_t b, std::size_t e) {
        return block.FlagsOver(b, e);
    });
}

void Series::Columns(const Piece& piece, RowTime from, RowTime to, int width,
                     std::vector<PixelColumn>& columns) const {
    columns.clear();
    if (piece.begin >= piece.end || width <= 0 || to <= from) {
        return;
    }
    const RowTime first = Time(piece.begin);
    const RowTime last = Time(piece.end - 1);
    if (last < from || first >= to) {
        return;
    }
    const milliseconds span = to - from;
    const auto edge = [&](int x) { return from + span * x / width; };
    // The column holding a time: the last x whose edge is at or before it, which is the first x
    // with (t − from + 1 ms) · width <= span · (x + 1), less one; several columns share an edge
    // when they are narrower than a millisecond.
    const auto column = [&](RowTime time) {
        const std::int64_t after = (std::clamp(time, from, to) - from).count() + 1;
        const std::int64_t x = (after * width + span.count() - 1) / span.count() - 1;
        return static_cast<int>(std::clamp<std::int64_t>(x, 0, width - 1));
    };
    const int firstX = column(first);
    const int lastX = column(last);
    std::size_t row = Find(piece, edge(firstX));
    for (int x = firstX; x <= lastX && row < piece.end; ++x) {
        // Searched from the column before: the edges only move right.
        const Piece rest{row, piece.end, piece.start};
        const std::size_t next = Find(rest, x + 1 == width ? to : edge(x + 1));
        if (next > row) {
            columns.push_back({x, row, next});
            row = next;
        }
    }
}

std::size_t Series::Bytes() const {
    return std::accumulate(
               blocks_.begin(), blocks_.end(), std::size_t{0},
               [](std::size_t sum, const auto& block) { return sum + block->Bytes(); }) +
           pieces_.capacity() * sizeof(Piece) + firsts_.capacity() * sizeof(std::size_t) +
           blocks_.capacity() * sizeof(blocks_.front());
}

}  // namespace corvelle
