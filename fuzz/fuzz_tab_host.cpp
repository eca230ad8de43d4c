// The whole receive path as a state machine: connections come and go, send random chunks,
// registrations, module and poll replies; the attach gaps complete in any order; pages poll
// and switch relays; listening stops and starts. Pages are the real DevicePage behaviour.
//
// Checked after every step: a chunk, close or registration completion of one connection
// changes no page but the one that connection is bound to; a page's sends reach only its
// own connection; the console's own replies reach only the connection being handled; every
// page's connection is a live record bound to that page, and its link flag says so.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/device_page.h"
#include "protocol/modbus_ascii.h"
#include "protocol/module_frames.h"
#include "protocol/registration.h"
#include "server/device_tab_host.h"
#include "tests/server/host_fakes.h"

namespace {

using namespace corvelle;
using test::Bytes;
using test::FakeClock;
using test::FakeListener;
using test::FakePage;
using test::FakeRegistrationTimer;

constexpr int kMaxConnections = 6;
constexpr int kMaxSteps = 400;

void Check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

class Harness;

// A connection that reports what the server writes to it and when it is destroyed.
class FuzzConnection final : public Connection {
  public:
    FuzzConnection(Harness& harness, int id) : harness_(harness), id_(id) {}
    ~FuzzConnection() override;
    FuzzConnection(const FuzzConnection&) = delete;
    FuzzConnection& operator=(const FuzzConnection&) = delete;

    void Write(std::span<const std::uint8_t> bytes) override;
    void Close() override { closed_ = true; }
    void SetReadingPaused(bool paused) override { paused_ = paused; }
    std::string PeerAddress() const override { return "192.0.2.1:1"; }
    bool Paused() const { return paused_; }

  private:
    Harness& harness_;
    int id_;
    bool closed_ = false;
    bool paused_ = false;
};

// Every page sends through its own sender, so that a write can be traced to its page.
class PageSender final : public DeviceSender {
  public:
    PageSender(Harness& harness, int slot) : harness_(harness), slot_(slot) {}
    void SendToDevice(std::span<const std::uint8_t> envelope, ClientRecord* record) override;
    void NoteValidReply(ClientRecord* record) override;
    std::size_t Sends() const { return sends_; }

  private:
    Harness& harness_;
    int slot_;
    std::size_t sends_ = 0;
};

// What a page shows and does, as far as anyone outside could tell.
struct PageState {
    const ClientRecord* record = nullptr;
    std::uint8_t channels = 0;
    std::uint8_t link = 0;
    Bytes name;
    std::size_t sends = 0;
    std::size_t statusTexts = 0;
    int rowUpdates = 0;
    int relayUpdates = 0;
    int lampUpdates = 0;
    std::size_t timerStarts = 0;
    int timerStops = 0;
    int points = 0;
    std::size_t registerCount = 0;
    std::int16_t signal = 0;
    bool operator==(const PageState&) const = default;
};

class Harness final : public TabHostView {
  public:
    Harness() : host_(tables_, *this, listener_, timer_, clock_) {
        for (int slot = 0; slot < static_cast<int>(kSlotCount); ++slot) {
            senders_.push_back(std::make_unique<PageSender>(*this, slot));
        }
        host_.Initialise();
        host_.ToggleListening(20000);
    }

    void Run(FuzzedDataProvider& input) {
        for (int step = 0; step < kMaxSteps && input.remaining_bytes() > 0; ++step) {
            Step(input);
            CheckPages();
        }
    }

    // TabHostView: only the pages matter here.
    DevicePage& AddPage(int slot, std::span<const std::uint8_t>) override {
        pages_.push_back(std::make_unique<FakePage>(
            slot, tables_, *senders_.at(static_cast<std::size_t>(slot)), clock_));
        pages_.back()->page.Initialise();
        return pages_.back()->page;
    }
    void SetTabText(int, std::span<const std::uint8_t>) override {}
    void SelectTab(int) override {}
    void ShowOnlyPage(int) override {}
    void PageSelected(int) override {}
    void PageRenamed(int, std::span<const std::uint8_t>) override {}
    void ListenStateChanged(int) override {}
    void ShowMessage(std::string_view) override {}

