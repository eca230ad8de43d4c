#include "protocol/modbus_ascii.h"

#include <numeric>

namespace corvelle {
namespace {

constexpr char HexDigit(unsigned value, bool lowerCase) {
    constexpr std::string_view upper = "0123456789ABCDEF";
    constexpr std::string_view lower = "0123456789abcdef";
    return lowerCase ? lower[value & 0xF] : upper[value & 0xF];
}

using RequestFrame = std::array<char, kRequestFrameSize>;

// Request frames are built once, at compile time, by the one framing rule.
constexpr RequestFrame MakeRequest(std::uint8_t function, std::uint16_t address,
                                   std::uint16_t value) {
    const std::array<std::uint8_t, 6> bytes = {kSlaveAddress,
                                               function,
                                               static_cast<std::uint8_t>(address >> 8),
                                               static_cast<std::uint8_t>(address & 0xFF),
                                               static_cast<std::uint8_t>(value >> 8),
                                               static_cast<std::uint8_t>(value & 0xFF)};
    unsigned sum = 0;
    for (const auto b : bytes) {
        sum += b;
    }
    const auto lrc = static_cast<std::uint8_t>(0x100U - (sum & 0xFFU));
    RequestFrame frame{};
    std::size_t pos = 0;
    frame[pos++] = ':';
    for (const auto b : bytes) {
        frame[pos++] = HexDigit(b >> 4U, false);
        frame[pos++] = HexDigit(b, false);
    }
    frame[pos++] = HexDigit(lrc >> 4U, false);
    frame[pos++] = HexDigit(lrc, false);
    frame[pos++] = '\r';
    frame[pos] = '\n';
    return frame;
}

constexpr std::array<RequestFrame, 3> kReadRequests = {MakeRequest(kReadInputRegisters, 0, 4 + 6),
                                                       MakeRequest(kReadInputRegisters, 0, 6 + 6),
                                                       MakeRequest(kReadInputRegisters, 0, 12 + 6)};

constexpr std::array<RequestFrame, 2 * kRelayCount> MakeCoilRequests() {
    std::array<RequestFrame, 2 * kRelayCount> frames{};
    for (std::size_t coil = 0; coil < kRelayCount; ++coil) {
        frames[2 * coil] = MakeRequest(kWriteSingleCoil, static_cast<std::uint16_t>(coil), 0x0000);
        frames[2 * coil + 1] =
            MakeRequest(kWriteSingleCoil, static_cast<std::uint16_t>(coil), 0xFF00);
    }
    return frames;
}

constexpr std::array<RequestFrame, 2 * kRelayCount> kCoilRequests = MakeCoilRequests();

std::string_view View(const RequestFrame& frame) {
    return {frame.data(), frame.size()};
}

}  // namespace

int FindPattern(std::span<const std::uint8_t> sequence, std::span<const std::uint8_t> pattern) {
    if (pattern.empty() || pattern.size() > sequence.size()) {
        return -1;
    }
    const std::size_t last = sequence.size() - pattern.size();
    for (std::size_t i = 0; i <= last; ++i) {
        std::size_t k = 0;
        while (k < pattern.size() && sequence[i + k] == pattern[k]) {
            ++k;
        }
        if (k == pattern.size()) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::uint8_t HexDigitValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint8_t>(c - 'a' + 10);
    }
    return 16;
}

std::size_t DecodeHexPairs(const std::uint8_t* text, std::size_t length, std::uint8_t* out) {
    std::size_t count = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        const std::uint8_t hi = HexDigitValue(text[i]);
        const std::uint8_t lo = HexDigitValue(text[i + 1]);
        if (hi == 16 || lo == 16) {
            break;
        }
        out[count++] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return count;
}

std::uint8_t ComputeLrc(std::span<const std::uint8_t> bytes) {
    const unsigned sum = std::accumulate(bytes.begin(), bytes.end(), 0U);
    return static_cast<std::uint8_t>((0x100U - (sum & 0xFFU)) & 0xFFU);
}

std::string EncodeAsciiFrame(std::span<const std::uint8_t> bytes, bool lowerCase) {
    std::string frame;
    frame.reserve(bytes.size() * 2 + 5);
    frame.push_back(':');
    const auto appendHex = [&](std::uint8_t b) {
        frame.push_back(HexDigit(b >> 4U, lowerCase));
        frame.push_back(HexDigit(b, lowerCase));
    };
    for (const auto b : bytes) {
        appendHex(b);
    }
    appendHex(ComputeLrc(bytes));
    frame.append("\r\n");
    return frame;
}

std::string_view ReadInputRegistersRequest(std::uint8_t channelCount) {
    switch (channelCount) {
        case 4:
            return View(kReadRequests[0]);
        case 6:
            return View(kReadRequests[1]);
        case 12:
            return View(kReadRequests[2]);
        default:
            return {};
    }
}

std::string_view WriteSingleCoilRequest(std::size_t relay, bool on) {
    if (relay < 1 || relay > kRelayCount) {
        return {};
    }
    return View(kCoilRequests[2 * (relay - 1) + (on ? 1 : 0)]);
}

std::optional<std::vector<std::uint8_t>> CutAsciiFrame(std::span<const std::uint8_t> chunk) {
    static constexpr std::array<std::uint8_t, 1> kColon = {':'};
    static constexpr std::array<std::uint8_t, 2> kCrLf = {'\r', '\n'};
    const int p = FindPattern(chunk, kColon);
    if (p < 0) {
        return std::nullopt;
    }
    const auto fromColon = chunk.subspan(static_cast<std::size_t>(p));
    const int q = FindPattern(fromColon, kCrLf);
    // q >= 1 whenever found, since the colon itself is not a CR.
    const std::size_t textLength = q >= 0 ? static_cast<std::size_t>(q) - 1 : fromColon.size() - 1;
    std::vector<std::uint8_t> decoded(textLength / 2);
    decoded.resize(DecodeHexPairs(fromColon.data() + 1, textLength, decoded.data()));
    if (decoded.size() < 2 || ComputeLrc(decoded) != 0) {
        return std::nullopt;
    }
    return decoded;
}

ModbusChunkResult CheckModbusChunk(std::span<const std::uint8_t> chunk, std::uint8_t channelCount) {
    auto frame = CutAsciiFrame(chunk);
    if (!frame) {
        return {};
    }
    const std::vector<std::uint8_t>& d = *frame;
    const std::size_t n = d.size();
    switch (d[1]) {
        case kReadInputRegisters: {
            const std::size_t expected = 2 * static_cast<std::size_t>(channelCount) + 16;
            if (n != expected) {
                return {};
            }
            return RegisterData{std::vector<std::uint8_t>(d.begin() + 3, d.end() - 1)};
        }
        case kWriteSingleCoil:
            if (n < 6) {
                return {};
            }
            return CoilEcho{static_cast<std::uint16_t>(d[2] << 8 | d[3]),
                            static_cast<std::uint16_t>(d[4] << 8 | d[5])};
        default:
            return {};
    }
}

}  // namespace corvelle
