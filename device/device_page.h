#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string_view>

#include "chart/chart_interface.h"
#include "device/acquisition_sink.h"
#include "device/page_ports.h"
#include "device/register_block.h"
#include "device/slot_tables.h"
#include "device/trend_chart_driver.h"
#include "protocol/module_frames.h"

namespace corvelle {

// Everything one device slot does with its terminal, without widgets: link handling,
// identification, the poll cycle, decoding, the value list, lamps, relays and the chart.
class DevicePage {
  public:
    static constexpr int kPollTimerId = 1;
    static constexpr std::uint32_t kFirstPollMs = 10;
    // Re-sends the last request when the board stays silent.
    static constexpr std::uint32_t kWatchdogMs = 10000;

    DevicePage(int slot, SlotTables& tables, DeviceSender& sender, OneShotTimer& pollTimer,
               const Clock& clock, PageView& view, TrendChart& chart);

    // The page's initialisation: enters itself in the page window table, clears its link
    // flag, sets the "not connected" status, prepares the value list, draws the lamps and
    // relay captions and resets the chart.
    void Initialise();

    // attach == 1: attach to record (sends the module query, returns at once; the
    // connection server keeps the gap before its registration reply).
    // Any other value: detach; record (nullptr from the connection server) is kept as the
    // reference that later sends carry.
    void OnDeviceLink(std::uintptr_t attach, ClientRecord* record);

    // One received chunk, routed by its length alone: exactly kModuleReplySize bytes is a
    // module reply, shorter is Modbus ASCII, longer is neither and makes the page ask for
    // identification again. The page keeps no reference to the chunk.
    void OnDeviceData(std::span<const std::uint8_t> chunk);

    // A timer of the page fired. Only the poll timer (kPollTimerId) does anything.
    void OnTimer(int timerId);

    // The operator clicked the button of relay 1..12: asks the board for the opposite of the
    // known state. The known state changes only when the board confirms it.
    void OnRelayButton(std::size_t relay);

    // Asks the board to put relay 1..12 into state on, with the frame its button would send
    // for that; false when the state last asked for (or, with nothing asked, the known state)
    // already is on. Requests to one relay go one at a time, each once the board has echoed
    // the one before, so that "on" then "off" within a round trip ends off.
    bool RequestRelayState(std::size_t relay, bool on);

    // Where readings and link events go from now on; nullptr: nowhere, at no cost.
    void SetSink(AcquisitionSink* sink) { sink_ = sink; }

    // What the terminal's channels, inputs and relays mean from now on (nullptr: nothing, as
    // without profiles). The list, captions and chart show it at once; each reply is scaled
    // with it once, for the list, the chart and the sinks alike.
    void SetProfile(std::shared_ptr<const TerminalProfile> profile);
    const std::shared_ptr<const TerminalProfile>& Profile() const { return profile_; }

    int Slot() const { return slot_; }
    ClientRecord* CurrentRecord() const { return record_; }
    std::uint8_t ChannelCount() const { return channelCount_; }

    // The last decoded reply and the tables derived from it (all zero before the first).
    const RegisterBlock& Registers() const { return registers_; }
    const std::array<std::int32_t, kChannelCount>& ChannelMillivolts() const {
        return channelMillivolts_;
    }
    const std::array<float, kChannelCount>& ChannelVolts() const { return channelVolts_; }
    // Each channel's value under the profile: scaled where it scales, else volts.
    const std::array<double, kChannelCount>& ChannelValues() const { return channelValues_; }
    const std::array<std::uint8_t, kChannelCount>& ChannelNumbers() const {
        return channelNumbers_;
    }
    // Index i: input or relay i+1; 1 = active / on.
    const std::array<std::uint8_t, kChannelCount>& InputStates() const { return inputStates_; }
    const std::array<std::uint8_t, kChannelCount>& RelayStates() const { return relayStates_; }
    const TrendChartDriver& Chart() const { return chart_; }

  private:
    void SendRelayRequest(std::size_t index);
    // A poll reply: a relay request sent before that poll has had its echo, or lost it.
    void ForgetLostRelayRequests();
    void SendPayload(std::span<const std::uint8_t> payload);
    void SendFrame(std::string_view frame);
    void SendModuleQuery();
    void ShowLinkStatus(std::string_view state);

    void HandleModuleReply(std::span<const std::uint8_t, kModuleReplySize> reply);
    void HandleModbusChunk(std::span<const std::uint8_t> chunk);
    void DecodeRegisters(std::span<const std::uint8_t> bytes);
    void ApplyCoilEcho(std::uint16_t coil, std::uint16_t value);

    void InitValueList();
    void FillValueList(int rowCount);
    void SetRelayStates(std::uint16_t word);
    void ShowRelayStates();
    void ShowInputStates(std::uint16_t word);
    void ShowSwitchNames();
    void ScaleChannels();

    void EmitReading();
    void EmitEvent(EventKind kind, std::int64_t value = 0, bool on = false);

    int slot_;
    SlotTables& tables_;
    DeviceSender& sender_;
    OneShotTimer& pollTimer_;
    const Clock& clock_;
    PageView& view_;
    TrendChartDriver chart_;
    ClientRecord* record_ = nullptr;
    std::uint8_t channelCount_ = 0;
    AcquisitionSink* sink_ = nullptr;
    std::shared_ptr<const TerminalProfile> profile_;
    // Value list rows the last reply filled, for redrawing them under a new profile.
    int valueRows_ = static_cast<int>(kChartSeriesCount);

    RegisterBlock registers_;
    std::array<float, kChannelCount> channelVolts_{};
    std::array<std::uint8_t, kChannelCount> channelNumbers_{};
    std::array<std::int32_t, kChannelCount> channelMillivolts_{};
    std::array<double, kChannelCount> channelValues_{};
    std::array<std::uint8_t, kChannelCount> inputStates_{};
    std::array<std::uint8_t, kChannelCount> relayStates_{};
    // The states asked of each relay, in order; the first is on its way to the board.
    std::array<std::deque<bool>, kChannelCount> relayRequests_{};
    // Polls sent since the first request of each relay went.
    std::array<int, kChannelCount> pollsSinceRelayRequest_{};
};

}  // namespace corvelle
