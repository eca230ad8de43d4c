#include "history/day_block.h"

#include <algorithm>
#include <iterator>

namespace corvelle {
namespace {

using std::chrono::milliseconds;

constexpr int kGapFactor = 4;
// Room of up to one row in this many left unused in a finished block.
constexpr std::size_t kSlack = 16;

// Marks each row whose forward step is a gap (IsGap) beside the steps before and after it.
// Rows that share a time (a spreadsheet that cut the milliseconds leaves many) and backward steps
// do not count as steps.
void MarkGaps(std::span<const RowTime> times, std::vector<Break>& breaks, milliseconds& firstStep,
              milliseconds& lastStep) {
    milliseconds before{0};
    std::size_t candidate = 0;
    milliseconds candidateStep{0};
    for (std::size_t row = 1; row < times.size(); ++row) {
        const milliseconds step = times[row] - times[row - 1];
        if (step <= milliseconds{0}) {
            continue;
        }
        if (candidate == 0) {
            firstStep = step;
        } else {
            if (IsGap(candidateStep, before, step)) {
                breaks.push_back({candidate, PieceStart::Gap});
            }
            before = candidateStep;
        }
        candidate = row;
        candidateStep = step;
    }
    if (candidate != 0 && IsGap(candidateStep, before, milliseconds{0})) {
        breaks.push_back({candidate, PieceStart::Gap});
    }
    lastStep = candidateStep;
}

}  // namespace

bool IsGap(milliseconds step, milliseconds before, milliseconds after) {
    const milliseconds around = std::max(before, after);
    return around > milliseconds{0} && step > kGapFactor * around;
}

std::size_t DayBlock::Bytes() const {
    std::size_t bytes = times_.capacity() * sizeof(RowTime) +
                        flags_.capacity() * sizeof(std::uint32_t) + flagPyramid_.Bytes() +
                        breaks_.capacity() * sizeof(Break);
    for (std::size_t kept = 0; kept < values_.size(); ++kept) {
        bytes += values_[kept].capacity() * sizeof(float) + pyramids_[kept].Bytes();
    }
    return bytes;
}

DayBlockBuilder::DayBlockBuilder(RowSelection selection)
    : selection_(std::move(selection)), block_(std::make_unique<DayBlock>()) {
    block_->values_.resize(selection_.values.size());
}

void DayBlockBuilder::Reserve(std::size_t rows) {
    block_->times_.reserve(rows);
    for (auto& column : block_->values_) {
        column.reserve(rows);
    }
    if (selection_.flags) {
        block_->flags_.reserve(rows);
    }
}

void DayBlockBuilder::Add(RowTime time, const std::array<float, kValueColumns>& values,
                          std::uint32_t flags) {
    DayBlock& block = *block_;
    if (!block.times_.empty() && time < block.times_.back()) {
        block.breaks_.push_back({block.times_.size(), PieceStart::ClockBack});
    }
    block.times_.push_back(time);
    for (std::size_t kept = 0; kept < selection_.values.size(); ++kept) {
        block.values_[kept].push_back(values[selection_.values[kept]]);
    }
    if (selection_.flags) {
        block.flags_.push_back(flags);
    }
}

std::shared_ptr<const DayBlock> DayBlockBuilder::Finish() {
    std::unique_ptr<DayBlock> block = std::move(block_);
    block_ = std::make_unique<DayBlock>();
    block_->values_.resize(selection_.values.size());

    // Room reserved from an estimate is kept when it is close: shrinking moves every row.
    const auto fit = [](auto& column) {
        if (column.capacity() > column.size() + column.size() / kSlack) {
            column.shrink_to_fit();
        }
    };
    fit(block->times_);
    fit(block->flags_);
    for (auto& column : block->values_) {
        fit(column);
        block->pyramids_.emplace_back(std::span<const float>(column));
    }
    block->flagPyramid_ = MinMaxPyramid<FlagRange>(std::span<const std::uint32_t>(block->flags_));
    std::vector<Break> gaps;
    MarkGaps(block->times_, gaps, block->firstStep_, block->lastStep_);
    std::vector<Break> breaks;
    breaks.reserve(block->breaks_.size() + gaps.size());
    std::merge(block->breaks_.begin(), block->breaks_.end(), gaps.begin(), gaps.end(),
               std::back_inserter(breaks),
               [](const Break& a, const Break& b) { return a.row < b.row; });
    block->breaks_ = std::move(breaks);
    return block;
}

}  // namespace corvelle
