#include "server/device_tab_host.h"

#include <algorithm>
#include <string>
#include <utility>

#include "device/device_page.h"

namespace corvelle {
namespace {

// "未连接设备" in GB2312.
constexpr std::uint8_t kDefaultNameStem[] = {0xCE, 0xB4, 0xC1, 0xAC, 0xBD,
                                             0xD3, 0xC9, 0xE8, 0xB1, 0xB8};

constexpr char kReceiveErrorText[] = "数据接收错误!";

std::string PortInUseText(int port) {
    return "socket端口：" + std::to_string(port) + "被占用，请选择其他端口";
}

std::string PortOutOfRangeText(int port) {
    return "socket端口：" + std::to_string(port) + "无效，端口范围为1-65535，请选择其他端口";
}

}  // namespace

std::vector<std::uint8_t> DefaultSlotName(int slot) {
    std::vector<std::uint8_t> name(std::begin(kDefaultNameStem), std::end(kDefaultNameStem));
    const std::string number = std::to_string(slot + 1);
    name.insert(name.end(), number.begin(), number.end());
    return name;
}

DeviceTabHost::DeviceTabHost(SlotTables& tables, TabHostView& view, Listener& listener,
                             RegistrationTimer& registrationTimer, const Clock& clock)
    : tables_(tables),
      view_(view),
      listener_(listener),
      registrationTimer_(registrationTimer),
      clock_(clock) {}

DeviceTabHost::~DeviceTabHost() {
    Shutdown();
}

void DeviceTabHost::Initialise() {
    listening_ = 0;
    pageCounter_ = 0;
    for (std::size_t i = 0; i < tables_.SlotCount(); ++i) {
        AddDevicePage();
    }
}

void DeviceTabHost::SetSink(AcquisitionSink* sink) {
    sink_ = sink;
    for (DevicePage* page : pages_) {
        page->SetSink(sink);
    }
}

void DeviceTabHost::SetProfiles(const ProfileLookup* profiles) {
    profiles_ = profiles;
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        ApplyProfile(i);
    }
}

void DeviceTabHost::ApplyProfile(std::size_t slot) {
    pages_[slot]->SetProfile(profiles_ != nullptr ? profiles_->ProfileFor(tables_.deviceNames[slot])
                                                  : nullptr);
}

void DeviceTabHost::AddDevicePage() {
    const int slot = pageCounter_;
    const auto name = DefaultSlotName(slot);
    tables_.deviceNames[static_cast<std::size_t>(slot)] = name;
    pages_.push_back(&view_.AddPage(slot, name));
    pages_.back()->SetSink(sink_);
    view_.SelectTab(slot);
    view_.ShowOnlyPage(0);
    view_.SelectTab(0);
    ++pageCounter_;
}

void DeviceTabHost::ToggleListening(int port) {
    if (listening_ == 0) {
        listener_.Close();
        const bool inRange = port >= 1 && port <= 65535;
        const bool ok = inRange && listener_.Listen(static_cast<std::uint16_t>(port));
        view_.ListenStateChanged(ok ? 1 : 0);
        if (!ok) {
            view_.ShowMessage(inRange ? PortInUseText(port) : PortOutOfRangeText(port));
            return;
        }
        listening_ = 1;
        return;
    }
    auto records = std::move(clients_);
    clients_.clear();
    for (auto& record : records) {
        registrationTimer_.Cancel(record.get());
        if (record->socket) {
            record->socket->Close();
            if (record->registered == 1) {
                record->pageWindow->OnDeviceLink(0, nullptr);
            }
            ApplyDroppedName(*record);
            record->socket.reset();
        }
    }
    records.clear();
    listener_.Close();
    view_.ListenStateChanged(0);
    listening_ = 0;
}

void DeviceTabHost::AcceptClient(std::unique_ptr<Connection> connection, std::uint64_t nowMs) {
    nowMs_ = std::max(nowMs_, nowMs);
    auto record = std::make_unique<ClientRecord>();
    record->socket = std::move(connection);
    record->acceptedAtMs = nowMs;
    ++counts_.accepted;
    clients_.push_back(std::move(record));
    Emit(EventKind::Connected, clients_.back().get());
    if (!limits_.maxUnregistered) {
        return;
    }
    const auto unregistered = [](const auto& listed) { return listed->registered == 0; };
    auto waiting =
        static_cast<std::size_t>(std::count_if(clients_.begin(), clients_.end(), unregistered));
    while (waiting > *limits_.maxUnregistered) {
        RefuseConnection(std::find_if(clients_.begin(), clients_.end(), unregistered),
                         CloseReason::UnregisteredLimit, nowMs);
        --waiting;
    }
}

