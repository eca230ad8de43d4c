#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "history/min_max_pyramid.h"
#include "history/row_time.h"

namespace corvelle {

// The value columns of a day file in their order after the time: AD1 to AD12 are 0 to 11, then
// temperature (℃), reference (V), supply (V) and signal. Channels are in volts.
using ValueColumn = std::uint8_t;
inline constexpr ValueColumn kTemperatureColumn = 12;
inline constexpr ValueColumn kReferenceColumn = 13;
inline constexpr ValueColumn kSupplyColumn = 14;
inline constexpr ValueColumn kSignalColumn = 15;
inline constexpr std::size_t kValueColumns = 16;

// A row's inputs and relays in one word: input k (1 to 12) is bit k − 1, relay k bit k + 11.
constexpr std::uint32_t InputBit(int k) {
    return std::uint32_t{1} << (k - 1);
}
constexpr std::uint32_t RelayBit(int k) {
    return std::uint32_t{1} << (k + 11);
}

// What a load keeps of each row besides its time: some value columns (each costs 4 bytes a row),
// and the inputs and relays (4 bytes a row for all 24) or not.
struct RowSelection {
    std::vector<ValueColumn> values;
    bool flags = false;
};

// How a piece of a line starts: with the first row, after a gap (the terminal was away, or the
// recording stopped), or with a row earlier than the one before it (the clock was set back).
enum class PieceStart : std::uint8_t { First, Gap, ClockBack };

struct Break {
    std::size_t row = 0;
    PieceStart start = PieceStart::Gap;
};

// Whether the step between two rows is a gap rather than a late reply: it is more than four
// times both steps around it (zero: no step there). Relative, because the interval runs from
// 200 ms to six minutes; on both sides, so that a longer interval set by the operator is no gap.
bool IsGap(std::chrono::milliseconds step, std::chrono::milliseconds before,
           std::chrono::milliseconds after);

// The rows of one day file as a load keeps them, with a min/max pyramid per kept column.
// Immutable once built, so that the loading thread and the window can share it.
class DayBlock {
  public:
    std::size_t Rows() const { return times_.size(); }
    std::span<const RowTime> Times() const { return times_; }
    // The kept value columns in the order of the selection; NaN where a field was empty.
    std::span<const float> Values(std::size_t kept) const { return values_[kept]; }
    // One word per row (InputBit, RelayBit); empty unless the flags are kept.
    std::span<const std::uint32_t> Flags() const { return flags_; }
    ValueRange Range(std::size_t kept, std::size_t begin, std::size_t end) const {
        return pyramids_[kept].Over(values_[kept], begin, end);
    }
    // See MinMaxPyramid::Fetch.
    void Fetch(std::size_t kept, std::size_t row) const {
        pyramids_[kept].Fetch(values_[kept], row);
    }
    FlagRange FlagsOver(std::size_t begin, std::size_t end) const {
        return flagPyramid_.Over(flags_, begin, end);
    }
    void FetchFlags(std::size_t row) const { flagPyramid_.Fetch(flags_, row); }
    // The rows (never the first) where a piece of the line starts, in order.
    std::span<const Break> Breaks() const { return breaks_; }
    // The first and the last forward step between rows of the block; zero when there is none.
    std::chrono::milliseconds FirstStep() const { return firstStep_; }
    std::chrono::milliseconds LastStep() const { return lastStep_; }
    std::size_t Bytes() const;

  private:
    friend class DayBlockBuilder;

    std::vector<RowTime> times_;
    std::vector<std::vector<float>> values_;
    std::vector<MinMaxPyramid<ValueRange>> pyramids_;
    std::vector<std::uint32_t> flags_;
    MinMaxPyramid<FlagRange> flagPyramid_;
    std::vector<Break> breaks_;
    std::chrono::milliseconds firstStep_{0};
    std::chrono::milliseconds lastStep_{0};
};

// Makes a DayBlock row by row.
class DayBlockBuilder {
  public:
    explicit DayBlockBuilder(RowSelection selection);

    // Room for this many rows in all, so that they are not moved as they come.
    void Reserve(std::size_t rows);
    // A row: its time, all its value columns (NaN: empty) and its flag word; the selection
    // decides what is kept.
    void Add(RowTime time, const std::array<float, kValueColumns>& values, std::uint32_t flags);
    // The block, with its pyramids and its gaps; the builder is empty again afterwards.
    std::shared_ptr<const DayBlock> Finish();

  private:
    const RowSelection selection_;
    std::unique_ptr<DayBlock> block_;
};

}  // namespace corvelle
