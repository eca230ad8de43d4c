#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>

namespace corvelle::test {

// A file's whole contents; empty when it cannot be read.
inline std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writes text as a file's whole contents; false when it cannot.
inline bool WriteFile(const std::filesystem::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(out);
}

// A path in the temporary folder that no other test, run or test process uses.
inline std::filesystem::path UniqueTempPath(std::string_view prefix) {
    return std::filesystem::temp_directory_path() /
           (std::string(prefix) +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
}

// Every file and folder below root with its size and time of change: equal snapshots mean that
// nothing was written there.
inline std::map<std::filesystem::path, std::pair<std::uintmax_t, std::filesystem::file_time_type>>
FolderSnapshot(const std::filesystem::path& root) {
    std::map<std::filesystem::path, std::pair<std::uintmax_t, std::filesystem::file_time_type>>
        files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        files[entry.path()] = {entry.is_regular_file() ? entry.file_size() : 0,
                               entry.last_write_time()};
    }
    return files;
}

}  // namespace corvelle::test