void DeviceTabHost::ReportRefusedConnection(std::string_view peer, CloseReason reason,
                                            std::uint64_t nowMs) {
    ++counts_.refused[static_cast<std::size_t>(reason)];
    if (const auto report = refusals_.Refused(AddressOf(peer), reason, nowMs)) {
        Report(*report);
    }
}

void DeviceTabHost::RefuseConnection(ClientList::iterator it, CloseReason reason,
                                     std::uint64_t nowMs) {
    const std::string peer = (*it)->socket->PeerAddress();
    DropRecord(it, true);
    ReportRefusedConnection(peer, reason, nowMs);
}

void DeviceTabHost::Report(const RefusalSummary::Report& report) {
    if (sink_ == nullptr) {
        return;
    }
    AcquisitionEvent event;
    event.time = clock_.Now();
    event.kind = EventKind::ConnectionsRefused;
    event.reason = report.reason;
    event.peer = report.address;
    event.value = static_cast<std::int64_t>(report.count);
    sink_->OnEvent(event);
}

void DeviceTabHost::Sweep(std::uint64_t nowMs) {
    nowMs_ = std::max(nowMs_, nowMs);
    for (auto it = clients_.begin(); it != clients_.end();) {
        const auto current = it++;
        ClientRecord& record = **current;
        if (record.registered == 0) {
            if (limits_.registrationTimeoutMs &&
                nowMs - record.acceptedAtMs >= *limits_.registrationTimeoutMs) {
                RefuseConnection(current, CloseReason::RegistrationTimeout, nowMs);
            }
            continue;
        }
        if (record.silentSinceMs == 0 || record.validReplies != record.repliesSeen) {
            record.repliesSeen = record.validReplies;
            record.silentSinceMs = nowMs;
        } else if (limits_.silentTimeoutMs && nowMs - record.silentSinceMs >= SilentLimitMs()) {
            ++counts_.silentClosed;
            CloseByConsole(record.socket.get(), CloseReason::SilentTimeout);
        }
    }
    for (const auto& report : refusals_.Due(nowMs)) {
        Report(report);
    }
}

std::uint64_t DeviceTabHost::SilentLimitMs() const {
    // The limit was checked against the interval at start; an operator who lengthens the
    // interval past it later still gives each poll the limit to be answered.
    const std::uint64_t limit = *limits_.silentTimeoutMs;
    const std::uint64_t interval = tables_.acquisitionIntervalMs;
    return interval < limit ? limit : interval + limit;
}

void DeviceTabHost::NoteValidReply(ClientRecord* record) {
    for (const auto& listed : clients_) {
        if (listed.get() == record) {
            ++record->validReplies;
            return;
        }
    }
}

DeviceTabHost::ClientList::iterator DeviceTabHost::FindClient(const Connection* connection) {
    return std::find_if(clients_.begin(), clients_.end(), [&](const auto& record) {
        return record->socket != nullptr && record->socket.get() == connection;
    });
}

void DeviceTabHost::CloseClient(const Connection* connection) {
    const auto it = FindClient(connection);
    if (it != clients_.end()) {
        DropRecord(it, true);
    }
}

void DeviceTabHost::CloseByConsole(const Connection* connection, CloseReason reason) {
    const auto it = FindClient(connection);
    if (it != clients_.end()) {
        Emit(EventKind::ClosedByConsole, it->get(), 0, reason);
        DropRecord(it, true);
    }
}

void DeviceTabHost::DropRecord(ClientList::iterator it, bool detachPage) {
    std::unique_ptr<ClientRecord> record = std::move(*it);
    clients_.erase(it);
    registrationTimer_.Cancel(record.get());
    record->socket->Close();
    if (detachPage && record->registered == 1) {
        record->pageWindow->OnDeviceLink(0, nullptr);
    }
    ApplyDroppedName(*record);
}

void DeviceTabHost::ApplyDroppedName(ClientRecord& record) {
    if (record.pendingSlot < 0) {
        return;
    }
    const int slot = std::exchange(record.pendingSlot, -1);
    const std::vector<std::uint8_t> name = std::move(record.pendingName);
    SetDeviceTabName(slot, name);
}

