#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvelle {

// A path from UTF-8 text, whatever the narrow encoding of the platform.
inline std::filesystem::path Utf8Path(std::string_view text) {
    return {std::u8string(text.begin(), text.end())};
}

// A path as UTF-8 text, for messages.
inline std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

}  // namespace corvelle
