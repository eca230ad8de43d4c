#include "tools/terminal/board.h"

#include <cmath>
#include <numbers>

#include "protocol/modbus_ascii.h"

namespace corvelle::sim {
namespace {

constexpr std::uint8_t kExceptionFlag = 0x80;
constexpr std::uint16_t kCoilOn = 0xFF00;
constexpr std::uint16_t kCoilOff = 0x0000;
constexpr std::uint16_t kTwelveBits = 0x0FFF;

std::uint16_t Word(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8U | bytes[at + 1]);
}

double Wave(std::int64_t nowMs, std::int64_t periodMs) {
    const double phase = static_cast<double>(nowMs % periodMs) / static_cast<double>(periodMs);
    return std::sin(2.0 * std::numbers::pi * phase);
}

std::vector<std::uint8_t> Exception(std::uint8_t function, ModbusException code) {
    return {kSlaveAddress, static_cast<std::uint8_t>(function | kExceptionFlag),
            static_cast<std::uint8_t>(code)};
}

}  // namespace

Board::Board(BoardConfig config) : config_(config) {}

bool Board::RelayOn(std::size_t relay) const {
    return relay >= 1 && relay <= kRelayCount && (relays_ >> (relay - 1) & 1U) != 0;
}

std::uint16_t Board::InputWord(std::int64_t nowMs) {
    const auto step = static_cast<std::uint64_t>(nowMs / 2000);
    return static_cast<std::uint16_t>((step ^ (step >> 1U)) & kTwelveBits);
}

std::int16_t Board::TemperatureCentidegrees(std::int64_t nowMs) {
    // A ten-minute swell of ±0.8 °C with a faster ±0.2 °C ripple on top, around 25 °C.
    return static_cast<std::int16_t>(
        std::lround(2500.0 + 80.0 * Wave(nowMs, 600000) + 20.0 * Wave(nowMs, 61000)));
}

std::int16_t Board::SupplyCentivolts(std::int64_t nowMs) {
    return static_cast<std::int16_t>(std::lround(1205.0 + 3.0 * Wave(nowMs, 47000)));
}

std::uint16_t Board::RegisterValue(std::size_t index, std::int64_t nowMs) const {
    switch (index) {
        case 0:
            return signal_;
        case 1:
            return relays_;
        case 2:
            return InputWord(nowMs);
        case 3:
            return static_cast<std::uint16_t>(kReferenceMillivolts);
        case 4:
            return static_cast<std::uint16_t>(TemperatureCentidegrees(nowMs));
        case 5:
            return static_cast<std::uint16_t>(SupplyCentivolts(nowMs));
        default:
            break;
    }
    const std::size_t channel = index - kFirstChannelRegister;
    if (index >= kRegisterCount || channel >= config_.channelCount) {
        return 0;
    }
    return static_cast<std::uint16_t>(
        SampleWave(config_.waves[channel], channel, nowMs, config_.seed));
}

std::optional<BoardReply> Board::Answer(std::span<const std::uint8_t> frame, std::int64_t nowMs) {
    if (frame.size() < 3 || frame[0] != kSlaveAddress) {
        return std::nullopt;
    }
    const std::uint8_t function = frame[1];
    const auto data = frame.subspan(2, frame.size() - 3);
    switch (function) {
        case kReadInputRegisters:
            return BoardReply{ReadInputRegisters(data, nowMs), std::nullopt};
        case kWriteSingleCoil:
            return WriteSingleCoil(frame.first(frame.size() - 1));
        default:
            return BoardReply{Exception(function, ModbusException::IllegalFunction), std::nullopt};
    }
}

std::vector<std::uint8_t> Board::ReadInputRegisters(std::span<const std::uint8_t> data,
                                                    std::int64_t nowMs) {
    if (data.size() != 4) {
        return Exception(kReadInputRegisters, ModbusException::IllegalDataValue);
    }
    const std::size_t start = Word(data, 0);
    const std::size_t count = Word(data, 2);
    if (count < 1 || start >= kRegisterCount || count > kRegisterCount - start) {
        return Exception(kReadInputRegisters, ModbusException::IllegalDataAddress);
    }
    ++signal_;
    std::vector<std::uint8_t> reply = {kSlaveAddress, kReadInputRegisters,
                                       static_cast<std::uint8_t>(2 * count)};
    for (std::size_t index = start; index < start + count; ++index) {
        const std::uint16_t value = RegisterValue(index, nowMs);
        const auto high = static_cast<std::uint8_t>(value >> 8U);
        const auto low = static_cast<std::uint8_t>(value & 0xFFU);
        const bool lowFirst = index == 1 || index == 2;
        reply.push_back(lowFirst ? low : high);
        reply.push_back(lowFirst ? high : low);
    }
    return reply;
}

std::optional<BoardReply> Board::WriteSingleCoil(std::span<const std::uint8_t> request) {
    // request: address, function, coil (2), value (2).
    if (request.size() != 6) {
        return BoardReply{Exception(kWriteSingleCoil, ModbusException::IllegalDataValue),
                          std::nullopt};
    }
    const std::uint16_t coil = Word(request, 2);
    const std::uint16_t value = Word(request, 4);
    if (value != kCoilOn && value != kCoilOff) {
        return BoardReply{Exception(kWriteSingleCoil, ModbusException::IllegalDataValue),
                          std::nullopt};
    }
    if (coil >= kRelayCount) {
        return BoardReply{Exception(kWriteSingleCoil, ModbusException::IllegalDataAddress),
                          std::nullopt};
    }
    const auto bit = static_cast<std::uint16_t>(1U << coil);
    const bool on = value == kCoilOn;
    relays_ = static_cast<std::uint16_t>(on ? relays_ | bit : relays_ & ~bit);
    return BoardReply{std::vector<std::uint8_t>(request.begin(), request.end()),
                      CoilChange{std::size_t{coil} + 1, on}};
}

}  // namespace corvelle::sim