    void OnWrite(int id, std::span<const std::uint8_t> bytes) {
        const ClientRecord* record = RecordOf(id);
        Check(record != nullptr);
        if (sendingSlot_ < 0) {
            // The server's own writes, only to the connection it is handling: a registration
            // reply, or what the connection's page sent during the attach gap.
            Check(id == handling_);
            Check(bytes.size() == kRegistrationReplySize ||
                  (record->registered == 1 && record->pageWindow->CurrentRecord() == record));
            return;
        }
        const DevicePage& page = pages_.at(static_cast<std::size_t>(sendingSlot_))->page;
        Check(page.CurrentRecord() == record && record->pageWindow == &page);
        const auto bound = binding_.find(id);
        Check(bound == binding_.end() || bound->second == sendingSlot_);
    }

    void OnSend(int slot, std::span<const std::uint8_t> envelope, ClientRecord* record) {
        sendingSlot_ = slot;
        host_.SendToDevice(envelope, record);
        sendingSlot_ = -1;
    }

    void OnValidReply(ClientRecord* record) { host_.NoteValidReply(record); }

    void OnGone(int id) {
        connections_.erase(id);
        binding_.erase(id);
    }

  private:
    void Step(FuzzedDataProvider& input) {
        switch (input.ConsumeIntegralInRange(0, 10)) {
            case 0:
                Accept();
                break;
            case 1:
                WithConnection(input, [&](int id) { host_.CloseClient(connections_.at(id)); });
                break;
            case 2:
                Deliver(input, input.ConsumeBytes<std::uint8_t>(ChunkSize(input)));
                break;
            case 3:
                Deliver(input, Registration(input));
                break;
            case 4:
                Deliver(input, ModuleReply(input));
                break;
            case 5:
                Deliver(input, ModbusReply(input));
                break;
            case 6:
                CompleteOne(input);
                break;
            case 7:
                PageAction(input, [](FakePage& page) { page.timer.Fire(page.page); });
                break;
            case 8: {
                const auto relay = input.ConsumeIntegralInRange<std::size_t>(0, 13);
                PageAction(input, [relay](FakePage& page) { page.page.OnRelayButton(relay); });
                break;
            }
            case 9:
                // Stopping closes every connection; pages may change, no reply is written.
                host_.ToggleListening(20000);
                Check(connections_.empty() || host_.IsListening());
                break;
            default:
                WithConnection(input, [&](int id) { host_.ReceiveFailed(connections_.at(id)); });
                break;
        }
    }

    void Accept() {
        if (!host_.IsListening() || connections_.size() >= kMaxConnections) {
            return;
        }
        const int id = nextId_++;
        auto connection = std::make_unique<FuzzConnection>(*this, id);
        connections_[id] = connection.get();
        host_.AcceptClient(std::move(connection));
    }

    template <typename Action>
    void WithConnection(FuzzedDataProvider& input, Action action) {
        if (connections_.empty()) {
            return;
        }
        auto it = connections_.begin();
        std::advance(it, input.ConsumeIntegralInRange<std::size_t>(0, connections_.size() - 1));
        const int id = it->first;
        Touching(id, [&] { action(id); });
    }

    // Runs what one connection causes; afterwards no page but its own may differ.
    template <typename Action>
    void Touching(int id, Action action) {
        const std::vector<PageState> before = States();
        const auto bound = binding_.find(id);
        int own = bound == binding_.end() ? -1 : bound->second;
        handling_ = id;
        action();
        handling_ = -1;
        if (const ClientRecord* record = RecordOf(id); record != nullptr && record->registered) {
            // Bound once, at registration, for the connection's whole life.
            const int slot = record->pageWindow->Slot();
            Check(own < 0 || own == slot);
            own = slot;
            binding_[id] = slot;
        }
        const std::vector<PageState> after = States();
        for (std::size_t slot = 0; slot < after.size(); ++slot) {
            Check(static_cast<int>(slot) == own || after[slot] == before[slot]);
        }
    }

