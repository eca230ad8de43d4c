// Figures for the frame codecs: the per-poll chunk check, the module reply CRC and the
// registration parser.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "protocol/crc16.h"
#include "protocol/modbus_ascii.h"
#include "protocol/module_frames.h"
#include "protocol/registration.h"

namespace {

void BM_CheckTwelveChannelReply(benchmark::State& state) {
    std::vector<std::uint8_t> pdu = {0x0A, 0x04, 36};
    for (int i = 0; i < 36; ++i) {
        pdu.push_back(static_cast<std::uint8_t>(i * 11));
    }
    const std::string frame = corvelle::EncodeAsciiFrame(pdu);
    const std::vector<std::uint8_t> chunk(frame.begin(), frame.end());
    while (state.KeepRunning()) {
        auto result = corvelle::CheckModbusChunk(chunk, 12);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_CheckTwelveChannelReply);

void BM_Crc16ModuleReply(benchmark::State& state) {
    const auto reply = corvelle::BuildModuleReply("BX6C");
    const std::span<const std::uint8_t> covered = std::span(reply).first(1033);
    while (state.KeepRunning()) {
        benchmark::DoNotOptimize(corvelle::Crc16(covered));
    }
    state.SetBytesProcessed(state.iterations() * 1033);
}
BENCHMARK(BM_Crc16ModuleReply);

void BM_ParseRegistration32(benchmark::State& state) {
    const std::vector<std::uint8_t> name(32, 'N');
    const auto packet = corvelle::BuildRegistrationPacket(name);
    while (state.KeepRunning()) {
        auto result = corvelle::ParseRegistration(packet);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_ParseRegistration32);

}  // namespace

BENCHMARK_MAIN();
