#include "history/record_folder.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <tuple>

#include "record/record_writer.h"
#include "record/utf8_path.h"

namespace corvelle {
namespace {

namespace fs = std::filesystem;

// Far above any name a terminal can register with.
constexpr std::size_t kMaxNameBytes = 1024;

// The dates of the regular files in folder named prefix + "YYYY-MM-DD.csv", in order.
std::vector<std::chrono::sys_days> DatesOfFiles(const fs::path& folder, std::string_view prefix) {
    std::vector<std::chrono::sys_days> dates;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const auto date = DateOfFile(PathText(entry.path().filename()), prefix);
        if (date && entry.is_regular_file(ec)) {
            dates.push_back(*date);
        }
    }
    std::sort(dates.begin(), dates.end());
    return dates;
}

}  // namespace

std::string TerminalName(const fs::path& root, std::string_view folder) {
    std::ifstream in(root / Utf8Path(folder) / RecordWriter::kNameFile, std::ios::binary);
    std::array<char, kMaxNameBytes> text{};
    in.read(text.data(), text.size());
    std::string_view name(text.data(), static_cast<std::size_t>(in.gcount()));
    name = name.substr(0, name.find_first_of("\r\n"));
    return name.empty() ? std::string(folder) : std::string(name);
}

std::vector<TerminalFolder> ListTerminals(const fs::path& root) {
    std::vector<TerminalFolder> terminals;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        if (!entry.is_directory(ec)) {
            continue;
        }
        const std::string folder = PathText(entry.path().filename());
        if (fs::exists(entry.path() / RecordWriter::kNameFile, ec) ||
            !DatesOfFiles(entry.path(), "").empty()) {
            terminals.push_back({folder, TerminalName(root, folder)});
        }
    }
    std::sort(terminals.begin(), terminals.end(), [](const auto& a, const auto& b) {
        return std::tie(a.name, a.folder) < std::tie(b.name, b.folder);
    });
    return terminals;
}

std::vector<std::chrono::sys_days> ListDays(const fs::path& root, std::string_view folder) {
    return DatesOfFiles(root / Utf8Path(folder), "");
}

std::vector<std::chrono::sys_days> ListEventDays(const fs::path& root) {
    return DatesOfFiles(root, kEventsFilePrefix);
}

std::vector<std::chrono::sys_days> DatesIn(const std::vector<std::chrono::sys_days>& dates,
                                           std::chrono::sys_days first,
                                           std::chrono::sys_days last) {
    std::vector<std::chrono::sys_days> within;
    std::copy_if(dates.begin(), dates.end(), std::back_inserter(within),
                 [&](std::chrono::sys_days date) { return date >= first && date <= last; });
    return within;
}

}  // namespace corvelle
