#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>

#include "protocol/modbus_ascii.h"
#include "test_bytes.h"

namespace corvelle {
namespace {

using test::Bytes;

TEST(RequestFrames, ReadInputRegistersTable) {
    EXPECT_EQ(ReadInputRegistersRequest(4), ":0A040000000AE8\r\n");
    EXPECT_EQ(ReadInputRegistersRequest(6), ":0A040000000CE6\r\n");
    EXPECT_EQ(ReadInputRegistersRequest(12), ":0A0400000012E0\r\n");
    for (const int other : {0, 1, 5, 7, 13, 255}) {
        EXPECT_TRUE(ReadInputRegistersRequest(static_cast<std::uint8_t>(other)).empty());
    }
}

TEST(RequestFrames, WriteSingleCoilTable) {
    const std::array<const char*, 12> on = {
        ":0A050000FF00F2", ":0A050001FF00F1", ":0A050002FF00F0", ":0A050003FF00EF",
        ":0A050004FF00EE", ":0A050005FF00ED", ":0A050006FF00EC", ":0A050007FF00EB",
        ":0A050008FF00EA", ":0A050009FF00E9", ":0A05000AFF00E8", ":0A05000BFF00E7"};
    const std::array<const char*, 12> off = {
        ":0A0500000000F1", ":0A0500010000F0", ":0A0500020000EF", ":0A0500030000EE",
        ":0A0500040000ED", ":0A0500050000EC", ":0A0500060000EB", ":0A0500070000EA",
        ":0A0500080000E9", ":0A0500090000E8", ":0A05000A0000E7", ":0A05000B0000E6"};
    for (std::size_t relay = 1; relay <= 12; ++relay) {
        EXPECT_EQ(WriteSingleCoilRequest(relay, true), std::string(on[relay - 1]) + "\r\n");
        EXPECT_EQ(WriteSingleCoilRequest(relay, false), std::string(off[relay - 1]) + "\r\n");
    }
    EXPECT_TRUE(WriteSingleCoilRequest(0, true).empty());
    EXPECT_TRUE(WriteSingleCoilRequest(13, false).empty());
}

TEST(FindPattern, Boundaries) {
    const auto seq = Bytes("ab:cd\r");
    EXPECT_EQ(FindPattern(seq, Bytes(":")), 2);
    EXPECT_EQ(FindPattern(seq, Bytes("ab")), 0);
    EXPECT_EQ(FindPattern(seq, Bytes("d\r")), 4);
    EXPECT_EQ(FindPattern(seq, Bytes("\r\n")), -1);  // CR as the last byte
    EXPECT_EQ(FindPattern(seq, Bytes("")), -1);
    EXPECT_EQ(FindPattern(Bytes(""), Bytes(":")), -1);
    EXPECT_EQ(FindPattern(Bytes("ab"), Bytes("abc")), -1);
    EXPECT_EQ(FindPattern(Bytes("aab"), Bytes("ab")), 1);
}

TEST(HexDigitValue, AllByteValues) {
    for (int c = 0; c < 256; ++c) {
        const auto value = HexDigitValue(static_cast<std::uint8_t>(c));
        if (c >= '0' && c <= '9') {
            EXPECT_EQ(value, c - '0');
        } else if (c >= 'A' && c <= 'F') {
            EXPECT_EQ(value, c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            EXPECT_EQ(value, c - 'a' + 10);
        } else {
            EXPECT_EQ(value, 16) << c;
        }
    }
}

std::vector<std::uint8_t> Decode(std::string_view text) {
    std::vector<std::uint8_t> out(text.size());
    const auto in = Bytes(text);
    out.resize(DecodeHexPairs(in.data(), in.size(), out.data()));
    return out;
}

TEST(DecodeHexPairs, StopsAndCounts) {
    EXPECT_EQ(Decode("0A0G"), (std::vector<std::uint8_t>{0x0A}));
    EXPECT_EQ(Decode("0A0"), (std::vector<std::uint8_t>{0x0A}));
    EXPECT_TRUE(Decode("").empty());
    EXPECT_EQ(Decode("fF00aB"), (std::vector<std::uint8_t>{0xFF, 0x00, 0xAB}));
    // A space is treated like any other non-hex byte: decoding stops there.
    EXPECT_EQ(Decode("0A 04"), (std::vector<std::uint8_t>{0x0A}));
    EXPECT_EQ(Decode(" 0A04"), std::vector<std::uint8_t>{});
}

TEST(DecodeHexPairs, DecodesInPlace) {
    auto buffer = Bytes("0A0400000012E0");
    const std::size_t n = DecodeHexPairs(buffer.data(), buffer.size(), buffer.data());
    ASSERT_EQ(n, 7U);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 7),
              (std::vector<std::uint8_t>{0x0A, 0x04, 0x00, 0x00, 0x00, 0x12, 0xE0}));
}

TEST(ComputeLrc, TwosComplementOfSum) {
    EXPECT_EQ(ComputeLrc({}), 0);
    const std::vector<std::uint8_t> zeros(5, 0);
    EXPECT_EQ(ComputeLrc(zeros), 0);
    const std::vector<std::uint8_t> request = {0x0A, 0x04, 0x00, 0x00, 0x00, 0x0A};
    EXPECT_EQ(ComputeLrc(request), 0xE8);
    const std::vector<std::uint8_t> wraps = {0xFF, 0xFF, 0x02};
    EXPECT_EQ(ComputeLrc(wraps), 0x00);
}

std::string Frame(std::vector<std::uint8_t> bytes, bool lowerCase = false) {
    return EncodeAsciiFrame(bytes, lowerCase);
}

std::vector<std::uint8_t> ReadReply(std::size_t registers, std::uint8_t address = 0x0A) {
    std::vector<std::uint8_t> bytes = {address, 0x04, static_cast<std::uint8_t>(2 * registers)};
    for (std::size_t i = 0; i < 2 * registers; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(0x10 + i));
    }
    return bytes;
}

