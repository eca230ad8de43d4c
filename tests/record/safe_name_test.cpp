#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "record/safe_name.h"

namespace corvelle {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

// ASCII as it is, every other byte as U+FFFD.
std::string AsciiOrReplacement(std::span<const std::uint8_t> raw) {
    std::string text;
    for (const std::uint8_t byte : raw) {
        text += byte < 0x80 ? std::string(1, static_cast<char>(byte)) : "\xEF\xBF\xBD";
    }
    return text;
}

TEST(SafeName, HostileNamesGiveDistinctStableSingleComponents) {
    const std::string hostile[] = {"../../x",
                                   "/etc/passwd",
                                   "C:\\x",
                                   "CON",
                                   "con.txt",
                                   "a/../../b",
                                   "..",
                                   ".",
                                   std::string(8185, 'n'),
                                   "\xFF\xFE",
                                   "\xFF\xFD",
                                   "",
                                   "a/b",
                                   "a_b",
                                   "a:b",
                                   "a\001b",
                                   "a\x7F",
                                   "NUL .txt",
                                   "lpt9",
                                   " x. ",
                                   "x",
                                   "_",
                                   "x~0123456789abcdef",
                                   "\\\\?\\C:\\x"};
    const std::filesystem::path root = "/data/rec";
    std::set<std::string> seen;
    for (const std::string& name : hostile) {
        SCOPED_TRACE(name.substr(0, 40));
        const auto raw = Bytes(name);
        const std::string folder = SafeName(raw, AsciiOrReplacement(raw));
        EXPECT_EQ(folder, SafeName(raw, AsciiOrReplacement(raw)));
        EXPECT_TRUE(seen.insert(folder).second) << folder;
        EXPECT_LE(folder.size(), 120U);
        EXPECT_EQ(folder.find_first_of("<>:\"/\\|?*\x01\x7F"), std::string::npos);
        EXPECT_NE(folder.front(), '.');
        EXPECT_NE(folder.back(), '.');
        EXPECT_NE(folder.back(), ' ');
        EXPECT_EQ((root / folder).lexically_normal().parent_path(), root);
    }
}

TEST(SafeName, KeepsPlainNamesAndMarksEveryChange) {
    const std::string pumps60 = [] {
        std::string text;
        for (int i = 0; i < 60; ++i) {
            text += "泵";
        }
        return text;
    }();
    struct Case {
        std::string decoded;
        std::string extra;
        std::string stem;
    };
    const Case cases[] = {
        {"泵站1", "", "泵站1"},
        {"Pump-A 2", "", "Pump-A 2"},
        {"", "", "_~"},
        {"a/b", "", "a_b~"},
        {"CON", "", "_CON~"},
        {"com1.txt", "", "_com1.txt~"},
        {"Lpt9", "", "_Lpt9~"},
        {"NUL .txt", "", "_NUL .txt~"},
        {" name. ", "", "name~"},
        {"a\xC2\x85"
         "b",
         "", "a_b~"},
        {"泵\xEF\xBF\xBD", "", "泵\xEF\xBF\xBD~"},
        {"a+b#", "+#", "a_b_~"},
        // 60 three-byte characters: the stem keeps the 34 whole ones that fit beside the suffix.
        {pumps60, "", pumps60.substr(0, 102) + "~"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.decoded.substr(0, 40));
        const std::string folder = SafeName(Bytes(c.decoded), c.decoded, c.extra);
        const bool suffixed = c.stem.ends_with("~");
        EXPECT_EQ(folder.substr(0, c.stem.size()), c.stem);
        EXPECT_EQ(folder.size(), c.stem.size() + (suffixed ? 16 : 0));
    }
    // A raw name spelling out another name's result must not take its folder.
    const std::string lookalike = SafeName(Bytes("a/b"), "a/b");
    EXPECT_NE(SafeName(Bytes(lookalike), lookalike), lookalike);
    // 64-bit FNV-1a of no bytes.
    EXPECT_EQ(SafeName({}, ""), "_~cbf29ce484222325");
}

}  // namespace
}  // namespace corvelle
