#include "history/visible_csv.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "device/time_text.h"
#include "record/csv_rows.h"

namespace corvelle {
namespace {

// The text handed to the sink at a time: big enough that its calls cost nothing, small enough
// that a cancel is seen at once.
constexpr std::size_t kChunkBytes = std::size_t{256} * 1024;

void AppendNumber(std::string& line, double value, int decimals) {
    line += ',';
    if (std::isnan(value)) {
        return;
    }
    std::array<char, 64> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value,
                                      std::chars_format::fixed, decimals);
    line.append(text.data(), result.ptr);
}

}  // namespace

std::uint64_t VisibleRows(const Series& series, RowTime from, RowTime to) {
    std::uint64_t rows = 0;
    for (const Piece& piece : series.Pieces()) {
        const std::size_t first = series.Find(piece, from);
        rows +=
            series.Find({first, piece.end, piece.start}, to + std::chrono::milliseconds(1)) - first;
    }
    return rows;
}

bool WriteVisibleCsv(const CsvSink& sink, const Series& series,
                     std::span<const ShownChannel> channels, RowTime from, RowTime to) {
    std::string text(kByteOrderMark);
    text += "时间";
    for (const ShownChannel& channel : channels) {
        if (channel.Profiled()) {
            const std::string unit = channel.Unit().empty() ? "" : "(" + channel.Unit() + ")";
            text += ',' + CsvField(channel.Name() + unit);
            text += ',' + CsvField(channel.Name() + " 原始(V)");
        } else {
            text += ",AD" + std::to_string(channel.Channel() + 1) + "(V)";
        }
    }
    text += kLineEnd;
    std::uint64_t rows = 0;
    for (const Piece& piece : series.Pieces()) {
        for (std::size_t row = series.Find(piece, from); row < piece.end && series.Time(row) <= to;
             ++row, ++rows) {
            if (text.size() >= kChunkBytes) {
                if (!sink(text, rows)) {
                    return false;
                }
                text.clear();
            }
            text += FormatDateTimeMs(LocalDateTimeOf(series.Time(row)));
            for (const ShownChannel& channel : channels) {
                if (channel.Profiled()) {
                    AppendNumber(text, channel.Value(row), channel.DecimalsAt(row));
                }
                AppendNumber(text, series.Value(channel.Kept(), row), kVoltDecimals);
            }
            text += kLineEnd;
        }
    }
    return sink(text, rows);
}

}  // namespace corvelle
