#include "history/csv_records.h"

#include <algorithm>
#include <cstring>

#include "history/row_time.h"
#include "record/csv_rows.h"

namespace corvelle {
namespace {

// What one read asks of the stream at most: a megabyte is read from the page cache in well
// under a millisecond, so progress and cancellation are heard often. The first read asks for
// less, so that the many small files (events, short days) cost little memory.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
constexpr std::size_t kFirstPieceBytes = std::size_t{64} << 10;

}  // namespace

void ReadProblems::Add(std::string_view file, std::uint64_t line) {
    if (rows++ == 0) {
        firstFile = file;
        firstLine = line;
    }
}

CsvRecords::CsvRecords(std::istream& in, Limits limits,
                       std::function<bool(std::uint64_t)> pieceRead)
    : in_(in), limits_(limits), pieceRead_(std::move(pieceRead)), buffer_(kFirstPieceBytes) {
    unquoted_.reserve(buffer_.size());
}

bool CsvRecords::Fill() {
    if (atEnd_ || stopped_) {
        return false;
    }
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    // A file longer than the first piece makes the buffer grow, up to a piece beside the
    // longest record. It runs between records, when no field points into unquoted_.
    if (bytesRead_ > 0 && buffer_.size() < kPieceBytes + limits_.maxRecordBytes) {
        buffer_.resize(std::min(kPieceBytes + limits_.maxRecordBytes, 2 * buffer_.size()));
        unquoted_.reserve(buffer_.size());
    }
    const std::size_t wanted = buffer_.size() - end_;
    in_.read(buffer_.data() + end_, static_cast<std::streamsize>(wanted));
    const auto got = static_cast<std::size_t>(in_.gcount());
    failed_ = in_.bad();
    atEnd_ = got < wanted || failed_;
    if (bytesRead_ == 0 && got >= kByteOrderMark.size() &&
        std::string_view(buffer_.data(), kByteOrderMark.size()) == kByteOrderMark) {
        begin_ = kByteOrderMark.size();
    }
    bytesRead_ += got;
    end_ += got;
    if (pieceRead_ && !pieceRead_(bytesRead_)) {
        stopped_ = true;
        return false;
    }
    return true;
}

std::size_t CsvRecords::LineEndAt(const char* p) const {
    if (*p == '\n') {
        return 1;
    }
    if (p + 1 < buffer_.data() + end_) {
        return p[1] == '\n' ? 2 : 1;
    }
    return atEnd_ ? 1 : 0;
}

std::uint64_t CsvRecords::LineEndsIn(const char* from, const char* to) const {
    std::uint64_t count = 0;
    for (const char* p = from; p < to; ++p) {
        count += *p == '\n' || (*p == '\r' && (p + 1 == to || p[1] != '\n')) ? 1 : 0;
    }
    return count;
}

CsvRecords::Split CsvRecords::SplitRecord() {
    fields_.clear();
    unquoted_.clear();
    const char* const base = buffer_.data();
    const char* const end = base + end_;
    const char* p = base + begin_;
    std::uint64_t lines = 0;
    const auto finish = [&](const char* next, std::uint64_t spanned, Split split) {
        next_ = static_cast<std::size_t>(next - base);
        lines_ = spanned;
        return split;
    };
    // A bad record goes to the end of its line.
    const auto bad = [&](const char* from) {
        while (from < end && *from != '\r' && *from != '\n') {
            ++from;
        }
        if (from == end) {
            return atEnd_ ? finish(end, lines, Split::Bad) : Split::NeedMore;
        }
        const std::size_t size = LineEndAt(from);
        return size == 0 ? Split::NeedMore : finish(from + size, lines + 1, Split::Bad);
    };
    for (;;) {
        if (p < end && *p == '"') {
            const std::size_t from = unquoted_.size();
            for (++p;;) {
                const char* q = p;
                while (q < end && *q != '"' &&
                       (limits_.quotedLineEnds || (*q != '\r' && *q != '\n'))) {
                    ++q;
                }
                if (q == end) {
                    return atEnd_ ? finish(end, lines, Split::Bad) : Split::NeedMore;
                }
                if (*q != '"') {
                    return bad(q);
                }
                if (limits_.quotedLineEnds) {
                    lines += LineEndsIn(p, q);
                }
                unquoted_.append(p, q);
                if (q + 1 == end && !atEnd_) {
                    return Split::NeedMore;
                }
                p = q + 1;
                if (p == end || *p != '"') {
                    break;
                }
                unquoted_ += '"';
                ++p;
            }
            fields_.emplace_back(unquoted_.data() + from, unquoted_.size() - from);
            if (p < end && *p != ',' && *p != '\r' && *p != '\n') {
                return bad(p);
            }
        } else {
            const char* const start = p;
            while (p < end && *p != ',' && *p != '\r' && *p != '\n') {
                ++p;
            }
            fields_.emplace_back(start, static_cast<std::size_t>(p - start));
        }
        if (p == end) {
            return atEnd_ ? finish(end, lines, Split::Done) : Split::NeedMore;
        }
        if (*p == ',') {
            ++p;
            continue;
        }
        const std::size_t size = LineEndAt(p);
        return size == 0 ? Split::NeedMore : finish(p + size, lines + 1, Split::Done);
    }
}

bool CsvRecords::SkipLine() {
    const char* const base = buffer_.data();
    const char* p = base + begin_;
    while (p < base + end_ && *p != '\r' && *p != '\n') {
        ++p;
    }
    begin_ = static_cast<std::size_t>(p - base);
    if (begin_ == end_) {
        return atEnd_;
    }
    const std::size_t size = LineEndAt(p);
    if (size == 0) {
        return false;
    }
    begin_ += size;
    ++nextLine_;
    return true;
}

CsvRecords::Next CsvRecords::Read() {
    for (;;) {
        if (skipping_) {
            if (!SkipLine()) {
                if (!Fill()) {
                    return Next::End;
                }
                continue;
            }
            skipping_ = false;
        }
        if (begin_ == end_) {
            if (!Fill()) {
                return Next::End;
            }
            continue;
        }
        const Split split = SplitRecord();
        if (split == Split::NeedMore && end_ - begin_ >= limits_.maxRecordBytes) {
            // Too long to hold: the rest is passed over up to a line end. Kept: a CR at the end,
            // whose LF may follow.
            const std::size_t keep = buffer_[end_ - 1] == '\r' ? 1 : 0;
            const char* const base = buffer_.data();
            line_ = nextLine_;
            nextLine_ += LineEndsIn(base + begin_, base + end_ - keep);
            begin_ = end_ - keep;
            skipping_ = true;
            return Next::Bad;
        }
        if (split == Split::NeedMore) {
            if (!Fill()) {
                return Next::End;
            }
            continue;
        }
        const bool tooLong = next_ - begin_ > limits_.maxRecordBytes;
        line_ = nextLine_;
        nextLine_ += lines_;
        begin_ = next_;
        if (split == Split::Bad || tooLong) {
            return Next::Bad;
        }
        if (fields_.size() > 1 || !fields_[0].empty()) {
            return Next::Record;
        }
    }
}

bool HasFields(std::span<const std::string_view> fields, std::size_t count) {
    return fields.size() >= count &&
           std::all_of(fields.begin() + static_cast<std::ptrdiff_t>(count), fields.end(),
                       [](std::string_view field) { return field.empty(); });
}

bool StartsWithTime(std::span<const std::string_view> fields) {
    return !fields.empty() && ParseRowTime(fields[0]).has_value();
}

}  // namespace corvelle
