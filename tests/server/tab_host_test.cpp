#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/modbus_ascii.h"
#include "protocol/module_frames.h"
#include "protocol/registration.h"
#include "tests/server/host_fakes.h"

namespace corvelle {
namespace {

using test::Bytes;
using test::FakeConnection;
using test::ToBytes;

Bytes Reply(RegistrationStatus status) {
    const auto reply = RegistrationReply(status);
    return {reply.begin(), reply.end()};
}

const Bytes kModuleQueryBytes(ModuleQuery.begin(), ModuleQuery.end());

class TabHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        view.sender = &host;
        host.Initialise();
        host.ToggleListening(20000);
    }

    FakeConnection* Accept() {
        auto connection = std::make_unique<FakeConnection>();
        FakeConnection* raw = connection.get();
        host.AcceptClient(std::move(connection));
        return raw;
    }

    void Send(FakeConnection* connection, const Bytes& bytes) {
        host.ReceiveFromClient(connection, bytes);
    }

    // Registers under name and lets the attach gap pass; returns the connection.
    FakeConnection* Register(std::string_view name) {
        FakeConnection* connection = Accept();
        Send(connection, BuildRegistrationPacket(ToBytes(name)));
        timer.FireAll(host);
        return connection;
    }

    const ClientRecord* RecordOf(const FakeConnection* connection) const {
        for (const auto& record : host.Clients()) {
            if (record->socket.get() == connection) {
                return record.get();
            }
        }
        return nullptr;
    }

    int SlotOf(const FakeConnection* connection) const {
        const ClientRecord* record = RecordOf(connection);
        return record != nullptr && record->registered == 1 ? record->pageWindow->Slot() : -1;
    }

    SlotTables tables;
    test::FakeHostView view{tables};
    test::FakeListener listener;
    test::FakeRegistrationTimer timer;
    DeviceTabHost host{tables, view, listener, timer, view.clock};
};

TEST_F(TabHostTest, StartUpState) {
    ASSERT_EQ(view.tabs.size(), kSlotCount);
    for (std::size_t i = 0; i < kSlotCount; ++i) {
        Bytes expected = {0xCE, 0xB4, 0xC1, 0xAC, 0xBD, 0xD3, 0xC9, 0xE8, 0xB1, 0xB8};
        expected.push_back(static_cast<std::uint8_t>('1' + i));
        EXPECT_EQ(view.tabs[i], expected);
        EXPECT_EQ(tables.deviceNames[i], expected);
        EXPECT_EQ(tables.linkFlags[i], 0);
        EXPECT_EQ(tables.pageWindows[i], &view.Page(static_cast<int>(i)).page);
    }
    EXPECT_EQ(view.selectedTab, 0);
    EXPECT_EQ(view.shownPage, 0);
    EXPECT_EQ(host.CurrentTab(), 0);
    EXPECT_EQ(tables.acquisitionIntervalMs, 3000U);
}