void DeviceTabHost::ReceiveFromClient(const Connection* connection,
                                      std::span<const std::uint8_t> chunk, std::uint64_t nowMs) {
    const auto it = FindClient(connection);
    if (it == clients_.end()) {
        return;
    }
    ClientRecord* record = it->get();
    chunk = chunk.first(std::min(chunk.size(), kMaxChunk));
    if (tap_ != nullptr) {
        tap_->OnFrame(*record, true, chunk);
    }
    if (record->registered != 0) {
        record->pageWindow->OnDeviceData(chunk);
        return;
    }
    Register(*record, chunk, nowMs);
}

void DeviceTabHost::ReceiveFailed(const Connection* /*connection*/) {
    view_.ShowMessage(kReceiveErrorText);
}

void DeviceTabHost::CountRegistration(std::uint64_t milliseconds) {
    const auto& bounds = ConnectionCounts::kRegistrationBoundsMs;
    const auto within = std::lower_bound(bounds.begin(), bounds.end(), milliseconds);
    ++counts_.registrations[static_cast<std::size_t>(within - bounds.begin())];
    counts_.registrationMsSum += milliseconds;
}

void DeviceTabHost::Register(ClientRecord& record, std::span<const std::uint8_t> chunk,
                             std::uint64_t nowMs) {
    auto name = ParseRegistration(chunk);
    if (!name) {
        Refuse(record, RegistrationStatus::Rejected);
        return;
    }
    int slot = -1;
    bool known = false;
    for (std::size_t i = 0; i < tables_.SlotCount(); ++i) {
        if (tables_.deviceNames[i] == *name) {
            slot = static_cast<int>(i);
            known = true;
            break;
        }
    }
    if (!known) {
        for (std::size_t i = 0; i < tables_.SlotCount(); ++i) {
            if (tables_.linkFlags[i] == 0) {
                slot = static_cast<int>(i);
                break;
            }
        }
    }
    if (slot < 0) {
        Refuse(record, RegistrationStatus::NoFreeSlot, *name);
        return;
    }
    const auto index = static_cast<std::size_t>(slot);
    DevicePage* page = tables_.pageWindows[index];
    ClientRecord* previous = page->CurrentRecord();
    record.registered = 1;
    record.pageWindow = page;
    if (!known) {
        tables_.deviceNames[index] = *name;
        ApplyProfile(index);
    }
    // The reply and the tab text follow after the attach gap; until then nothing more is
    // read from this terminal, so its later bytes are handled after the reply.
    record.socket->SetReadingPaused(true);
    page->OnDeviceLink(1, &record);
    // Set after the attach so that its module query goes out at once; what the page sends
    // from here on waits for the reply.
    record.pendingSlot = slot;
    record.pendingName = std::move(*name);
    registrationTimer_.Schedule(&record, kAttachGapMs);
    CountRegistration(nowMs > record.acceptedAtMs ? nowMs - record.acceptedAtMs : 0);
    Emit(EventKind::Registered, &record);
    // One live connection per slot: the one the page followed until now is closed, and its
    // close detaches nothing.
    if (previous != nullptr && previous != &record) {
        const auto it = std::find_if(clients_.begin(), clients_.end(),
                                     [&](const auto& listed) { return listed.get() == previous; });
        if (it != clients_.end()) {
            ++counts_.takeovers;
            Emit(EventKind::ClosedByConsole, previous, 0, CloseReason::TakenOver);
            DropRecord(it, false);
        }
    }
}

void DeviceTabHost::Refuse(ClientRecord& record, RegistrationStatus status,
                           std::span<const std::uint8_t> name) {
    SendToClient(RegistrationReply(status), &record, false);
    // Each segment of a garbled registration is refused again; once per connection is news,
    // and a stream of connections from one address is summed.
    const std::string peer = record.socket->PeerAddress();
    const CloseReason reason = status == RegistrationStatus::NoFreeSlot
                                   ? CloseReason::NoFreeSlot
                                   : CloseReason::InvalidRegistration;
    if (!record.refusalReported) {
        ++counts_.refused[static_cast<std::size_t>(reason)];
    }
    if (std::exchange(record.refusalReported, true) ||
        !refusals_.Refused(AddressOf(peer), reason, nowMs_) || sink_ == nullptr) {
        return;
    }
    AcquisitionEvent event;
    event.time = clock_.Now();
    event.kind = EventKind::Refused;
    event.value = static_cast<std::int64_t>(status);
    event.name.assign(name.begin(), name.end());
    event.peer = peer;
    sink_->OnEvent(event);
}

