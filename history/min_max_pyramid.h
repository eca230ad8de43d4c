#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace corvelle {

// The smallest and largest value of some rows of a channel; empty (min > max) when none has a
// value (empty fields: the channel is past the board's count).
struct ValueRange {
    using Value = float;

    float min = std::numeric_limits<float>::infinity();
    float max = -std::numeric_limits<float>::infinity();

    bool Empty() const { return !(min <= max); }
    // std::min and std::max keep their first argument when the second is NaN: no value.
    void Add(float value) {
        min = std::min(min, value);
        max = std::max(max, value);
    }
    void Add(const ValueRange& other) {
        min = std::min(min, other.min);
        max = std::max(max, other.max);
    }
};

// The inputs and relays of some rows, one bit each (see FlagWord): all, the bits set in every
// row (the minimum of each flag), and any, the bits set in at least one (the maximum). Over no
// rows, all bits are in all and none in any.
struct FlagRange {
    using Value = std::uint32_t;

    std::uint32_t all = ~std::uint32_t{0};
    std::uint32_t any = 0;

    void Add(std::uint32_t flags) {
        all &= flags;
        any |= flags;
    }
    void Add(const FlagRange& other) {
        all &= other.all;
        any |= other.any;
    }
};

// Asks for the cache line at address to be fetched, where the compiler can; nothing elsewhere.
inline void FetchLine([[maybe_unused]] const void* address) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#endif
}

// Summaries of a column for buckets of kFan rows, of kFan such buckets, and so on up: the range of
// any run of rows comes from at most 2 × (kFan − 1) summaries on each level, a few hundred steps
// whatever the run's length, and no row is ever left out. Costs about 8 / (kFan − 1) bytes per
// row over the column itself, which the pyramid does not hold.
template <class Range>
class MinMaxPyramid {
  public:
    using Value = typename Range::Value;
    static constexpr std::size_t kFan = 16;

    MinMaxPyramid() = default;
    explicit MinMaxPyramid(std::span<const Value> column) {
        std::size_t size = column.size();
        const auto summarise = [&](const auto& below) {
            std::vector<Range> level((size + kFan - 1) / kFan);
            for (std::size_t i = 0; i < size; ++i) {
                level[i / kFan].Add(below[i]);
            }
            size = level.size();
            levels_.push_back(std::move(level));
        };
        if (size > 0) {
            summarise(column);
        }
        while (size > kFan) {
            // Read before the new level goes in.
            summarise(levels_.back());
        }
    }

    // The range of column[begin, end), column being the one the pyramid was made of.
    Range Over(std::span<const Value> column, std::size_t begin, std::size_t end) const {
        Range range;
        std::size_t low = begin;
        std::size_t high = end;
        // Level 0 is the column itself; level k + 1 is levels_[k].
        const auto walk = [&](const auto& level, bool top) {
            if (top || high - low < 2 * kFan) {
                for (; low < high; ++low) {
                    range.Add(level[low]);
                }
                return true;
            }
            for (; low % kFan != 0; ++low) {
                range.Add(level[low]);
            }
            for (; high % kFan != 0; --high) {
                range.Add(level[high - 1]);
            }
            low /= kFan;
            high /= kFan;
            return false;
        };
        bool done = walk(column, levels_.empty());
        for (std::size_t k = 0; !done; ++k) {
            done = walk(levels_[k], k + 1 == levels_.size());
        }
        return range;
    }

    // Has the summaries that a range starting or ending at row reads first fetched into the
    // cache, where the compiler can: in a month's view, a range's own work is little beside
    // waiting for them.
    void Fetch(std::span<const Value> column, std::size_t row) const {
        if (row >= column.size()) {
            return;
        }
        FetchBucket(column, row);
        for (const auto& level : levels_) {
            row /= kFan;
            FetchBucket(std::span<const Range>(level), row);
        }
    }

    std::size_t Bytes() const {
        std::size_t bytes = 0;
        for (const auto& level : levels_) {
            bytes += level.capacity() * sizeof(Range);
        }
        return bytes;
    }

  private:
    // The lines of the kFan entries around entry i, which a range reads on one side of it.
    template <class Entry>
    static void FetchBucket(std::span<const Entry> entries, std::size_t i) {
        constexpr std::size_t kLineEntries = std::max<std::size_t>(1, 64 / sizeof(Entry));
        const std::size_t first = i - i % kFan;
        const std::size_t last = std::min(first + kFan, entries.size()) - 1;
        for (std::size_t at = first; at < last; at += kLineEntries) {
            FetchLine(&entries[at]);
        }
        FetchLine(&entries[last]);
    }

    std::vector<std::vector<Range>> levels_;
};

}  // namespace corvelle
