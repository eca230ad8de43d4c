#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace corvelle {

// A path from UTF-8 text, whatever the narrow encoding of the platform.
std::filesystem::path Utf8Path(std::string_view text);

// A path as UTF-8 text, for messages.
std::string PathText(const std::filesystem::path& path);

// The open files of a recording below one root folder, written in UTF-8 with CRLF line ends.
// A new or empty file starts with a byte-order mark and its header; an existing one is appended
// to, after ending a row that a crash cut short. Errors come back as a short text naming the
// path.
class DayFiles {
  public:
    explicit DayFiles(std::filesystem::path root);

    // Appends line to root/subfolder/fileName, or root/fileName when subfolder is empty. Creates
    // subfolder when missing, but never root: a root removed underneath is an error. date
    // (YYYY-MM-DD) orders the files: a line of a later date closes every file of an earlier one.
    std::optional<std::string> Append(const std::string& subfolder, const std::string& fileName,
                                      const std::string& date, std::string_view header,
                                      std::string_view line);

    // Flushes every file appended to since the last flush; an error when the root or an open
    // file is no longer there.
    std::optional<std::string> FlushAndCheck();

    // Flushes and closes every file.
    std::optional<std::string> CloseAll();

  private:
    struct File {
        std::ofstream stream;
        std::filesystem::path path;
        std::string date;
        bool unflushed = false;
        std::uint64_t lastUse = 0;
    };
    using Files = std::map<std::string, File>;

    std::optional<std::string> Open(const std::string& subfolder, const std::string& fileName,
                                    std::string_view header, File& file);
    std::optional<std::string> Close(Files::iterator it);

    std::filesystem::path root_;
    Files files_;
    std::string latestDate_;
    std::uint64_t appends_ = 0;
};

}  // namespace corvelle
