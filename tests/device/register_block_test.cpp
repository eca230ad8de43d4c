#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "device/register_block.h"

namespace corvelle {
namespace {

using Flags = std::array<std::uint8_t, kChannelCount>;

Flags FlagsOn(std::initializer_list<int> numbers) {
    Flags flags{};
    for (const int n : numbers) {
        flags.at(static_cast<std::size_t>(n - 1)) = 1;
    }
    return flags;
}

TEST(DecodeRegisterBlock, ChannelWordsAreSignedBigEndian) {
    struct Case {
        std::uint8_t hi, lo;
        std::int32_t millivolts;
    };
    for (const Case c : {Case{0xFB, 0x2E, -1234}, Case{0x80, 0x00, -32768}, Case{0x00, 0x05, 5},
                         Case{0x7F, 0xFF, 32767}}) {
        std::vector<std::uint8_t> bytes(36);  // 18 registers, the last one channel 12
        bytes[34] = c.hi;
        bytes[35] = c.lo;
        const RegisterBlock block = DecodeRegisterBlock(bytes);
        EXPECT_EQ(ChannelMillivoltsOf(block)[11], c.millivolts);
        EXPECT_EQ(ChannelVoltsOf(block)[11], static_cast<float>(c.millivolts) * 0.001F);
    }
}

TEST(DecodeRegisterBlock, RelayAndInputWordsAreLowByteFirst) {
    const std::vector<std::uint8_t> bytes = {0x01, 0x02, 0x05, 0x08, 0x80, 0x01,
                                             0xFF, 0x38, 0x09, 0xE9, 0x04, 0xB5};
    const RegisterBlock block = DecodeRegisterBlock(bytes);
    EXPECT_EQ(block.signalValue, 0x0102);
    EXPECT_EQ(WordFlags(block.relayWord), FlagsOn({1, 3, 12}));
    EXPECT_EQ(WordFlags(block.inputWord), FlagsOn({8, 9}));
    EXPECT_EQ(block.referenceMillivolts, -200);
    EXPECT_EQ(block.temperatureCentidegrees, 2537);
    EXPECT_EQ(block.supplyCentivolts, 1205);
    // Bits 12-15 name no relay or input.
    EXPECT_EQ(WordFlags(0xF000), Flags{});
}

TEST(DecodeRegisterBlock, ShortDataLeavesMissingRegistersZero) {
    std::vector<std::uint8_t> bytes(21, 0x11);  // the odd last byte is ignored
    RegisterBlock block = DecodeRegisterBlock(bytes);
    EXPECT_EQ(block.registerCount, 10U);
    EXPECT_EQ(block.channelWords[3], 0x1111);
    EXPECT_EQ(block.channelWords[4], 0);

    block = DecodeRegisterBlock(std::vector<std::uint8_t>{0x00, 0x07, 0x05, 0x00});
    EXPECT_TRUE(block.HasRelayWord());
    EXPECT_FALSE(block.HasInputWord());
    EXPECT_EQ(block.signalValue, 7);
    EXPECT_EQ(block.relayWord, 0x0005);
    EXPECT_EQ(ChannelMillivoltsOf(block), (std::array<std::int32_t, kChannelCount>{}));
}

}  // namespace
}  // namespace corvelle
