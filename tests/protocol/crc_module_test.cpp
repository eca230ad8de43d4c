#include <gtest/gtest.h>

#include <array>

#include "protocol/crc16.h"
#include "protocol/module_frames.h"
#include "test_bytes.h"

namespace corvelle {
namespace {

using test::Bytes;

TEST(Crc16, KnownAnswers) {
    EXPECT_EQ(Crc16(Bytes("123456789")), 0x31C3);
    EXPECT_EQ(Crc16({}), 0x0000);
    EXPECT_EQ(Crc16(std::span(ModuleQuery).first(15)), 0x3CF1);
    EXPECT_EQ(Crc16(std::span(ModuleQuery).first(17)), 0x0000);
}

TEST(ModuleQuery, IsTheFixedFrame) {
    const std::array<std::uint8_t, 18> expected = {0x01, 0x00, 0x12, 0x00, 0x00, 0xFF,
                                                   0x01, 0x00, 0x01, 0x00, 0x00, 0x04,
                                                   0x00, 0x03, 0xF4, 0x3C, 0xF1, 0x02};
    EXPECT_EQ(ModuleQuery, expected);
}

using Reply = std::array<std::uint8_t, kModuleReplySize>;

Reply WithModel(char digit, char letter) {
    const std::string model = std::string("BX") + digit + letter + "-2000";
    return BuildModuleReply(model);
}

void Reseal(Reply& reply) {
    const std::uint16_t crc = Crc16(std::span(reply).first(1033));
    reply[1033] = static_cast<std::uint8_t>(crc >> 8);
    reply[1034] = static_cast<std::uint8_t>(crc & 0xFF);
}

TEST(EvaluateModuleReply, ModelTable) {
    struct Case {
        char digit;
        char letter;
        std::uint8_t channels;
    };
    const Case cases[] = {{'4', 'A', 4}, {'4', 'B', 4},  {'4', 'C', 4}, {'6', 'A', 6},
                          {'6', 'B', 6}, {'6', 'C', 12}, {'4', 'D', 0}, {'6', 'D', 0},
                          {'6', 'c', 0}, {'4', 'a', 0},  {'5', 'A', 0}, {'1', '2', 0}};
    for (const auto& c : cases) {
        const auto result = EvaluateModuleReply(WithModel(c.digit, c.letter));
        EXPECT_TRUE(result.valid) << c.digit << c.letter;
        EXPECT_EQ(result.channelCount, c.channels) << c.digit << c.letter;
    }
}

TEST(EvaluateModuleReply, ByteZeroIsNotExamined) {
    for (const int first : {0x00, 0x01, 0x7F, 0xFF}) {
        auto reply = WithModel('6', 'C');
        reply[0] = static_cast<std::uint8_t>(first);
        Reseal(reply);
        EXPECT_EQ(EvaluateModuleReply(reply).channelCount, 12) << first;
    }
}

TEST(EvaluateModuleReply, EachCheckRejects) {
    auto lengthHigh = WithModel('6', 'C');
    lengthHigh[1] = 0x05;
    Reseal(lengthHigh);
    auto lengthLow = WithModel('6', 'C');
    lengthLow[2] = 0x0D;
    Reseal(lengthLow);
    auto trailer = WithModel('6', 'C');
    trailer[1035] = 0x03;
    auto crcSwapped = WithModel('6', 'C');
    std::swap(crcSwapped[1033], crcSwapped[1034]);
    ASSERT_NE(crcSwapped[1033], crcSwapped[1034]);
    auto bodyFlipped = WithModel('6', 'C');
    bodyFlipped[500] ^= 0x01;

    for (const Reply* bad : {&lengthHigh, &lengthLow, &trailer, &crcSwapped, &bodyFlipped}) {
        const auto result = EvaluateModuleReply(*bad);
        EXPECT_FALSE(result.valid);
        EXPECT_EQ(result.channelCount, 0);
    }
}

TEST(BuildModuleReply, CutsLongModelTextAtSixteenBytes) {
    const auto reply = BuildModuleReply("1234567890ABCDEFGHIJ");
    EXPECT_EQ(reply[kModelTextOffset + 15], 'F');
    EXPECT_EQ(reply[kModelTextOffset + 16], static_cast<std::uint8_t>((kModelTextOffset + 16) * 7));
    EXPECT_TRUE(EvaluateModuleReply(reply).valid);
}

}  // namespace
}  // namespace corvelle
