#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/modbus_ascii.h"
#include "protocol/module_frames.h"
#include "protocol/registration.h"
#include "tools/terminal/console_stream.h"

namespace corvelle::sim {
namespace {

using Kind = ConsoleItemKind;

std::string Str(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

const std::string kQuery = Str(ModuleQuery);
const std::string kAccepted = Str(RegistrationReply(RegistrationStatus::Accepted));
const std::string kPoll = std::string(ReadInputRegistersRequest(12));
const std::string kCoil = std::string(WriteSingleCoilRequest(1, true));
const std::string kNoise("\xFF\x00zz", 4);

struct Expected {
    Kind kind;
    std::string bytes;
};

// Runs of discarded bytes are merged: where the stream cuts them is of no consequence.
std::vector<Expected> Split(const std::vector<std::string>& reads) {
    ConsoleStream stream;
    std::vector<Expected> items;
    for (const std::string& read : reads) {
        stream.Append(std::span(reinterpret_cast<const std::uint8_t*>(read.data()), read.size()));
        while (const auto item = stream.Next()) {
            if (item->kind == Kind::Discarded && !items.empty() &&
                items.back().kind == Kind::Discarded) {
                items.back().bytes += Str(item->bytes);
            } else {
                items.push_back({item->kind, Str(item->bytes)});
            }
        }
    }
    return items;
}

TEST(ConsoleStream, ClassifiesWhateverTheReadsHold) {
    std::string brokenReply = kAccepted;
    brokenReply[6] = '\x00';
    const std::string longLine = ":" + std::string(300, 'A');
    struct Case {
        const char* name;
        std::vector<std::string> reads;
        std::vector<Expected> items;
    };
    const Case cases[] = {
        {"request split over three reads",
         {":0A04", "000000", "12E0\r\n"},
         {{Kind::AsciiFrame, kPoll}}},
        {"CR and LF in different reads", {":0A0400000012E0\r", "\n"}, {{Kind::AsciiFrame, kPoll}}},
        {"two requests in one read",
         {kPoll + kCoil},
         {{Kind::AsciiFrame, kPoll}, {Kind::AsciiFrame, kCoil}}},
        {"query, reply and request in one read",
         {kQuery + kAccepted + kPoll},
         {{Kind::ModuleQuery, kQuery},
          {Kind::RegistrationReply, kAccepted},
          {Kind::AsciiFrame, kPoll}}},
        {"noise before a request",
         {kNoise + kPoll},
         {{Kind::Discarded, kNoise}, {Kind::AsciiFrame, kPoll}}},
        {"a new colon abandons a cut frame",
         {":0A04", kPoll},
         {{Kind::Discarded, ":0A04"}, {Kind::AsciiFrame, kPoll}}},
        {"registration reply byte by byte",
         {kAccepted.substr(0, 1), kAccepted.substr(1, 3), kAccepted.substr(4, 4),
          kAccepted.substr(8)},
         {{Kind::RegistrationReply, kAccepted}}},
        {"query in two reads",
         {kQuery.substr(0, 7), kQuery.substr(7)},
         {{Kind::ModuleQuery, kQuery}}},
        {"cut query followed by a request",
         {kQuery.substr(0, 7), kPoll},
         {{Kind::Discarded, kQuery.substr(0, 7)}, {Kind::AsciiFrame, kPoll}}},
        {"overlong line is dropped, the next frame survives",
         {longLine, kPoll},
         {{Kind::Discarded, longLine}, {Kind::AsciiFrame, kPoll}}},
        {"reply with a bad CRC is no reply",
         {brokenReply + kQuery},
         {{Kind::Discarded, brokenReply}, {Kind::ModuleQuery, kQuery}}},
    };
    for (const Case& c : cases) {
        const auto items = Split(c.reads);
        ASSERT_EQ(items.size(), c.items.size()) << c.name;
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].kind, c.items[i].kind) << c.name << " item " << i;
            EXPECT_EQ(items[i].bytes, c.items[i].bytes) << c.name << " item " << i;
        }
    }
}

TEST(ConsoleStream, WaitsForIncompleteItemsWithinABound) {
    ConsoleStream stream;
    const std::string head = ":0A04";
    stream.Append(std::span(reinterpret_cast<const std::uint8_t*>(head.data()), head.size()));
    EXPECT_FALSE(stream.Next());
    EXPECT_EQ(stream.Buffered(), head.size());

    // A line that never ends never makes the buffer grow past one frame's limit.
    const std::string hex(64, 'B');
    for (int i = 0; i < 200; ++i) {
        stream.Append(std::span(reinterpret_cast<const std::uint8_t*>(hex.data()), hex.size()));
        while (stream.Next()) {
        }
        EXPECT_LE(stream.Buffered(), ConsoleStream::kMaxAsciiFrame);
    }
}

}  // namespace
}  // namespace corvelle::sim
