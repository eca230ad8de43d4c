#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "names/terminal_names.h"

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

TEST(TerminalNames, HostileNamesGiveDistinctStableSingleComponents) {
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
        const std::string folder = FolderName(raw, AsciiOrReplacement(raw));
        EXPECT_EQ(folder, FolderName(raw, AsciiOrReplacement(raw)));
        EXPECT_TRUE(seen.insert(folder).second) << folder;
        EXPECT_LE(folder.size(), 120U);
        EXPECT_EQ(folder.find_first_of("<>:\"/\\|?*\x01\x7F"), std::string::npos);
        EXPECT_NE(folder.front(), '.');
        EXPECT_NE(folder.back(), '.');
        EXPECT_NE(folder.back(), ' ');
        EXPECT_EQ((root / folder).lexically_normal().parent_path(), root);
    }
}

TEST(TerminalNames, KeepPlainNamesAndMarkEveryChange) {
    const std::string pumps60 = [] {
        std::string text;
        for (int i = 0; i < 60; ++i) {
            text += "泵";
        }
        return text;
    }();
    enum Form { Folder, Topic, Both };
    struct Case {
        std::string decoded;
        Form form;
        std::string stem;
    };
    const Case cases[] = {
        {"泵站1", Both, "泵站1"},
        {"pump-a 2", Both, "pump-a 2"},
        {"Pump-A 2", Topic, "Pump-A 2"},
        {"Pump-A 2", Folder, "Pump-A 2~"},
        {"", Both, "_~"},
        {"a/b", Both, "a_b~"},
        {"con", Both, "_con~"},
        {"com1.txt", Both, "_com1.txt~"},
        {"NUL .txt", Topic, "_NUL .txt~"},
        {" name. ", Both, "name~"},
        {"a\xC2\x85"
         "b",
         Both, "a_b~"},
        {"泵\xEF\xBF\xBD", Both, "泵\xEF\xBF\xBD~"},
        {"a+b#", Topic, "a_b_~"},
        {"a+b#", Folder, "a+b#"},
        // Noncharacters: libmosquitto refuses topics with them.
        {"a\xEF\xBF\xBF\xEF\xB7\x90", Topic, "a__~"},
        // A name the recording folder's own files could have.
        {"events-2026-12-08.csv", Folder, "events-2026-12-08.csv~"},
        {"events-2026-12-08.csv", Topic, "events-2026-12-08.csv"},
        {"events-x.csv", Folder, "events-x.csv"},
        // 60 three-byte characters: the stem keeps the 34 whole ones that fit beside the suffix.
        {pumps60, Both, pumps60.substr(0, 102) + "~"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.decoded.substr(0, 40));
        for (const Form form : {Folder, Topic}) {
            if (c.form != Both && c.form != form) {
                continue;
            }
            const std::string name = form == Folder ? FolderName(Bytes(c.decoded), c.decoded)
                                                    : TopicLevel(Bytes(c.decoded), c.decoded);
            const bool suffixed = c.stem.ends_with("~");
            EXPECT_EQ(name.substr(0, c.stem.size()), c.stem);
            EXPECT_EQ(name.size(), c.stem.size() + (suffixed ? 16 : 0));
        }
    }
    // A raw name spelling out another name's result must not take its form.
    const std::string lookalike = FolderName(Bytes("a/b"), "a/b");
    EXPECT_NE(FolderName(Bytes(lookalike), lookalike), lookalike);
    // 64-bit FNV-1a of no bytes.
    EXPECT_EQ(FolderName({}, ""), "_~cbf29ce484222325");
}

// On NTFS, FAT and macOS volumes a folder is found in any letter case.
TEST(TerminalNames, FoldersStayDistinctWhereLetterCaseIsIgnored) {
    const auto fold = [](std::string text) {
        for (char& c : text) {
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        return text;
    };
    std::set<std::string> folded;
    for (const std::string name : {"pump1", "Pump1", "PUMP1", "pUMP1", "events-2026-12-08.csv",
                                   "EVENTS-2026-12-08.CSV", "pump1~0123456789ABCDEF"}) {
        EXPECT_TRUE(folded.insert(fold(FolderName(Bytes(name), name))).second) << name;
        EXPECT_NE(fold(FolderName(Bytes(name), name)), "events-2026-12-08.csv");
    }
    EXPECT_FALSE(HasCasedLetter("泵站 pump-1"));
    for (const std::string cased : {"A", "\xC3\x9F" /* ß */, "\xC4\xB1" /* dotless i */,
                                    "\xEF\xBC\xA1" /* fullwidth A */, "\xCE\xA3" /* Σ */}) {
        EXPECT_TRUE(HasCasedLetter(cased)) << cased;
    }
}

}  // namespace
}  // namespace corvelle
