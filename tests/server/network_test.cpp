#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "protocol/module_frames.h"
#include "protocol/registration.h"
#include "server/net/acq_socket.h"
#include "tests/server/host_fakes.h"
#include "tests/support/free_port.h"
#include "tests/support/test_terminal.h"

namespace corvelle {
namespace {

using test::Bytes;
using test::TestTerminal;
using test::ToBytes;

class NetworkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        view.sender = &server.Host();
        server.Host().Initialise();
        port = test::FreePort();
        server.Host().ToggleListening(port);
        ASSERT_TRUE(server.Host().IsListening());
    }

    std::unique_ptr<TestTerminal> Registered(std::string_view name) {
        auto terminal = std::make_unique<TestTerminal>(port);
        EXPECT_TRUE(terminal->Connected());
        terminal->Send(BuildRegistrationPacket(ToBytes(name)));
        EXPECT_TRUE(terminal->WaitForBytes(ModuleQuery.size() + kRegistrationReplySize));
        return terminal;
    }

    SlotTables tables;
    test::FakeHostView view{tables};
    NetworkTabHost server{tables, view};
    quint16 port = 0;
};

TEST_F(NetworkTest, PortHeldByAnotherSocketFailsAndCanBeRetried) {
    server.Host().ToggleListening(port);
    QTcpServer blocker;
    ASSERT_TRUE(blocker.listen(QHostAddress::Any, port));
    server.Host().ToggleListening(port);
    EXPECT_FALSE(server.Host().IsListening());
    EXPECT_EQ(view.listenStates, (std::vector<int>{1, 0, 0}));
    ASSERT_EQ(view.messages.size(), 1U);
    EXPECT_NE(view.messages[0].find(std::to_string(port)), std::string::npos);
    blocker.close();
    server.Host().ToggleListening(port);
    EXPECT_TRUE(server.Host().IsListening());
}

TEST_F(NetworkTest, StoppedServerRefusesConnections) {
    server.Host().ToggleListening(port);
    TestTerminal terminal(port);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return terminal.socket.error() == QAbstractSocket::ConnectionRefusedError; }));
}

TEST_F(NetworkTest, BytesSentDuringTheGapAreHandledAfterTheReply) {
    TestTerminal terminal(port);
    ASSERT_TRUE(terminal.Connected());
    const auto module = BuildModuleReply("BX6C");
    Bytes both = BuildRegistrationPacket(ToBytes("PUMP"));
    terminal.Send(both);
    ASSERT_TRUE(terminal.WaitForBytes(18));
    terminal.Send(Bytes(module.begin(), module.end()));
    QTest::qWait(100);
    EXPECT_EQ(view.Page(0).page.ChannelCount(), 0);
    ASSERT_TRUE(terminal.WaitForBytes(18 + 9));
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.Page(0).page.ChannelCount() == 12; }));
}

TEST_F(NetworkTest, StopClosesAllAndDetachesTheRegisteredPage) {
    tables.deviceNames[3] = ToBytes("SLOT4");
    auto registered = Registered("SLOT4");
    TestTerminal anonymous(port);
    ASSERT_TRUE(anonymous.Connected());
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.Host().ClientCount() == 2; }));
    server.Host().ToggleListening(port);
    EXPECT_EQ(server.Host().ClientCount(), 0U);
    EXPECT_TRUE(registered->WaitForClose());
    EXPECT_TRUE(anonymous.WaitForClose());
    EXPECT_EQ(tables.linkFlags[3], 0);
    for (int slot = 0; slot < 8; ++slot) {
        EXPECT_EQ(view.Page(slot).view.statusTexts.size(), slot == 3 ? 2U : 1U);
    }
}

TEST_F(NetworkTest, PeerClosingBeforeRegisteringVanishesSilently) {
    TestTerminal terminal(port);
    ASSERT_TRUE(terminal.Connected());
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.Host().ClientCount() == 1; }));
    terminal.socket.disconnectFromHost();
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.Host().ClientCount() == 0; }));
    for (const auto& page : view.pages) {
        EXPECT_EQ(page->view.statusTexts.size(), 1U);
    }
}

TEST_F(NetworkTest, ResetConnectionDetachesAndFreesTheSlot) {
    auto terminal = Registered("PUMP");
    ASSERT_EQ(tables.linkFlags[0], 1);
    terminal->Reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return tables.linkFlags[0] == 0; }));
    EXPECT_EQ(server.Host().ClientCount(), 0U);
    EXPECT_TRUE(view.messages.empty());
    auto next = Registered("FAN");
    EXPECT_EQ(tables.linkFlags[0], 1);
    EXPECT_EQ(view.tabs[0], ToBytes("FAN"));
}

TEST_F(NetworkTest, ClosedTerminalsPageReachesNoOtherTerminal) {
    auto first = Registered("A");
    auto second = Registered("B");
    first->socket.disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tables.linkFlags[0] == 0; }));
    const std::size_t before = second->received.size();
    for (std::size_t relay = 1; relay <= 12; ++relay) {
        view.Page(0).page.OnRelayButton(relay);
    }
    view.Page(1).page.OnRelayButton(1);
    ASSERT_TRUE(second->WaitForBytes(before + 17));
    QTest::qWait(50);
    EXPECT_EQ(second->received.size(), before + 17);
}

}  // namespace
}  // namespace corvelle
