#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "history/day_block.h"

namespace corvelle {

// Rows [begin, end) of a series that a line joins: their times never go back, and no gap lies
// between them. Draw each piece on its own.
struct Piece {
    std::size_t begin = 0;
    std::size_t end = 0;
    PieceStart start = PieceStart::First;
};

// A pixel column of a view and the rows of one piece that fall in it, [begin, end), never none.
struct PixelColumn {
    int x = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The earliest and the latest time of a series.
struct TimeSpan {
    RowTime first;
    RowTime last;
};

// A terminal's rows over days, as one sequence numbered from 0, made of the day blocks a load
// appends and split into pieces wherever a line must not be drawn: the clock went back, the
// terminal was away or the recording stopped (absences from the events, or a step far longer
// than the ones around it, see IsGap).
//
// Drawing a view [from, to) of width pixels, exact at every zoom level:
//     for (const Piece& piece : series.Pieces())
//         series.Columns(piece, from, to, width, columns);   // the rows of each pixel column
//         for each shown kept column k, for each PixelColumn c:
//             series.Range(k, c.begin, c.end)   // true min and max: a vertical stroke at c.x
//             series.Value(k, c.begin), series.Value(k, c.end - 1)   // joins to the neighbours
// Consecutive PixelColumns of one piece are joined; an empty Range (no value: the channel is
// past the board's count) breaks the line too. Where a view holds fewer rows than pixels, the
// rows themselves (Find, Time, Value) draw it just as well. Inputs and relays: FlagsOver.
//
// Copies share the blocks, so a copy is cheap and may be handed to another thread; a series
// that one thread appends to is not read by another (LoadObserver::OnDay hands out a copy).
class Series {
  public:
    explicit Series(RowSelection selection = {});

    const RowSelection& Selection() const { return selection_; }

    // Appends a day's rows (none: nullptr or an empty block). absences: times when the terminal
    // is known to have been away or the recording not running; a line never joins a row before
    // such a time to one at it or after it, including rows appended later.
    void Append(std::shared_ptr<const DayBlock> block, std::span<const RowTime> absences = {});

    std::size_t Rows() const { return rows_; }
    RowTime Time(std::size_t row) const;
    // kept: the index in Selection().values.
    float Value(std::size_t kept, std::size_t row) const;
    // The row's word of inputs and relays (InputBit, RelayBit), when kept.
    std::uint32_t Flags(std::size_t row) const;
    std::span<const Piece> Pieces() const { return pieces_; }
    // Nothing when there are no rows.
    std::optional<TimeSpan> Extent() const;

    // The first row of piece whose time is time or later; piece.end when there is none.
    std::size_t Find(const Piece& piece, RowTime time) const;
    // The row whose time is nearest to time (the hover read-out); Rows() when there is none.
    std::size_t Nearest(RowTime time) const;

    // Exact over rows [begin, end), from the pyramids: a few hundred steps at most.
    ValueRange Range(std::size_t kept, std::size_t begin, std::size_t end) const;
    FlagRange FlagsOver(std::size_t begin, std::size_t end) const;
    // Has what a Range from or to row reads first fetched, ahead of its call (a view's columns a
    // few ahead): the rows of a month's columns lie far apart and are rarely cached.
    void Fetch(std::size_t kept, std::size_t row) const;
    void FetchFlags(std::size_t row) const;

    // Replaces columns with the pixel columns of [from, to), split into width equal columns
    // (column x starts at from + (to − from) · x / width), that hold rows of piece, left to right.
    void Columns(const Piece& piece, RowTime from, RowTime to, int width,
                 std::vector<PixelColumn>& columns) const;

    // Memory held: the rows, their pyramids and the pieces.
    std::size_t Bytes() const;

  private:
    // The block holding row, and the row's index in it.
    std::pair<std::size_t, std::size_t> Locate(std::size_t row) const;
    template <class Range, class BlockRange>
    Range Over(std::size_t begin, std::size_t end, BlockRange blockRange) const;

    RowSelection selection_;
    std::vector<std::shared_ptr<const DayBlock>> blocks_;
    // The first row of each block.
    std::vector<std::size_t> firsts_;
    std::vector<Piece> pieces_;
    std::size_t rows_ = 0;
    // The last forward step so far, for the gap between two blocks.
    std::chrono::milliseconds lastStep_{0};
    // An absence came after the last row: the next row starts a piece.
    bool absent_ = false;
};

}  // namespace corvelle
