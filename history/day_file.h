#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <string_view>

#include "history/csv_records.h"
#include "history/day_block.h"

namespace corvelle {

struct DayFileRead {
    std::shared_ptr<const DayBlock> block;
    // Reading ended before the end of the file: pieceRead said so, or the stream failed. The
    // block holds the rows read until then.
    bool stopped = false;
    bool failed = false;
};

// Reads a terminal's day file (record/: time, AD1..AD12, temperature, reference, supply,
// signal, inputs, relays). Beyond what the recorder writes it takes what a spreadsheet makes of
// the file when it saves it again: no byte-order mark, any encoding of the header, LF or CR line
// ends, quoted fields, the time's other forms (ParseRowTime), numbers in any form std::from_chars
// reads (trailing zeros cut, exponents), flags whose leading zeros were cut (as a number), and
// empty columns added at the end. A row is bad, counted and skipped when it has another number of
// fields, a time, number or flag field that cannot be read (NaN and infinities included), or is
// longer than any row the recorder writes. Empty value fields are no value (NaN). Rows are kept
// in file order: a time earlier than the row before starts a new piece of the line.
DayFileRead ReadDayFile(std::istream& in, const RowSelection& selection, std::string_view file,
                        ReadProblems& problems,
                        std::function<bool(std::uint64_t)> pieceRead = nullptr);

}  // namespace corvelle