TEST_F(TabHostTest, ListeningToggles) {
    EXPECT_TRUE(host.IsListening());
    host.ToggleListening(1);  // the port is not used to stop
    EXPECT_FALSE(host.IsListening());
    EXPECT_EQ(view.listenStates, (std::vector<int>{1, 0}));
    EXPECT_EQ(listener.ports, (std::vector<std::uint16_t>{20000}));
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(TabHostTest, FailedStartReportsThePortAndCanBeRetried) {
    host.ToggleListening(0);
    listener.failing = true;
    host.ToggleListening(20001);
    EXPECT_FALSE(host.IsListening());
    ASSERT_EQ(view.messages.size(), 1U);
    EXPECT_EQ(view.messages[0], "socket端口：20001被占用，请选择其他端口");
    listener.failing = false;
    host.ToggleListening(20001);
    EXPECT_TRUE(host.IsListening());
    EXPECT_EQ(view.listenStates, (std::vector<int>{1, 0, 0, 1}));
}

TEST_F(TabHostTest, PortsOutsideTheValidRangeAreRefused) {
    host.ToggleListening(0);
    for (const int port : {0, -1, 65536, 70000}) {
        view.messages.clear();
        host.ToggleListening(port);
        EXPECT_FALSE(host.IsListening()) << port;
        EXPECT_EQ(view.listenStates.back(), 0);
        ASSERT_EQ(view.messages.size(), 1U);
        EXPECT_NE(view.messages[0].find(std::to_string(port)), std::string::npos);
        EXPECT_NE(view.messages[0].find("1-65535"), std::string::npos);
    }
    EXPECT_EQ(listener.ports, (std::vector<std::uint16_t>{20000}));
}

TEST_F(TabHostTest, RegistrationSendsQueryThenReplyAfterTheGap) {
    FakeConnection* terminal = Accept();
    Send(terminal, BuildRegistrationPacket(ToBytes("PUMP")));
    // Attached at once: the page's module query is out, the reply waits for the gap.
    ASSERT_EQ(terminal->writes.size(), 1U);
    EXPECT_EQ(terminal->writes[0], kModuleQueryBytes);
    EXPECT_TRUE(terminal->readingPaused);
    EXPECT_EQ(tables.linkFlags[0], 1);
    EXPECT_EQ(timer.pending.begin()->second, DeviceTabHost::kAttachGapMs);
    EXPECT_TRUE(view.renamed.empty());

    timer.FireAll(host);
    ASSERT_EQ(terminal->writes.size(), 2U);
    EXPECT_EQ(terminal->writes[1], Reply(RegistrationStatus::Accepted));
    EXPECT_FALSE(terminal->readingPaused);
    EXPECT_EQ(view.tabs[0], ToBytes("PUMP"));
    EXPECT_EQ(tables.deviceNames[0], ToBytes("PUMP"));
    ASSERT_EQ(view.renamed.size(), 1U);
    EXPECT_EQ(view.renamed[0], std::make_pair(0, ToBytes("PUMP")));
    EXPECT_EQ(view.events, (std::vector<std::string>{"tab 0", "renamed 0"}));
}

TEST_F(TabHostTest, InvalidPacketsAreRejectedAndMayBeRetried) {
    FakeConnection* terminal = Accept();
    const Bytes packet = BuildRegistrationPacket(ToBytes("PUMP"));
    // n + 6 bytes: one short of the shortest acceptable read.
    Send(terminal, Bytes(packet.begin(), packet.begin() + 10));
    Bytes corrupted = packet;
    corrupted[5] ^= 1;
    Send(terminal, corrupted);
    EXPECT_EQ(terminal->writes, (std::vector<Bytes>{Reply(RegistrationStatus::Rejected),
                                                    Reply(RegistrationStatus::Rejected)}));
    EXPECT_EQ(SlotOf(terminal), -1);
    EXPECT_EQ(tables.linkFlags, std::vector<std::uint8_t>(kSlotCount));

    // n + 7 bytes, then stray bytes after the packet: accepted, the rest dropped.
    Bytes withTail(packet.begin(), packet.begin() + 11);
    Send(terminal, withTail);
    EXPECT_EQ(SlotOf(terminal), 0);
    FakeConnection* second = Accept();
    Bytes trailing = BuildRegistrationPacket(ToBytes("FAN"));
    trailing.insert(trailing.end(), {':', '0', '1'});
    Send(second, trailing);
    EXPECT_EQ(SlotOf(second), 1);
}

TEST_F(TabHostTest, SlotChoice) {
    FakeConnection* a = Register("A");
    FakeConnection* b = Register("B");
    Register("C");
    EXPECT_EQ(SlotOf(a), 0);
    EXPECT_EQ(SlotOf(b), 1);

    // The terminal of slot 1 leaves; a new name takes the lowest free slot ...
    host.CloseClient(b);
    EXPECT_EQ(tables.linkFlags[1], 0);
    EXPECT_EQ(view.tabs[1], ToBytes("B"));  // the slot keeps its name
    // ... but a returning name gets its own slot back even though slot 1 is free.
    FakeConnection* back = Register("C");
    EXPECT_EQ(SlotOf(back), 2);
    FakeConnection* d = Register("D");
    EXPECT_EQ(SlotOf(d), 1);

    // A name equal to a slot's default text binds that slot.
    EXPECT_EQ(tables.deviceNames[3], DefaultSlotName(3));
    FakeConnection* byDefault = Accept();
    Send(byDefault, BuildRegistrationPacket(DefaultSlotName(3)));
    EXPECT_EQ(SlotOf(byDefault), 3);

    // An empty name is a name like any other.
    FakeConnection* empty = Register("");
    EXPECT_EQ(SlotOf(empty), 4);
    EXPECT_TRUE(view.tabs[4].empty());
}

// A terminal reconnecting under its name while its old connection is still open: the console
// closes the old one, so that the page never takes bytes from a connection it left.
TEST_F(TabHostTest, ANewerConnectionOfTheSameNameTakesTheSlotOver) {
    FakeConnection* older = Register("TWIN");
    bool olderGone = false;
    older->destroyed = &olderGone;
    FakeConnection* newer = Register("TWIN");
    test::FakePage& page = view.Page(0);
    // Closed and let go; from here on the older pointer is only an identity.
    EXPECT_TRUE(olderGone);
    EXPECT_EQ(RecordOf(older), nullptr);
    EXPECT_EQ(host.ClientCount(), 1U);
    EXPECT_EQ(page.page.CurrentRecord(), RecordOf(newer));
    EXPECT_EQ(tables.linkFlags[0], 1);

    // The newer one is identified and polled.
    const auto module = BuildModuleReply("BX6C");
    Send(newer, Bytes(module.begin(), module.end()));
    page.timer.Fire(page.page);
    EXPECT_EQ(newer->writes.back(), ToBytes(":0A0400000012E0\r\n"));

    // Bytes and the close of the older connection reach nothing any more.
    Send(older, Bytes(module.begin(), module.end()));
    host.CloseClient(older);
    host.CloseClient(newer);
    EXPECT_EQ(tables.linkFlags[0], 0);
    EXPECT_EQ(page.page.CurrentRecord(), nullptr);
    EXPECT_EQ(page.view.statusTexts.back(), "24-03-05 07:08:09 已断开");
    EXPECT_FALSE(page.timer.period);
}

TEST_F(TabHostTest, NoFreeSlot) {
    std::vector<FakeConnection*> terminals;
    terminals.reserve(8);
    for (int i = 0; i < 8; ++i) {
        terminals.push_back(Register("T" + std::to_string(i)));
    }
    FakeConnection* late = Accept();
    Send(late, BuildRegistrationPacket(ToBytes("LATE")));
    EXPECT_EQ(late->writes, std::vector<Bytes>{Reply(RegistrationStatus::NoFreeSlot)});
    EXPECT_FALSE(late->closed);
    EXPECT_EQ(SlotOf(late), -1);

    // A known name is accepted even now.
    FakeConnection* known = Register("T5");
    EXPECT_EQ(SlotOf(known), 5);

    host.CloseClient(terminals[6]);
    Send(late, BuildRegistrationPacket(ToBytes("LATE")));
    timer.FireAll(host);
    EXPECT_EQ(SlotOf(late), 6);
    EXPECT_EQ(late->writes.back(), Reply(RegistrationStatus::Accepted));
}

TEST_F(TabHostTest, RegisteredConnectionBytesGoToThePageOnly) {
    FakeConnection* terminal = Register("PUMP");
    const std::size_t before = terminal->writes.size();
    // A second registration packet is ordinary data now: no reply.
    Send(terminal, BuildRegistrationPacket(ToBytes("OTHER")));
    EXPECT_EQ(terminal->writes.size(), before);
    // A module reply reaches the page, which starts polling.
    const auto reply = BuildModuleReply("BX6C");
    Send(terminal, Bytes(reply.begin(), reply.end()));
    EXPECT_EQ(view.Page(0).page.ChannelCount(), 12);
    EXPECT_EQ(view.Page(0).timer.period, 10U);
}

// No reply goes out, but the slot shows the name it is now bound to.
TEST_F(TabHostTest, PendingRegistrationIsDroppedWhenItsConnectionGoes) {
    FakeConnection* closing = Accept();
    Send(closing, BuildRegistrationPacket(ToBytes("GONE")));
    host.CloseClient(closing);
    EXPECT_TRUE(timer.pending.empty());
    EXPECT_EQ(tables.linkFlags[0], 0);
    EXPECT_EQ(view.tabs[0], ToBytes("GONE"));

    FakeConnection* stopping = Accept();
    Send(stopping, BuildRegistrationPacket(ToBytes("STOP")));
    EXPECT_EQ(stopping->writes.size(), 1U);  // the module query only
    host.ToggleListening(0);
    EXPECT_TRUE(timer.pending.empty());
    EXPECT_EQ(view.tabs[0], ToBytes("STOP"));
    EXPECT_EQ(view.renamed,
              (std::vector<std::pair<int, Bytes>>{{0, ToBytes("GONE")}, {0, ToBytes("STOP")}}));
}

// A poll tick armed by the slot's previous connection and a relay click, both inside the gap,
// reach the terminal after its registration reply.
TEST_F(TabHostTest, PageSendsInsideTheAttachGapFollowTheReply) {
    FakeConnection* first = Register("PUMP");
    const auto module = BuildModuleReply("BX4B");
    Send(first, Bytes(module.begin(), module.end()));
    host.CloseClient(first);
    test::FakePage& page = view.Page(0);

    FakeConnection* again = Accept();
    Send(again, BuildRegistrationPacket(ToBytes("PUMP")));
    page.page.OnTimer(DevicePage::kPollTimerId);
    page.page.OnRelayButton(2);
    ASSERT_EQ(again->writes.size(), 1U);
    timer.FireAll(host);
    Bytes wire;
    for (const Bytes& write : again->writes) {
        wire.insert(wire.end(), write.begin(), write.end());
    }
    Bytes expected = kModuleQueryBytes;
    for (const Bytes& next :
         {Reply(RegistrationStatus::Accepted), kModuleQueryBytes, ToBytes(":0A050001FF00F1\r\n")}) {
        expected.insert(expected.end(), next.begin(), next.end());
    }
    EXPECT_EQ(wire, expected);
}

TEST_F(TabHostTest, ClosingAnUnregisteredConnectionTellsNoPage) {
    FakeConnection* anonymous = Accept();
    EXPECT_EQ(host.ClientCount(), 1U);
    host.CloseClient(anonymous);
    EXPECT_EQ(host.ClientCount(), 0U);
    for (const auto& page : view.pages) {
        EXPECT_EQ(page->view.statusTexts.size(), 1U);  // only the initial text
    }
}

TEST_F(TabHostTest, StoppingClosesEveryConnectionAndDetachesOnlyRegisteredPages) {
    tables.deviceNames[3] = ToBytes("SLOT4");
    FakeConnection* registered = Register("SLOT4");
    Accept();
    ASSERT_EQ(SlotOf(registered), 3);
    host.ToggleListening(20000);
    EXPECT_EQ(host.ClientCount(), 0U);
    EXPECT_EQ(tables.linkFlags[3], 0);
    for (int slot = 0; slot < 8; ++slot) {
        const auto& texts = view.Page(slot).view.statusTexts;
        EXPECT_EQ(texts.size(), slot == 3 ? 2U : 1U) << slot;
    }
    EXPECT_EQ(view.Page(3).view.statusTexts.back(), "24-03-05 07:08:09 已断开");
}

TEST_F(TabHostTest, SendRules) {
    FakeConnection* anonymous = Accept();
    FakeConnection* terminal = Register("PUMP");
    ClientRecord* record = const_cast<ClientRecord*>(RecordOf(terminal));
    ClientRecord* unregistered = const_cast<ClientRecord*>(RecordOf(anonymous));
    const std::size_t before = terminal->writes.size();

    const Bytes envelope = {0x00, 0x03, 'a', 'b', 'c'};
    host.SendToDevice(envelope, unregistered);
    host.SendToDevice(envelope, nullptr);
    EXPECT_TRUE(anonymous->writes.empty());

    // A zero length sends up to the first zero byte; nothing when that is the first byte.
    host.SendToDevice(Bytes{0x00, 0x00, 'x', 'y', 0x00, 'z'}, record);
    host.SendToDevice(Bytes{0x00, 0x00, 0x00, 'y'}, record);
    // A length beyond the envelope sends only what is there.
    host.SendToDevice(Bytes{0x00, 0x09, 'q'}, record);
    ASSERT_EQ(terminal->writes.size(), before + 2);
    EXPECT_EQ(terminal->writes[before], ToBytes("xy"));
    EXPECT_EQ(terminal->writes[before + 1], ToBytes("q"));

    // After its connection closed, the page's sends reach no other terminal.
    FakeConnection* other = Register("FAN");
    const std::size_t otherBefore = other->writes.size();
    host.CloseClient(terminal);
    view.Page(0).page.OnRelayButton(1);
    host.SendToDevice(envelope, record);
    EXPECT_EQ(other->writes.size(), otherBefore);
}

TEST_F(TabHostTest, SelectionRules) {
    host.OnSelectPage(7);
    EXPECT_EQ(view.selectedTab, 7);
    EXPECT_EQ(view.shownPage, 7);
    host.OnSelectPage(8);
    host.OnSelectPage(-1);
    EXPECT_EQ(view.selectedTab, 7);
    EXPECT_TRUE(view.selectedNotices.empty());

    host.OnTabSelected(5);
    EXPECT_EQ(view.shownPage, 5);
    EXPECT_EQ(view.selectedNotices, std::vector<int>{5});

    // Operator picks tab 2, then page 6 through the tree; a rename brings tab 2 back.
    host.OnTabSelected(2);
    host.OnSelectPage(6);
    Register("PUMP");
    EXPECT_EQ(view.tabs[0], ToBytes("PUMP"));
    EXPECT_EQ(view.selectedTab, 2);
    EXPECT_EQ(view.shownPage, 2);
}

TEST_F(TabHostTest, EventsAndReadingsReachTheSink) {
    test::RecordingSink sink;
    host.SetSink(&sink);
    FakeConnection* older = Register("PUMP");
    Send(Accept(), {0x55});
    const auto module = BuildModuleReply("BX4B");
    Send(older, Bytes(module.begin(), module.end()));
    test::FakePage& page = view.Page(0);
    page.timer.Fire(page.page);
    Send(older, ToBytes(EncodeAsciiFrame(std::vector<std::uint8_t>(
                    {0x0A, 0x04, 20,   0,    7,    0x05, 0, 0,    0,    0x09, 0xC4, 0xFD,
                     0xF3, 0x04, 0xB5, 0xFB, 0x2E, 0,    5, 0x7F, 0xFF, 0x80, 0x00}))));
    Send(older, ToBytes(EncodeAsciiFrame(std::vector<std::uint8_t>({0x0A, 0x05, 0, 2, 0, 0}))));
    Register("PUMP");
    host.ToggleListening(0);
    EXPECT_EQ(sink.events,
              (std::vector<std::string>{
                  "0 connected", "1 registered into slot 1", "0 connected",
                  "0 registration refused: not a valid registration (status 0)",
                  "1 identified with 4 channels", "1 relay 3 off", "0 connected",
                  "1 registered into slot 1",
                  "1 closed by the console: taken over by a newer connection of the same name",
                  "1 detached"}));
    ASSERT_EQ(sink.readings.size(), 1U);
    const Reading& reading = sink.readings[0];
    EXPECT_EQ(reading.slot, 1);
    EXPECT_EQ(reading.name, ToBytes("PUMP"));
    EXPECT_EQ(reading.channelCount, 4);
    EXPECT_EQ(reading.channelMillivolts[0], -1234);
    EXPECT_EQ(reading.channelMillivolts[3], -32768);
    EXPECT_EQ(reading.relays[0], 1);
    EXPECT_EQ(reading.relays[2], 1);
    EXPECT_EQ(reading.temperatureCentidegrees, -525);
    EXPECT_EQ(reading.signalValue, 7);
}

// The limits of a server exposed to a network never touch registered terminals that answer,
// and a flood of refused connections costs one report per address and minute.
TEST_F(TabHostTest, LimitsCloseIdleAndSilentConnectionsAndRefusalsAreSummed) {
    test::RecordingSink sink;
    host.SetSink(&sink);
    host.SetLimits({.registrationTimeoutMs = 1000, .maxUnregistered = 2, .silentTimeoutMs = 5000});
    const auto module = BuildModuleReply("BX4B");
    const Bytes moduleReply(module.begin(), module.end());
    FakeConnection* answering = Register("PUMP");
    Send(answering, moduleReply);
    FakeConnection* silent = Register("MUTE");
    auto accept = [&](std::uint64_t atMs) {
        auto connection = std::make_unique<FakeConnection>();
        FakeConnection* raw = connection.get();
        host.AcceptClient(std::move(connection), atMs);
        return raw;
    };
    for (std::uint64_t i = 0; i < 300; ++i) {
        accept(100 + i);
    }
    EXPECT_EQ(host.ClientCount(), 4U);
    host.Sweep(1000);
    host.Sweep(1500);
    EXPECT_EQ(host.ClientCount(), 2U);
    const auto reports = [&](std::string_view text) {
        return std::count(sink.events.begin(), sink.events.end(), text);
    };
    EXPECT_EQ(reports("0 refused 1 connection from 192.0.2.7 (too many unregistered)"), 1);
    EXPECT_EQ(reports("0 refused 1 connection from 192.0.2.7 (registration timeout)"), 1);
    // A minute on, the rest of each count; the answering terminal keeps answering.
    Send(answering, moduleReply);
    host.Sweep(61'000);
    Send(answering, moduleReply);
    host.Sweep(62'000);
    EXPECT_EQ(reports("0 refused 297 connections from 192.0.2.7 (too many unregistered)"), 1);
    EXPECT_EQ(reports("0 refused 1 connection from 192.0.2.7 (registration timeout)"), 2);
    EXPECT_EQ(std::count_if(sink.events.begin(), sink.events.end(),
                            [](const std::string& e) { return e.starts_with("0 refused"); }),
              4);
    // The silent terminal's slot keeps its name, so it comes back to it.
    EXPECT_EQ(RecordOf(silent), nullptr);
    EXPECT_NE(std::find(sink.events.begin(), sink.events.end(),
                        "2 closed by the console: no valid reply for too long"),
              sink.events.end());
    EXPECT_EQ(SlotOf(answering), 0);
    FakeConnection* back = Register("MUTE");
    EXPECT_EQ(SlotOf(back), 1);
    // Polled less often than the limit, a terminal gets the limit after each poll.
    tables.acquisitionIntervalMs = 8000;
    for (const std::uint64_t atMs : {70'000, 82'000}) {
        Send(answering, moduleReply);
        host.Sweep(atMs);
    }
    EXPECT_NE(RecordOf(back), nullptr);
    Send(answering, moduleReply);
    host.Sweep(83'000);
    EXPECT_EQ(RecordOf(back), nullptr);
}

TEST_F(TabHostTest, ShutdownClosesWithoutDetaching) {
    Register("PUMP");
    host.Shutdown();
    EXPECT_EQ(host.ClientCount(), 0U);
    EXPECT_EQ(tables.linkFlags[0], 1);
}

}  // namespace
}  // namespace corvelle
