#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace corvelle::test {

// A file's whole contents; empty when it cannot be read.
inline std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace corvelle::test