    void Deliver(FuzzedDataProvider& input, const Bytes& chunk) {
        if (connections_.empty()) {
            return;
        }
        auto it = connections_.begin();
        std::advance(it, input.ConsumeIntegralInRange<std::size_t>(0, connections_.size() - 1));
        // A paused connection is not read, as on a real socket.
        if (it->second->Paused()) {
            return;
        }
        const FuzzConnection* connection = it->second;
        Touching(it->first, [&] { host_.ReceiveFromClient(connection, chunk); });
    }

    void CompleteOne(FuzzedDataProvider& input) {
        if (timer_.pending.empty()) {
            return;
        }
        auto it = timer_.pending.begin();
        std::advance(it, input.ConsumeIntegralInRange<std::size_t>(0, timer_.pending.size() - 1));
        ClientRecord* record = it->first;
        timer_.pending.erase(it);
        const int id = IdOf(record);
        Check(id >= 0);
        Touching(id, [&] { host_.CompleteRegistration(record); });
    }

    template <typename Action>
    void PageAction(FuzzedDataProvider& input, Action action) {
        const auto slot = input.ConsumeIntegralInRange<std::size_t>(0, kSlotCount - 1);
        const std::vector<PageState> before = States();
        action(*pages_.at(slot));
        const std::vector<PageState> after = States();
        for (std::size_t other = 0; other < after.size(); ++other) {
            Check(other == slot || after[other] == before[other]);
        }
    }

    static std::size_t ChunkSize(FuzzedDataProvider& input) {
        // The lengths a page tells apart, and some on either side of them.
        switch (input.ConsumeIntegralInRange(0, 3)) {
            case 0:
                return kModuleReplySize;
            case 1:
                return kModuleReplySize + 1;
            case 2:
                return DeviceTabHost::kMaxChunk;
            default:
                return input.ConsumeIntegralInRange<std::size_t>(0, 64);
        }
    }

