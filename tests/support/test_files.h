#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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

// A path in the temporary folder that no other test, run or test process uses.
inline std::filesystem::path UniqueTempPath(std::string_view prefix) {
    return std::filesystem::temp_directory_path() /
           (std::string(prefix) +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
}

}  // namespace corvelle::test
