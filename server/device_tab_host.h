#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <span>
#include <vector>

#include "device/acquisition_sink.h"
#include "device/page_ports.h"
#include "device/slot_tables.h"
#include "profile/profile.h"
#include "protocol/registration.h"
#include "server/client_record.h"
#include "server/host_ports.h"
#include "server/refusal_summary.h"

namespace corvelle {

// What became of a request to switch a relay.
enum class RelayRequest : std::uint8_t {
    // No terminal of that name is attached.
    NotLinked,
    // The relay already is in that state, and no switch is on its way.
    AlreadySo,
    // The frame went to the terminal; its echo confirms it.
    Sent,
};

// What the connection server has done since it was created: plain counts on the UI thread, for
// whoever reports on the service.
struct ConnectionCounts {
    // Upper bounds of the registration time classes: from accept to a valid registration.
    static constexpr std::array<std::uint32_t, 8> kRegistrationBoundsMs{10,  50,   100,  250,
                                                                        500, 1000, 5000, 30000};
    std::uint64_t accepted = 0;
    // Connections closed, or registrations refused, by reason (each connection once).
    std::array<std::uint64_t, kCloseReasonCount> refused{};
    // Terminals that registered over their own older connection.
    std::uint64_t takeovers = 0;
    std::uint64_t silentClosed = 0;
    // Registrations by the first class whose bound their time is within; the last one beyond
    // every bound. And the sum of their times.
    std::array<std::uint64_t, kRegistrationBoundsMs.size() + 1> registrations{};
    std::uint64_t registrationMsSum = 0;
};

// The connection server and tab host behaviour: the listening state, the registry of
// accepted connections, registration of terminals onto slots, routing of bytes between
// connections and pages, and the tab selection rules.
class DeviceTabHost final : public DeviceSender {
  public:
    using ClientList = std::list<std::unique_ptr<ClientRecord>>;

    // Gap between the module query an attached page sends and the registration reply.
    static constexpr std::uint32_t kAttachGapMs = 300;
    // Largest chunk handed to a page or parsed as a registration.
    static constexpr std::size_t kMaxChunk = 8192;
    // What a page may send during the attach gap; far more than polls and clicks fill.
    static constexpr std::size_t kMaxHeldBytes = 4096;

    DeviceTabHost(SlotTables& tables, TabHostView& view, Listener& listener,
                  RegistrationTimer& registrationTimer, const Clock& clock);
    ~DeviceTabHost() override;
    DeviceTabHost(const DeviceTabHost&) = delete;
    DeviceTabHost& operator=(const DeviceTabHost&) = delete;

    // Creates one slot per entry of the tables: tabs, default names and pages; tab 0 selected.
    void Initialise();

    // Where the host and every page hand their readings and events; nullptr: nowhere.
    void SetSink(AcquisitionSink* sink);
    void SetLimits(const ConnectionLimits& limits) { limits_ = limits; }
    // nullptr: no trace.
    void SetFrameTap(FrameTap* tap) { tap_ = tap; }
    // Where the pages find their terminals' profiles from now on (nullptr: nowhere); every slot
    // looks its name up again at once, and again whenever a terminal gives it a new name.
    void SetProfiles(const ProfileLookup* profiles);

    // The listen button: start or stop by the own state.
    void ToggleListening(int port);
    bool IsListening() const { return listening_ != 0; }