    static Bytes Registration(FuzzedDataProvider& input) {
        // Few names, so that terminals meet on the same slot; and a slot's default name.
        static const std::vector<Bytes> kNames = {
            {'A'}, {'B'}, {'C'}, {}, DefaultSlotName(2), {0xB1, 0xC3, 0xD5, 0xBE}};
        const Bytes name =
            input.ConsumeBool()
                ? kNames[input.ConsumeIntegralInRange<std::size_t>(0, kNames.size() - 1)]
                : input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 24));
        Bytes packet = BuildRegistrationPacket(name);
        switch (input.ConsumeIntegralInRange(0, 3)) {
            case 0:
                packet.resize(input.ConsumeIntegralInRange<std::size_t>(0, packet.size()));
                break;
            case 1: {
                const Bytes tail = input.ConsumeBytes<std::uint8_t>(16);
                packet.insert(packet.end(), tail.begin(), tail.end());
                break;
            }
            case 2:
                packet[input.ConsumeIntegralInRange<std::size_t>(0, packet.size() - 1)] ^=
                    input.ConsumeIntegral<std::uint8_t>();
                break;
            default:
                break;
        }
        return packet;
    }

    static Bytes ModuleReply(FuzzedDataProvider& input) {
        static const std::vector<std::string> kModels = {"CV4B-SIM", "CV6A-SIM", "CV6C-SIM",
                                                         "CVXX-SIM"};
        const auto reply =
            BuildModuleReply(kModels[input.ConsumeIntegralInRange<std::size_t>(0, 3)]);
        Bytes bytes(reply.begin(), reply.end());
        if (input.ConsumeBool()) {
            bytes[input.ConsumeIntegralInRange<std::size_t>(0, bytes.size() - 1)] ^= 0x5A;
        }
        return bytes;
    }

    static Bytes ModbusReply(FuzzedDataProvider& input) {
        Bytes frame = {kSlaveAddress};
        if (input.ConsumeBool()) {
            frame.insert(frame.end(),
                         {kWriteSingleCoil, 0x00, input.ConsumeIntegralInRange<std::uint8_t>(0, 13),
                          input.ConsumeBool() ? std::uint8_t{0xFF} : std::uint8_t{0}, 0x00});
        } else {
            static const std::vector<std::size_t> kRegisters = {10, 12, 18};
            const std::size_t count =
                input.ConsumeBool() ? kRegisters[input.ConsumeIntegralInRange<std::size_t>(0, 2)]
                                    : input.ConsumeIntegralInRange<std::size_t>(0, 20);
            frame.push_back(kReadInputRegisters);
            frame.push_back(static_cast<std::uint8_t>(2 * count));
            const Bytes registers = input.ConsumeBytes<std::uint8_t>(2 * count);
            frame.insert(frame.end(), registers.begin(), registers.end());
        }
        const std::string text = EncodeAsciiFrame(frame, input.ConsumeBool());
        return {text.begin(), text.end()};
    }

    const ClientRecord* RecordOf(int id) const {
        const auto it = connections_.find(id);
        if (it == connections_.end()) {
            return nullptr;
        }
        for (const auto& record : host_.Clients()) {
            if (record->socket.get() == it->second) {
                return record.get();
            }
        }
        return nullptr;
    }

    int IdOf(const ClientRecord* record) const {
        for (const auto& [id, connection] : connections_) {
            if (record->socket.get() == connection) {
                return id;
            }
        }
        return -1;
    }

    std::vector<PageState> States() const {
        std::vector<PageState> states;
        for (std::size_t slot = 0; slot < pages_.size(); ++slot) {
            const FakePage& fake = *pages_[slot];
            const DevicePage& page = fake.page;
            states.push_back(
                {page.CurrentRecord(), page.ChannelCount(), tables_.linkFlags[slot],
                 tables_.deviceNames[slot], senders_[slot]->Sends(), fake.view.statusTexts.size(),
                 fake.view.rowUpdates, fake.view.relayUpdates, fake.view.inputLampUpdates,
                 fake.timer.starts.size(), fake.timer.stops, page.Chart().PointCounter(),
                 page.Registers().registerCount, page.Registers().signalValue});
        }
        return states;
    }

    // Every page's connection is a live, registered record bound to that page.
    void CheckPages() const {
        for (std::size_t slot = 0; slot < pages_.size(); ++slot) {
            const DevicePage& page = pages_[slot]->page;
            const ClientRecord* record = page.CurrentRecord();
            Check((record != nullptr) == (tables_.linkFlags[slot] == 1));
            if (record == nullptr) {
                continue;
            }
            const bool listed = std::any_of(host_.Clients().begin(), host_.Clients().end(),
                                            [&](const auto& r) { return r.get() == record; });
            Check(listed && record->registered == 1 && record->pageWindow == &page);
        }
    }

    SlotTables tables_;
    FakeClock clock_;
    FakeListener listener_;
    FakeRegistrationTimer timer_;
    std::vector<std::unique_ptr<PageSender>> senders_;
    std::vector<std::unique_ptr<FakePage>> pages_;
    std::map<int, FuzzConnection*> connections_;
    // The slot each connection registered onto; it never changes while the connection lives.
    std::map<int, int> binding_;
    int nextId_ = 0;
    int sendingSlot_ = -1;
    int handling_ = -1;
    // Declared last: destroying it closes the connections, which report to the members above.
    DeviceTabHost host_;
};

FuzzConnection::~FuzzConnection() {
    harness_.OnGone(id_);
}

void FuzzConnection::Write(std::span<const std::uint8_t> bytes) {
    Check(!closed_);
    harness_.OnWrite(id_, bytes);
}

void PageSender::SendToDevice(std::span<const std::uint8_t> envelope, ClientRecord* record) {
    ++sends_;
    harness_.OnSend(slot_, envelope, record);
}

void PageSender::NoteValidReply(ClientRecord* record) {
    harness_.OnValidReply(record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    Harness harness;
    harness.Run(input);
    return 0;
}