void DeviceTabHost::Emit(EventKind kind, const ClientRecord* record, std::int64_t value,
                         CloseReason reason) {
    if (sink_ == nullptr) {
        return;
    }
    AcquisitionEvent event;
    event.time = clock_.Now();
    event.kind = kind;
    event.value = value;
    event.reason = reason;
    if (record->registered == 1) {
        const int slot = record->pageWindow->Slot();
        event.slot = slot + 1;
        event.name = tables_.deviceNames[static_cast<std::size_t>(slot)];
    }
    event.peer = record->socket->PeerAddress();
    sink_->OnEvent(event);
}

void DeviceTabHost::CompleteRegistration(ClientRecord* record) {
    const auto it = std::find_if(clients_.begin(), clients_.end(),
                                 [&](const auto& listed) { return listed.get() == record; });
    if (it == clients_.end() || record->pendingSlot < 0) {
        return;
    }
    const int slot = std::exchange(record->pendingSlot, -1);
    const std::vector<std::uint8_t> name = std::move(record->pendingName);
    record->pendingName.clear();
    SendToClient(RegistrationReply(RegistrationStatus::Accepted), record, false);
    const std::vector<std::uint8_t> held = std::move(record->heldBytes);
    record->heldBytes.clear();
    SendToClient(held, record, true);
    SetDeviceTabName(slot, name);
    record->socket->SetReadingPaused(false);
}

void DeviceTabHost::SendToDevice(std::span<const std::uint8_t> envelope, ClientRecord* record) {
    if (envelope.size() < 2) {
        return;
    }
    const std::size_t declared = static_cast<std::size_t>(envelope[0] << 8 | envelope[1]);
    const auto payload = envelope.subspan(2);
    std::size_t length = std::min(declared, payload.size());
    if (declared == 0) {
        // A zero length field means "up to the first zero byte".
        length = static_cast<std::size_t>(
            std::find(payload.begin(), payload.end(), std::uint8_t{0}) - payload.begin());
    }
    SendToClient(payload.first(length), record, true);
}

void DeviceTabHost::SendToClient(std::span<const std::uint8_t> bytes, const ClientRecord* target,
                                 bool onlyRegistered) {
    if (bytes.empty()) {
        return;
    }
    for (const auto& record : clients_) {
        if (record.get() == target && record->socket &&
            (!onlyRegistered || record->registered == 1)) {
            if (onlyRegistered && record->pendingSlot >= 0) {
                // Inside the attach gap: after the registration reply, in order.
                const std::size_t room = kMaxHeldBytes - record->heldBytes.size();
                const auto kept = bytes.first(std::min(bytes.size(), room));
                record->heldBytes.insert(record->heldBytes.end(), kept.begin(), kept.end());
            } else {
                Write(*record, bytes);
            }
        }
    }
}

void DeviceTabHost::Write(ClientRecord& record, std::span<const std::uint8_t> bytes) {
    if (tap_ != nullptr) {
        tap_->OnFrame(record, false, bytes);
    }
    record.socket->Write(bytes);
}

void DeviceTabHost::OnTabSelected(int index) {
    currentTab_ = index;
    view_.ShowOnlyPage(currentTab_);
    view_.PageSelected(currentTab_);
}

void DeviceTabHost::OnSelectPage(std::intptr_t slot) {
    if (static_cast<std::uintptr_t>(slot) >= tables_.SlotCount()) {
        return;
    }
    view_.SelectTab(static_cast<int>(slot));
    view_.ShowOnlyPage(static_cast<int>(slot));
}

void DeviceTabHost::SetDeviceTabName(int slot, std::span<const std::uint8_t> name) {
    view_.SetTabText(slot, name);
    // Back to the tab the operator last chose on the tab control itself.
    view_.SelectTab(currentTab_);
    view_.ShowOnlyPage(currentTab_);
    view_.PageRenamed(slot, name);
}

RelayRequest DeviceTabHost::RequestRelay(std::span<const std::uint8_t> name, std::size_t relay,
                                         bool on) {
    for (std::size_t i = 0; i < tables_.SlotCount(); ++i) {
        if (std::ranges::equal(tables_.deviceNames[i], name)) {
            if (tables_.linkFlags[i] != 1) {
                return RelayRequest::NotLinked;
            }
            return pages_[i]->RequestRelayState(relay, on) ? RelayRequest::Sent
                                                           : RelayRequest::AlreadySo;
        }
    }
    return RelayRequest::NotLinked;
}

void DeviceTabHost::Shutdown() {
    for (auto& record : clients_) {
        registrationTimer_.Cancel(record.get());
        if (record->socket) {
            record->socket->Close();
        }
    }
    clients_.clear();
    listener_.Close();
}

}  // namespace corvelle
