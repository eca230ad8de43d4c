#include <gtest/gtest.h>

#include <bit>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "protocol/modbus_ascii.h"
#include "tools/terminal/board.h"
#include "tools/terminal/reply_faults.h"

namespace corvelle::sim {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::string Frame(std::vector<std::uint8_t> bytes) {
    return EncodeAsciiFrame(bytes);
}

std::string Read(std::uint16_t start, std::uint16_t count) {
    return Frame({kSlaveAddress, 0x04, static_cast<std::uint8_t>(start >> 8U),
                  static_cast<std::uint8_t>(start & 0xFFU), static_cast<std::uint8_t>(count >> 8U),
                  static_cast<std::uint8_t>(count & 0xFFU)});
}

// The terminal's path for one request line: cut and check the frame, let the board answer,
// frame the reply.
std::optional<std::string> Exchange(Board& board, std::string_view request,
                                    std::int64_t nowMs = 0) {
    const auto frame = CutAsciiFrame(Bytes(request));
    const auto reply = frame ? board.Answer(*frame, nowMs) : std::nullopt;
    return reply ? ReplyShaper(Faults{}).Shape(reply->bytes) : std::nullopt;
}

// Register bytes of the console's own poll, as the console's check hands them over.
std::vector<std::uint8_t> Poll(Board& board, std::uint8_t channels, std::int64_t nowMs = 0) {
    const auto reply = Exchange(board, ReadInputRegistersRequest(channels), nowMs);
    const auto checked = CheckModbusChunk(Bytes(reply.value_or("")), channels);
    const auto* data = std::get_if<RegisterData>(&checked);
    EXPECT_NE(data, nullptr);
    return data != nullptr ? data->bytes : std::vector<std::uint8_t>(36);
}

std::uint16_t BigEndian(const std::vector<std::uint8_t>& data, std::size_t reg) {
    return static_cast<std::uint16_t>(data[2 * reg] << 8U | data[2 * reg + 1]);
}

TEST(BoardRead, EveryCountForEveryModel) {
    constexpr std::int64_t kNow = 7300;
    for (const std::size_t channels : {4U, 6U, 12U}) {
        for (std::uint16_t count = 1; count <= kRegisterCount; ++count) {
            SCOPED_TRACE(testing::Message() << channels << " channels, count " << count);
            Board board({channels, DefaultWaves(), 0});
            const auto reply = Exchange(board, Read(0, count), kNow);
            const auto frame = CutAsciiFrame(Bytes(reply.value_or("")));
            ASSERT_TRUE(frame);
            ASSERT_EQ(frame->size(), 2U * count + 4);
            EXPECT_EQ((*frame)[1], 0x04);
            EXPECT_EQ((*frame)[2], 2 * count);
            const std::vector<std::uint8_t> data(frame->begin() + 3, frame->end() - 1);
            EXPECT_EQ(BigEndian(data, 0), 1U) << "first read of the signal counter";
            if (count > 3) {
                EXPECT_EQ(BigEndian(data, 3), kReferenceMillivolts);
            }
            for (std::size_t reg = kFirstChannelRegister; reg < count; ++reg) {
                const std::size_t ch = reg - kFirstChannelRegister;
                const std::int16_t expected =
                    ch < channels ? SampleWave(DefaultWaves()[ch], ch, kNow, 0) : 0;
                EXPECT_EQ(static_cast<std::int16_t>(BigEndian(data, reg)), expected) << reg;
            }
            EXPECT_EQ(std::holds_alternative<RegisterData>(
                          CheckModbusChunk(Bytes(*reply), static_cast<std::uint8_t>(channels))),
                      count == channels + 6);
        }
    }
}

TEST(BoardRequests, ExceptionsAndSilence) {
    std::string badLrc(ReadInputRegistersRequest(12));
    badLrc[badLrc.size() - 3] = '1';
    struct Case {
        std::string request;
        std::optional<std::vector<std::uint8_t>> reply;  // without LRC; nothing = silence
    };
    const Case cases[] = {
        {Read(0, 0), {{0x0A, 0x84, 0x02}}},
        {Read(0, 19), {{0x0A, 0x84, 0x02}}},
        {Read(17, 2), {{0x0A, 0x84, 0x02}}},
        {Read(18, 1), {{0x0A, 0x84, 0x02}}},
        {Read(0xFFFF, 1), {{0x0A, 0x84, 0x02}}},
        {Frame({0x0A, 0x04, 0x00, 0x00, 0x00}), {{0x0A, 0x84, 0x03}}},
        {Frame({0x0A, 0x03, 0x00, 0x00, 0x00, 0x01}), {{0x0A, 0x83, 0x01}}},
        {Frame({0x0A, 0x06, 0x00, 0x00, 0x00, 0x01}), {{0x0A, 0x86, 0x01}}},
        {Frame({0x0A, 0x05, 0x00, 0x0C, 0xFF, 0x00}), {{0x0A, 0x85, 0x02}}},
        {Frame({0x0A, 0x05, 0x01, 0x00, 0x00, 0x00}), {{0x0A, 0x85, 0x02}}},
        {Frame({0x0A, 0x05, 0x00, 0x00, 0x12, 0x34}), {{0x0A, 0x85, 0x03}}},
        {Frame({0x0A, 0x05, 0x00, 0x00, 0x00, 0xFF}), {{0x0A, 0x85, 0x03}}},
        {Frame({0x0A, 0x05, 0x00, 0x00, 0xFF}), {{0x0A, 0x85, 0x03}}},
        {Frame({0x0B, 0x04, 0x00, 0x00, 0x00, 0x12}), std::nullopt},
        {Frame({0x0B, 0x05, 0x00, 0x00, 0xFF, 0x00}), std::nullopt},
        {Frame({0x00, 0x05, 0x00, 0x00, 0xFF, 0x00}), std::nullopt},
        {badLrc, std::nullopt},
        {Frame({0x0A}), std::nullopt},
    };
    for (const Case& c : cases) {
        Board board({});
        const auto reply = Exchange(board, c.request);
        EXPECT_EQ(reply, c.reply ? std::optional(Frame(*c.reply)) : std::nullopt) << c.request;
        EXPECT_EQ(board.RelayWord(), 0) << "nothing switched by " << c.request;
    }
}

TEST(BoardCoils, EchoThenNextPollShowsRelayWordLowByteFirst) {
    Board board({12, DefaultWaves(), 0});
    std::uint16_t expected = 0;
    for (const bool on : {true, false}) {
        for (std::size_t relay = 1; relay <= kRelayCount; ++relay) {
            const std::string_view request = WriteSingleCoilRequest(relay, on);
            EXPECT_EQ(Exchange(board, request), std::string(request)) << "echo of relay " << relay;
            const auto bit = static_cast<std::uint16_t>(1U << (relay - 1));
            expected = static_cast<std::uint16_t>(on ? expected | bit : expected & ~bit);
            const auto data = Poll(board, 12);
            EXPECT_EQ(data[2] | data[3] << 8U, expected) << "relay " << relay;
        }
    }
}

TEST(BoardRegisters, SlowInputsLowByteFirst) {
    Board board({6, DefaultWaves(), 0});
    // Step 256 of the Gray code is 0x180: inputs 8 and 9, one in each byte, low byte first.
    const auto data = Poll(board, 6, 512000);
    EXPECT_EQ(data[4], 0x80);
    EXPECT_EQ(data[5], 0x01);
    for (std::int64_t step = 0; step < 300; ++step) {
        const auto before = Board::InputWord(step * 2000);
        EXPECT_EQ(Board::InputWord(step * 2000 + 1999), before);
        const auto after = Board::InputWord((step + 1) * 2000);
        EXPECT_EQ(std::popcount(static_cast<unsigned>(before ^ after)), 1) << "step " << step;
        EXPECT_EQ(after & 0xF000, 0);
    }
}

TEST(Waveforms, PhaseSpreadAndClamping) {
    const Waveform sine{WaveKind::Sine, 0, 1000, 20000};
    EXPECT_EQ(SampleWave(sine, 0, 5000, 0), 1000);
    EXPECT_EQ(SampleWave(sine, 3, 0, 0), 1000) << "channel 4 runs a quarter period ahead";
    const Waveform ramp{WaveKind::Ramp, 500, 1000, 10000};
    EXPECT_EQ(SampleWave(ramp, 0, 0, 0), -500);
    EXPECT_EQ(SampleWave(ramp, 0, 9999, 0), 1500);
    EXPECT_EQ(SampleWave({WaveKind::Constant, -40000, 0, 1}, 0, 0, 0), -32768);
    EXPECT_EQ(SampleWave({WaveKind::Sine, 30000, 10000, 20000}, 0, 5000, 0), 32767);
    for (std::int64_t t = 0; t < 1000; ++t) {
        const int v = SampleWave({WaveKind::Noise, 100, 50, 1000}, 2, t, 7);
        EXPECT_TRUE(v >= 50 && v <= 150) << v;
    }
}

TEST(WaveOption, AppliesFieldsOrRejectsWhole) {
    const ChannelWaves defaults = DefaultWaves();
    ChannelWaves waves = defaults;
    ASSERT_TRUE(ApplyWaveOption("2:ramp", waves));
    EXPECT_EQ(waves[1], (Waveform{WaveKind::Ramp, 0, defaults[1].amplitudeMv, 20000}));
    ASSERT_TRUE(ApplyWaveOption("12:noise:-300:20:5", waves));
    EXPECT_EQ(waves[11], (Waveform{WaveKind::Noise, -300, 20, 5}));
    ASSERT_TRUE(ApplyWaveOption("all:const:1500", waves));
    EXPECT_EQ(waves[5], (Waveform{WaveKind::Constant, 1500, defaults[5].amplitudeMv, 20000}));
    const ChannelWaves before = waves;
    for (const char* bad :
         {"", "1", "0:sine", "13:sine", "x:sine", "1:square", "1:sine:a", "1:sine:0:-5",
          "1:sine:0:5:0", "1:sine:1:2:3:4", "1:sine::2", "all:sine:99999999999", " 1:sine"}) {
        EXPECT_FALSE(ApplyWaveOption(bad, waves)) << bad;
        EXPECT_EQ(waves, before) << bad;
    }
}

}  // namespace
}  // namespace corvelle::sim
