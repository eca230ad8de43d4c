#include "history/day_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "record/csv_rows.h"

namespace corvelle {
namespace {

constexpr std::size_t kDayFields =
    static_cast<std::size_t>(std::count(kReadingHeader.begin(), kReadingHeader.end(), ',')) + 1;
constexpr std::size_t kInputsField = 1 + kValueColumns;
constexpr std::size_t kFlagsPerField = 12;
static_assert(kInputsField + 2 == kDayFields);

// The recorder's rows are under 200 bytes; a spreadsheet's quotes add a few.
constexpr std::size_t kMaxRowBytes = 1024;

// The recorder's numbers ("-1.234", "12.05") without std::from_chars, which takes most of the
// reading time otherwise. Exact: up to seven digits make an integer below 2^24, which a float
// holds, as it holds the powers of ten below 10^8, and division rounds correctly, so the result
// is the float nearest to the decimal, as from std::from_chars.
bool ParseShortDecimal(std::string_view text, float& value) {
    constexpr std::array<float, 8> kTens = {1e0F, 1e1F, 1e2F, 1e3F, 1e4F, 1e5F, 1e6F, 1e7F};
    constexpr int kMaxDigits = 7;
    std::size_t at = !text.empty() && text[0] == '-' ? 1 : 0;
    std::uint32_t digits = 0;
    int count = 0;
    int decimals = -1;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c >= '0' && c <= '9') {
            digits = digits * 10 + static_cast<std::uint32_t>(c - '0');
            decimals += decimals >= 0 ? 1 : 0;
            if (++count > kMaxDigits) {
                return false;
            }
        } else if (c == '.' && decimals < 0) {
            decimals = 0;
        } else {
            return false;
        }
    }
    if (count == 0) {
        return false;
    }
    const float magnitude =
        static_cast<float>(digits) / kTens[static_cast<std::size_t>(std::max(decimals, 0))];
    value = text[0] == '-' ? -magnitude : magnitude;
    return true;
}

bool ParseValue(std::string_view text, float& value) {
    if (text.empty()) {
        value = std::numeric_limits<float>::quiet_NaN();
        return true;
    }
    if (ParseShortDecimal(text, value)) {
        return true;
    }
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc{} && stop == end && std::isfinite(value);
}

// "010000000000": flag 1 first. Fewer digits are a number whose leading zeros were cut.
bool ParseFlags(std::string_view text, int firstBit, std::uint32_t& word) {
    if (text.empty() || text.size() > kFlagsPerField) {
        return false;
    }
    const auto offset = static_cast<int>(kFlagsPerField - text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '1') {
            word |= std::uint32_t{1} << (firstBit + offset + static_cast<int>(i));
        } else if (text[i] != '0') {
            return false;
        }
    }
    return true;
}

// The rows that tell how long the rows of a file are, and the room made for the rest from them.
constexpr std::size_t kSampleRows = 1000;
constexpr double kRoomFactor = 1.03;

// The bytes from the stream's position to its end; 0 when it cannot tell.
std::uint64_t StreamSize(std::istream& in) {
    const auto start = in.tellg();
    if (start < 0) {
        return 0;
    }
    in.seekg(0, std::ios::end);
    const auto end = in.tellg();
    in.clear();
    in.seekg(start);
    return end > start ? static_cast<std::uint64_t>(end - start) : 0;
}

}  // namespace

DayFileRead ReadDayFile(std::istream& in, const RowSelection& selection, std::string_view file,
                        ReadProblems& problems, std::function<bool(std::uint64_t)> pieceRead) {
    DayBlockBuilder builder(selection);
    const std::uint64_t size = StreamSize(in);
    CsvRecords records(in, {kMaxRowBytes, false}, std::move(pieceRead));
    std::array<float, kValueColumns> values{};
    std::size_t rows = 0;
    ReadRows(records, file, problems, [&](std::span<const std::string_view> fields) {
        if (++rows == kSampleRows && size > 0) {
            builder.Reserve(static_cast<std::size_t>(static_cast<double>(size) /
                                                     static_cast<double>(records.Offset()) *
                                                     kSampleRows * kRoomFactor));
        }
        if (!HasFields(fields, kDayFields)) {
            return false;
        }
        const auto time = ParseRowTime(fields[0]);
        if (!time) {
            return false;
        }
        for (std::size_t k = 0; k < kValueColumns; ++k) {
            if (!ParseValue(fields[1 + k], values[k])) {
                return false;
            }
        }
        std::uint32_t flags = 0;
        if (!ParseFlags(fields[kInputsField], 0, flags) ||
            !ParseFlags(fields[kInputsField + 1], static_cast<int>(kFlagsPerField), flags)) {
            return false;
        }
        builder.Add(*time, values, flags);
        return true;
    });
    return {builder.Finish(), records.Stopped(), records.Failed()};
}

}  // namespace corvelle