const RegisterData* AsRegisters(const ModbusChunkResult& r) {
    return std::get_if<RegisterData>(&r);
}
const CoilEcho* AsEcho(const ModbusChunkResult& r) {
    return std::get_if<CoilEcho>(&r);
}

TEST(CheckModbusChunk, ReadReplyLengthMustMatchChannelCount) {
    // 0A 04 14 + 20 register bytes + LRC = 24 decoded bytes: a 4-channel reply.
    const auto chunk = Bytes(Frame(ReadReply(10)));
    const auto accepted = CheckModbusChunk(chunk, 4);
    ASSERT_NE(AsRegisters(accepted), nullptr);
    EXPECT_EQ(AsRegisters(accepted)->bytes.size(), 20U);
    EXPECT_EQ(AsRegisters(accepted)->bytes.front(), 0x10);
    EXPECT_EQ(AsRegisters(accepted)->bytes.back(), 0x10 + 19);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(CheckModbusChunk(chunk, 6)));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(CheckModbusChunk(chunk, 12)));
    // Unidentified board: only six registers fit.
    EXPECT_NE(AsRegisters(CheckModbusChunk(Bytes(Frame(ReadReply(6))), 0)), nullptr);
    EXPECT_EQ(AsRegisters(CheckModbusChunk(chunk, 0)), nullptr);
}

TEST(CheckModbusChunk, FramingRules) {
    const auto off1 = Frame({0x0A, 0x05, 0x00, 0x00, 0x00, 0x00});
    const auto on2 = Frame({0x0A, 0x05, 0x00, 0x01, 0xFF, 0x00});

    const auto noisy = CheckModbusChunk(Bytes("\x7F\x01" + off1), 6);
    ASSERT_NE(AsEcho(noisy), nullptr);
    EXPECT_EQ(AsEcho(noisy)->coil, 0);
    EXPECT_EQ(AsEcho(noisy)->value, 0x0000);

    const auto two = CheckModbusChunk(Bytes(on2 + off1), 6);
    ASSERT_NE(AsEcho(two), nullptr);
    EXPECT_EQ(AsEcho(two)->coil, 1);
    EXPECT_EQ(AsEcho(two)->value, 0xFF00);

    // Without CR LF the text runs to the end of the chunk.
    const auto unterminated = CheckModbusChunk(Bytes(on2.substr(0, on2.size() - 2)), 6);
    EXPECT_NE(AsEcho(unterminated), nullptr);
    // A lone CR at the end is no terminator, and the CR stops the decoding.
    EXPECT_NE(AsEcho(CheckModbusChunk(Bytes(on2.substr(0, on2.size() - 1)), 6)), nullptr);

    EXPECT_NE(AsRegisters(CheckModbusChunk(Bytes(Frame(ReadReply(12), true)), 6)), nullptr);
    EXPECT_NE(AsRegisters(CheckModbusChunk(Bytes(Frame(ReadReply(12, 0x0B))), 6)), nullptr);
}

