#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tools/terminal/waveform.h"

namespace corvelle::sim {

// Input registers 0..17: signal, relay word, input word, reference, temperature, supply,
// then the twelve channels.
inline constexpr std::size_t kRegisterCount = 18;
inline constexpr std::size_t kFirstChannelRegister = 6;
inline constexpr std::int16_t kReferenceMillivolts = 2500;

enum class ModbusException : std::uint8_t {
    IllegalFunction = 0x01,
    IllegalDataAddress = 0x02,
    IllegalDataValue = 0x03,
};

struct BoardConfig {
    // Channels the board carries (4, 6 or 12); the registers of the others read 0.
    std::size_t channelCount = kChannelCount;
    ChannelWaves waves = DefaultWaves();
    // Keeps the noise of several boards in one process apart.
    std::uint64_t seed = 0;
};

// A relay switched by an accepted coil write: relay 1..12.
struct CoilChange {
    std::size_t relay = 0;
    bool on = false;
};

struct BoardReply {
    // Address, function code and data, without the LRC: the line framing adds that.
    std::vector<std::uint8_t> bytes;
    std::optional<CoilChange> coil;
};

// The Modbus slave at address 0x0A behind a terminal: answers Read Input Registers (04)
// from its register map and Write Single Coil (05) on its twelve relays. Time comes in as
// milliseconds since power-up, so every reading is reproducible.
class Board {
  public:
    explicit Board(BoardConfig config);

    // One decoded request frame, LRC included and already checked. Nothing comes back for
    // another slave's frame or one too short to hold a function code, as on a shared line.
    std::optional<BoardReply> Answer(std::span<const std::uint8_t> frame, std::int64_t nowMs);

    // The value of input register 0..17 as a number; the relay and input words go on the
    // wire low byte first, all others big-endian.
    std::uint16_t RegisterValue(std::size_t index, std::int64_t nowMs) const;

    std::uint16_t RelayWord() const { return relays_; }
    bool RelayOn(std::size_t relay) const;
    std::size_t ChannelCount() const { return config_.channelCount; }

    // Optocoupler inputs step through a Gray code every two seconds: one lamp changes at
    // a time, slowly enough to watch.
    static std::uint16_t InputWord(std::int64_t nowMs);
    static std::int16_t TemperatureCentidegrees(std::int64_t nowMs);
    static std::int16_t SupplyCentivolts(std::int64_t nowMs);

  private:
    std::vector<std::uint8_t> ReadInputRegisters(std::span<const std::uint8_t> data,
                                                 std::int64_t nowMs);
    std::optional<BoardReply> WriteSingleCoil(std::span<const std::uint8_t> request);

    BoardConfig config_;
    std::uint16_t relays_ = 0;
    std::uint16_t signal_ = 0;
};

}  // namespace corvelle::sim