    // A connection was accepted at nowMs (monotonic); it stays anonymous until it registers.
    // Beyond the limit of unregistered connections, the oldest of them is closed.
    void AcceptClient(std::unique_ptr<Connection> connection, std::uint64_t nowMs = 0);
    // A connection from peer was closed at nowMs (monotonic), before anything was read.
    void ReportRefusedConnection(std::string_view peer, CloseReason reason, std::uint64_t nowMs);
    // Runs now and then (nowMs monotonic): closes the unregistered connections whose
    // registration time has run out and the registered ones silent for too long, and reports
    // the refusals counted in the last minute.
    void Sweep(std::uint64_t nowMs);
    // The peer closed the connection or it failed.
    void CloseClient(const Connection* connection);
    // One chunk (at most kMaxChunk bytes) read from a connection at nowMs (monotonic).
    void ReceiveFromClient(const Connection* connection, std::span<const std::uint8_t> chunk,
                           std::uint64_t nowMs = 0);
    // A read from the connection failed: nothing is delivered.
    void ReceiveFailed(const Connection* connection);
    // The console ends a connection of its own accord; a registered one detaches its page.
    void CloseByConsole(const Connection* connection, CloseReason reason);
    // The attach gap of a registration has passed.
    void CompleteRegistration(ClientRecord* record);

    // Pages hand their send envelopes here.
    void SendToDevice(std::span<const std::uint8_t> envelope, ClientRecord* record) override;
    void NoteValidReply(ClientRecord* record) override;
    void SendToClient(std::span<const std::uint8_t> bytes, const ClientRecord* target,
                      bool onlyRegistered);

    // The operator selected a tab on the tab control.
    void OnTabSelected(int index);
    // The device tree asks for a slot's page.
    void OnSelectPage(std::intptr_t slot);
    void SetDeviceTabName(int slot, std::span<const std::uint8_t> name);

    // Relay 1..12 of the terminal of that name to state on, with the frame its page's button
    // would send for it.
    RelayRequest RequestRelay(std::span<const std::uint8_t> name, std::size_t relay, bool on);

    // Closes every connection without telling the pages, then the listening socket.
    void Shutdown();

    std::size_t ClientCount() const { return clients_.size(); }
    const ClientList& Clients() const { return clients_; }
    int CurrentTab() const { return currentTab_; }
    const ConnectionCounts& Counts() const { return counts_; }

  private:
    // How long a registered connection may go without a valid reply; silentTimeoutMs is set.
    std::uint64_t SilentLimitMs() const;
    void AddDevicePage();
    ClientList::iterator FindClient(const Connection* connection);
    void Register(ClientRecord& record, std::span<const std::uint8_t> chunk, std::uint64_t nowMs);
    void CountRegistration(std::uint64_t milliseconds);
    void Refuse(ClientRecord& record, RegistrationStatus status,
                std::span<const std::uint8_t> name = {});
    // Closes an unregistered connection for reason, counted in the refusal summary.
    void RefuseConnection(ClientList::iterator it, CloseReason reason, std::uint64_t nowMs);
    void Report(const RefusalSummary::Report& report);
    // Removes and closes the record; detaches its page when asked to and it is registered.
    void DropRecord(ClientList::iterator it, bool detachPage);
    // A registration dropped in its attach gap still gives the slot its name.
    void ApplyDroppedName(ClientRecord& record);
    void Emit(EventKind kind, const ClientRecord* record, std::int64_t value = 0,
              CloseReason reason = CloseReason::TakenOver);
    void Write(ClientRecord& record, std::span<const std::uint8_t> bytes);
    void ApplyProfile(std::size_t slot);

    SlotTables& tables_;
    TabHostView& view_;
    Listener& listener_;
    RegistrationTimer& registrationTimer_;
    const Clock& clock_;
    AcquisitionSink* sink_ = nullptr;
    FrameTap* tap_ = nullptr;
    const ProfileLookup* profiles_ = nullptr;
    ConnectionLimits limits_;
    RefusalSummary refusals_;
    ConnectionCounts counts_;
    // The latest monotonic time the host was told, for what happens between sweeps.
    std::uint64_t nowMs_ = 0;
    std::vector<DevicePage*> pages_;
    ClientList clients_;
    int pageCounter_ = 0;
    int currentTab_ = 0;
    std::uint8_t listening_ = 0;
};

// The default text of a slot ("未连接设备" and the slot number from 1), as GB2312 bytes
// like every device name.
std::vector<std::uint8_t> DefaultSlotName(int slot);

}  // namespace corvelle