TEST(CheckModbusChunk, Drops) {
    const std::string good = ":0A0500000000F1\r\n";
    EXPECT_TRUE(
        std::holds_alternative<std::monostate>(CheckModbusChunk(Bytes("0A0500000000F1\r\n"), 6)));
    EXPECT_TRUE(
        std::holds_alternative<std::monostate>(CheckModbusChunk(Bytes(":0A0500000000F2\r\n"), 6)));
    EXPECT_TRUE(
        std::holds_alternative<std::monostate>(CheckModbusChunk(Bytes(":0A0500000000F0\r\n"), 6)));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(CheckModbusChunk(Bytes(":\r\n"), 6)));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(CheckModbusChunk(Bytes(":00\r\n"), 6)));
    // Exception replies and other function codes.
    EXPECT_TRUE(std::holds_alternative<std::monostate>(
        CheckModbusChunk(Bytes(Frame({0x0A, 0x84, 0x02})), 6)));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(
        CheckModbusChunk(Bytes(Frame({0x0A, 0x85, 0x03})), 6)));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(
        CheckModbusChunk(Bytes(Frame({0x0A, 0x03, 0x00, 0x00, 0x00, 0x01})), 6)));
    // An LRC-valid coil frame too short for coil and value.
    EXPECT_TRUE(std::holds_alternative<std::monostate>(
        CheckModbusChunk(Bytes(Frame({0x0A, 0x05, 0x00, 0x01})), 6)));
    EXPECT_NE(AsEcho(CheckModbusChunk(Bytes(good), 6)), nullptr);
}

TEST(CheckModbusChunk, EchoCarriesAnyCoilAndValue) {
    const auto echo = CheckModbusChunk(Bytes(Frame({0x0A, 0x05, 0x00, 0x0C, 0x12, 0x34})), 4);
    ASSERT_NE(AsEcho(echo), nullptr);
    EXPECT_EQ(AsEcho(echo)->coil, 12);
    EXPECT_EQ(AsEcho(echo)->value, 0x1234);
}

// Property: register data of any length survives a round trip through a frame, and any
// single corrupted hex character is either dropped or changes what comes out.
TEST(CheckModbusChunk, RoundTripAndSingleCharacterFlips) {
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const std::uint8_t channels :
         {std::uint8_t{0}, std::uint8_t{4}, std::uint8_t{6}, std::uint8_t{12}}) {
        const std::size_t registers = channels + 6U;
        for (int round = 0; round < 20; ++round) {
            std::vector<std::uint8_t> data(2 * registers);
            for (auto& b : data) {
                b = static_cast<std::uint8_t>(byte(rng));
            }
            std::vector<std::uint8_t> pdu = {0x0A, 0x04, static_cast<std::uint8_t>(data.size())};
            pdu.insert(pdu.end(), data.begin(), data.end());
            const std::string frame = EncodeAsciiFrame(pdu, round % 2 == 1);
            const auto result = CheckModbusChunk(Bytes(frame), channels);
            ASSERT_NE(AsRegisters(result), nullptr);
            ASSERT_EQ(AsRegisters(result)->bytes, data);

            for (std::size_t pos = 1; pos + 2 < frame.size(); ++pos) {
                std::string corrupted = frame;
                const char replacement = corrupted[pos] == '7' ? '8' : '7';
                corrupted[pos] = replacement;
                const auto flipped = CheckModbusChunk(Bytes(corrupted), channels);
                const auto* regs = AsRegisters(flipped);
                EXPECT_TRUE(regs == nullptr || regs->bytes != data) << frame << " @" << pos;
            }
        }
    }
}

}  // namespace
}  // namespace corvelle
