#include "device/device_page.h"

#include <algorithm>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "device/time_text.h"
#include "device/value_list.h"
#include "protocol/modbus_ascii.h"

namespace corvelle {
namespace {

constexpr std::string_view kNotConnected = "          未连接         ";
constexpr std::string_view kConnected = "已连接";
constexpr std::string_view kDisconnected = "已断开";
constexpr std::string_view kRelayOnCaption = "关闭";
constexpr std::string_view kRelayOffCaption = "打开";

constexpr std::uint16_t kCoilOn = 0xFF00;
constexpr std::uint16_t kCoilOff = 0x0000;
// Two length bytes in front of the largest payload a page sends, the module query.
constexpr std::size_t kEnvelopeHeaderSize = 2;
constexpr std::size_t kMaxPayloadSize = kModuleQuerySize;
// Relay requests waiting at once, per relay.
constexpr std::size_t kMostRelayRequests = 16;

}  // namespace

DevicePage::DevicePage(int slot, SlotTables& tables, DeviceSender& sender, OneShotTimer& pollTimer,
                       const Clock& clock, PageView& view, TrendChart& chart)
    : slot_(slot),
      tables_(tables),
      sender_(sender),
      pollTimer_(pollTimer),
      clock_(clock),
      view_(view),
      chart_(chart, clock) {}

void DevicePage::Initialise() {
    const auto slot = static_cast<std::size_t>(slot_);
    tables_.pageWindows[slot] = this;
    tables_.linkFlags[slot] = 0;
    record_ = nullptr;
    view_.SetStatusText(kNotConnected);
    channelCount_ = 0;
    InitValueList();
    // The view learns its starting lamps and captions from here rather than knowing them.
    ShowInputStates(0);
    ShowRelayStates();
    chart_.ResetChart();
}

void DevicePage::SetProfile(std::shared_ptr<const TerminalProfile> profile) {
    // A reload that leaves the profile as it was changes nothing shown, not even the chart.
    const bool same = profile == profile_ || (profile && profile_ && *profile == *profile_);
    profile_ = std::move(profile);
    if (same) {
        return;
    }
    ScaleChannels();
    FillValueList(valueRows_);
    ShowSwitchNames();
    chart_.SetProfile(profile_.get());
}

void DevicePage::ScaleChannels() {
    for (std::size_t i = 0; i < kChannelCount; ++i) {
        channelValues_[i] = ChannelValue(profile_.get(), i, channelMillivolts_[i] / 1000.0);
    }
}

void DevicePage::ShowSwitchNames() {
    for (std::size_t i = 0; i < kRelayCount; ++i) {
        const std::string& input = profile_ ? profile_->inputs[i].name : std::string();
        const std::string& relay = profile_ ? profile_->relays[i].name : std::string();
        view_.SetSwitchName(false, i, input.empty() ? "光耦" + std::to_string(i + 1) : input);
        view_.SetSwitchName(true, i, relay.empty() ? "继电器" + std::to_string(i + 1) : relay);
    }
}

void DevicePage::OnDeviceLink(std::uintptr_t attach, ClientRecord* record) {
    const auto slot = static_cast<std::size_t>(slot_);
    if (attach == 1) {
        tables_.linkFlags[slot] = 1;
        record_ = record;
        SendModuleQuery();
        return;
    }
    tables_.linkFlags[slot] = 0;
    record_ = record;
    relayRequests_ = {};
    ShowLinkStatus(kDisconnected);
    channelCount_ = 0;
    pollTimer_.Stop();
    EmitEvent(EventKind::Detached);
}

void DevicePage::OnDeviceData(std::span<const std::uint8_t> chunk) {
    if (chunk.size() < kModuleReplySize) {
        HandleModbusChunk(chunk);
    } else if (chunk.size() == kModuleReplySize) {
        HandleModuleReply(chunk.first<kModuleReplySize>());
    } else {
        SendModuleQuery();
    }
}

void DevicePage::OnTimer(int timerId) {
    // Timers are one-shot and a foreign one has already expired: only the poll timer acts.
    if (timerId != kPollTimerId) {
        return;
    }
    for (int& polls : pollsSinceRelayRequest_) {
        ++polls;
    }
    const std::string_view request = ReadInputRegistersRequest(channelCount_);
    if (request.empty()) {
        SendModuleQuery();
    } else {
        SendFrame(request);
    }
    pollTimer_.Start(kWatchdogMs);
}

void DevicePage::OnRelayButton(std::size_t relay) {
    if (relay < 1 || relay > kRelayCount) {
        return;
    }
    SendFrame(WriteSingleCoilRequest(relay, relayStates_[relay - 1] == 0));
}

bool DevicePage::RequestRelayState(std::size_t relay, bool on) {
    if (relay < 1 || relay > kRelayCount) {
        return false;
    }
    std::deque<bool>& requests = relayRequests_[relay - 1];
    const bool last = requests.empty() ? relayStates_[relay - 1] == 1 : requests.back();
    if (last == on) {
        return false;
    }
    // A flood of commands waits no deeper than this; the rest are never sent.
    if (requests.size() < kMostRelayRequests) {
        requests.push_back(on);
        if (requests.size() == 1) {
            SendRelayRequest(relay - 1);
        }
    }
    return true;
}

void DevicePage::SendRelayRequest(std::size_t index) {
    pollsSinceRelayRequest_[index] = 0;
    SendFrame(WriteSingleCoilRequest(index + 1, relayRequests_[index].front()));
}

void DevicePage::ForgetLostRelayRequests() {
    for (std::size_t i = 0; i < kRelayCount; ++i) {
        // The board answers in order: the echo would have come before this reply.
        if (!relayRequests_[i].empty() && pollsSinceRelayRequest_[i] > 0) {
            relayRequests_[i].pop_front();
            if (!relayRequests_[i].empty()) {
                SendRelayRequest(i);
            }
        }
    }
}

void DevicePage::SendPayload(std::span<const std::uint8_t> payload) {
    std::array<std::uint8_t, kEnvelopeHeaderSize + kMaxPayloadSize> envelope{};
    const std::size_t length = std::min(payload.size(), kMaxPayloadSize);
    envelope[0] = static_cast<std::uint8_t>(length >> 8);
    envelope[1] = static_cast<std::uint8_t>(length & 0xFF);
    std::copy_n(payload.begin(), length, envelope.begin() + kEnvelopeHeaderSize);
    sender_.SendToDevice(std::span(envelope).first(kEnvelopeHeaderSize + length), record_);
}

void DevicePage::SendFrame(std::string_view frame) {
    SendPayload({reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size()});
}

void DevicePage::SendModuleQuery() {
    SendPayload(ModuleQuery);
}

void DevicePage::ShowLinkStatus(std::string_view state) {
    view_.SetStatusText(FormatDateTime(clock_.Now()) + " " + std::string(state));
}

void DevicePage::HandleModuleReply(std::span<const std::uint8_t, kModuleReplySize> reply) {
    const ModuleEvaluation evaluation = EvaluateModuleReply(reply);
    if (!evaluation.valid) {
        SendModuleQuery();
        return;
    }
    channelCount_ = evaluation.channelCount;
    sender_.NoteValidReply(record_);
    // An unlisted model leaves a running poll timer alone: its next tick re-identifies.
    if (channelCount_ != 0) {
        pollTimer_.Start(kFirstPollMs);
        ShowLinkStatus(kConnected);
        EmitEvent(EventKind::Identified, channelCount_);
    }
}

void DevicePage::HandleModbusChunk(std::span<const std::uint8_t> chunk) {
    std::visit(
        [this](const auto& result) {
            using Result = std::decay_t<decltype(result)>;
            if constexpr (std::is_same_v<Result, RegisterData>) {
                DecodeRegisters(result.bytes);
            } else if constexpr (std::is_same_v<Result, CoilEcho>) {
                ApplyCoilEcho(result.coil, result.value);
            }
        },
        CheckModbusChunk(chunk, channelCount_));
}

void DevicePage::DecodeRegisters(std::span<const std::uint8_t> bytes) {
    sender_.NoteValidReply(record_);
    registers_ = DecodeRegisterBlock(bytes);
    // Relays and inputs keep their last state when a short reply does not carry them.
    if (registers_.HasRelayWord()) {
        SetRelayStates(registers_.relayWord);
    }
    if (registers_.HasInputWord()) {
        ShowInputStates(registers_.inputWord);
    }
    ForgetLostRelayRequests();
    channelMillivolts_ = ChannelMillivoltsOf(registers_);
    ScaleChannels();
    if (!profile_) {
        chart_.UpdateValueAxis(std::span(channelMillivolts_).first<kChartSeriesCount>());
    }
    FillValueList(static_cast<int>(registers_.registerCount) - static_cast<int>(kLeadingRegisters));
    channelVolts_ = ChannelVoltsOf(registers_);
    if (profile_) {
        chart_.AppendValues(std::span(channelValues_).first<kChartSeriesCount>());
    } else {
        chart_.AppendChartPoints(std::span(channelVolts_).first<kChartSeriesCount>());
    }
    EmitReading();
    // Read at every re-arm so that a new interval from the settings applies from the next poll.
    pollTimer_.Start(tables_.acquisitionIntervalMs);
}

void DevicePage::ApplyCoilEcho(std::uint16_t coil, std::uint16_t value) {
    const bool known = coil < kRelayCount && (value == kCoilOn || value == kCoilOff);
    sender_.NoteValidReply(record_);
    if (known) {
        relayStates_[coil] = value == kCoilOn ? 1 : 0;
        std::deque<bool>& requests = relayRequests_[coil];
        if (!requests.empty() && requests.front() == (value == kCoilOn)) {
            requests.pop_front();
            if (!requests.empty()) {
                SendRelayRequest(coil);
            }
        }
    }
    ShowRelayStates();
    if (known) {
        EmitEvent(EventKind::RelayEcho, coil + 1, value == kCoilOn);
    }
}

void DevicePage::EmitReading() {
    if (sink_ == nullptr) {
        return;
    }
    Reading reading;
    reading.time = clock_.Now();
    reading.slot = slot_ + 1;
    reading.name = tables_.deviceNames[static_cast<std::size_t>(slot_)];
    reading.channelCount = channelCount_;
    reading.channelMillivolts = channelMillivolts_;
    reading.inputs = inputStates_;
    reading.relays = relayStates_;
    reading.temperatureCentidegrees = registers_.temperatureCentidegrees;
    reading.referenceMillivolts = registers_.referenceMillivolts;
    reading.supplyCentivolts = registers_.supplyCentivolts;
    reading.signalValue = registers_.signalValue;
    reading.profile = profile_;
    reading.values = channelValues_;
    sink_->OnReading(reading);
}

void DevicePage::EmitEvent(EventKind kind, std::int64_t value, bool on) {
    if (sink_ == nullptr) {
        return;
    }
    AcquisitionEvent event;
    event.time = clock_.Now();
    event.kind = kind;
    event.slot = slot_ + 1;
    event.name = tables_.deviceNames[static_cast<std::size_t>(slot_)];
    event.value = value;
    event.on = on;
    sink_->OnEvent(event);
}

void DevicePage::InitValueList() {
    for (std::size_t i = 0; i < kChannelCount; ++i) {
        channelNumbers_[i] = static_cast<std::uint8_t>(i + 1);
        channelMillivolts_[i] = 0;
    }
    ScaleChannels();
    FillValueList(static_cast<int>(kChartSeriesCount));
}

void DevicePage::FillValueList(int rowCount) {
    valueRows_ = rowCount;
    const std::vector<ValueRow> rows = BuildValueRows(rowCount, channelNumbers_, channelMillivolts_,
                                                      registers_, profile_.get(), channelValues_);
    view_.SetValueRows(rows);
}

void DevicePage::SetRelayStates(std::uint16_t word) {
    relayStates_ = WordFlags(word);
    ShowRelayStates();
}

void DevicePage::ShowRelayStates() {
    for (std::size_t i = 0; i < kRelayCount; ++i) {
        const bool on = relayStates_[i] == 1;
        view_.SetRelay(i, on, on ? kRelayOnCaption : kRelayOffCaption);
    }
}

void DevicePage::ShowInputStates(std::uint16_t word) {
    inputStates_ = WordFlags(word);
    for (std::size_t i = 0; i < kChannelCount; ++i) {
        view_.SetInputLamp(i, inputStates_[i] == 1);
    }
}

}  // namespace corvelle
