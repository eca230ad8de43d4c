#include "history/visible_csv.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "device/time_text.h"
#include "record/csv_rows.h"

namespace corvelle {
namespace {

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

std::uint64_t WriteVisibleCsv(std::ostream& out, const Series& series,
                              std::span<const ShownChannel> channels, RowTime from, RowTime to) {
    std::string line(kByteOrderMark);
    line += "时间";
    for (const ShownChannel& channel : channels) {
        if (channel.Profiled()) {
            const std::string unit = channel.Unit().empty() ? "" : "(" + channel.Unit() + ")";
            line += ',' + CsvField(channel.Name() + unit);
            line += ',' + CsvField(channel.Name() + " 原始(V)");
        } else {
            line += ",AD" + std::to_string(channel.Channel() + 1) + "(V)";
        }
    }
    out << line << kLineEnd;
    std::uint64_t rows = 0;
    for (const Piece& piece : series.Pieces()) {
        for (std::size_t row = series.Find(piece, from);
             row < piece.end && series.Time(row) <= to && out; ++row, ++rows) {
            line = FormatDateTimeMs(LocalDateTimeOf(series.Time(row)));
            for (const ShownChannel& channel : channels) {
                if (channel.Profiled()) {
                    AppendNumber(line, channel.Value(row), channel.DecimalsAt(row));
                }
                AppendNumber(line, series.Value(channel.Kept(), row), kVoltDecimals);
            }
            line += kLineEnd;
            out << line;
        }
    }
    return rows;
}

}  // namespace corvelle
