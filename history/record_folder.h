#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace corvelle {

// A terminal of a recording folder.
struct TerminalFolder {
    // Its folder in the recording folder (UTF-8): what a load asks for.
    std::string folder;
    // Its name as the tabs showed it: the folder's name file (RecordWriter::kNameFile), or the
    // folder's own name when that is missing or empty.
    std::string name;
};

// The terminals of a recording folder: its folders that hold a day file or a name file, ordered
// by name. Empty when there are none, or the folder cannot be read.
std::vector<TerminalFolder> ListTerminals(const std::filesystem::path& root);

// The name of the terminal in root/folder (see TerminalFolder::name).
std::string TerminalName(const std::filesystem::path& root, std::string_view folder);

// The dates of the terminal's day files ("YYYY-MM-DD.csv"), in order.
std::vector<std::chrono::sys_days> ListDays(const std::filesystem::path& root,
                                            std::string_view folder);

// The dates of the events files ("events-YYYY-MM-DD.csv"), in order.
std::vector<std::chrono::sys_days> ListEventDays(const std::filesystem::path& root);

// The dates from first to last, both included.
std::vector<std::chrono::sys_days> DatesIn(const std::vector<std::chrono::sys_days>& dates,
                                           std::chrono::sys_days first, std::chrono::sys_days last);

}  // namespace corvelle
