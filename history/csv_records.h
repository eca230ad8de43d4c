#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvelle {

// The rows of the files read so far that could not be read: how many, and the first of them, as
// the window names it ("N 行无法读取（第一处：FILE 第 LINE 行）").
struct ReadProblems {
    std::uint64_t rows = 0;
    // The file as the recording folder names it ("泵站1/2026-12-08.csv"), UTF-8.
    std::string firstFile;
    // 1-based; the header is line 1.
    std::uint64_t firstLine = 0;

    void Add(std::string_view file, std::uint64_t line);
};

// The records of a CSV stream, read in pieces of bounded size: RFC 4180 (comma separated, fields
// quoted with doubled quotes inside) as the recorder writes it, and also LF or CR alone as line
// ends, no line end after the last record, a quote inside an unquoted field taken as it is, and
// blank lines, which are passed over. A leading UTF-8 byte-order mark is skipped.
class CsvRecords {
  public:
    struct Limits {
        // A longer record is bad: reading goes on after the next line end past this many bytes.
        std::size_t maxRecordBytes = 4096;
        // Whether a quoted field may hold line ends. When not, a quote still open at the end of
        // the line makes that line a bad record, so a stray quote costs one line, not the rest of
        // the file.
        bool quotedLineEnds = false;
    };
    enum class Next { Record, Bad, End };

    // pieceRead hears the bytes read so far after each piece; false ends the reading (Stopped).
    CsvRecords(std::istream& in, Limits limits,
               std::function<bool(std::uint64_t)> pieceRead = nullptr);

    // The next record, or a bad one (too long; a quoted field left open at the end of the line,
    // or of the file; something other than a comma or a line end after a closing quote).
    Next Read();
    // The fields of the record Read returned, valid until the next Read.
    std::span<const std::string_view> Fields() const { return fields_; }
    // The line on which the record Read returned starts, 1-based.
    std::uint64_t Line() const { return line_; }
    // Bytes of the stream before the next record.
    std::uint64_t Offset() const { return bytesRead_ - (end_ - begin_); }
    // Whether reading ended because pieceRead said so.
    bool Stopped() const { return stopped_; }
    // Whether reading ended because the stream failed.
    bool Failed() const { return failed_; }

  private:
    enum class Split { Done, NeedMore, Bad };

    bool Fill();
    Split SplitRecord();
    // Bytes of the line end at p: 1 or 2, 0 while a CR at the end of the data may be followed by
    // an LF not yet read.
    std::size_t LineEndAt(const char* p) const;
    std::uint64_t LineEndsIn(const char* from, const char* to) const;
    bool SkipLine();

    std::istream& in_;
    const Limits limits_;
    const std::function<bool(std::uint64_t)> pieceRead_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t bytesRead_ = 0;
    bool atEnd_ = false;
    bool stopped_ = false;
    bool failed_ = false;
    bool skipping_ = false;
    std::uint64_t nextLine_ = 1;
    std::uint64_t line_ = 1;
    // Where the record ends, and the lines it spans, once split.
    std::size_t next_ = 0;
    std::uint64_t lines_ = 0;
    std::vector<std::string_view> fields_;
    // The quoted fields without their quotes; as large as the buffer, so that the views into it
    // stay valid.
    std::string unquoted_;
};

// Whether a record holds exactly count fields, or count fields followed by empty ones (a
// spreadsheet keeps columns once touched).
bool HasFields(std::span<const std::string_view> fields, std::size_t count);

// Whether a record's first field is a time (ParseRowTime).
bool StartsWithTime(std::span<const std::string_view> fields);

// Reads every record of a day or an events file into row, which returns whether it could read
// it. A first record that is not a row and does not start with a time is the header, whatever
// encoding a spreadsheet saved it in; every other record that cannot be read is counted in
// problems as a line of file.
template <class Row>
void ReadRows(CsvRecords& records, std::string_view file, ReadProblems& problems, Row&& row) {
    bool first = true;
    for (auto next = records.Read(); next != CsvRecords::Next::End; next = records.Read()) {
        const bool header = first;
        first = false;
        if (next == CsvRecords::Next::Record && row(records.Fields())) {
            continue;
        }
        if (!header || next == CsvRecords::Next::Bad || StartsWithTime(records.Fields())) {
            problems.Add(file, records.Line());
        }
    }
}

}  // namespace corvelle
