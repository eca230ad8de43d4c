#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "protocol/module_frames.h"
#include "protocol/registration.h"
#include "server/net/acq_socket.h"
#include "tests/server/host_fakes.h"
#include "tests/support/free_port.h"

namespace corvelle {
namespace {

using test::Bytes;
using test::ToBytes;

Bytes Reply(RegistrationStatus status) {
    const auto reply = RegistrationReply(status);
    return {reply.begin(), reply.end()};
}

// A scripted terminal on a real socket; remembers when each byte arrived.
class TestTerminal {
  public:
    explicit TestTerminal(quint16 port) {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            const QByteArray data = socket.readAll();
            const qint64 now = clock.elapsed();
            for (const char c : data) {
                received.push_back(static_cast<std::uint8_t>(c));
                arrivalMs.push_back(now);
            }
        });
        clock.start();
        socket.connectToHost(QHostAddress::LocalHost, port);
    }

    bool Connected() {
        return QTest::qWaitFor(
            [this] { return socket.state() == QAbstractSocket::ConnectedState; });
    }
    void Send(const Bytes& bytes) {
        socket.write(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<qint64>(bytes.size()));
        socket.flush();
    }
    bool WaitForBytes(std::size_t count, int timeoutMs = 5000) {
        return QTest::qWaitFor([&] { return received.size() >= count; }, timeoutMs);
    }
    bool WaitForClose() {
        return QTest::qWaitFor(
            [this] { return socket.state() == QAbstractSocket::UnconnectedState; });
    }
    Bytes Slice(std::size_t from, std::size_t count) const {
        return {received.begin() + static_cast<std::ptrdiff_t>(from),
                received.begin() + static_cast<std::ptrdiff_t>(from + count)};
    }
    // Ends the connection with a reset instead of an orderly close.
    void Reset() {
        const linger hard{1, 0};
        setsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                   sizeof hard);
        socket.abort();
    }

    QTcpSocket socket;
    QElapsedTimer clock;
    Bytes received;
    std::vector<qint64> arrivalMs;
};

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

TEST_F(NetworkTest, RegistrationWireOrder) {
    TestTerminal terminal(port);
    ASSERT_TRUE(terminal.Connected());
    const Bytes packet = BuildRegistrationPacket(ToBytes("PUMP"));
    const qint64 sentAt = terminal.clock.elapsed();
    terminal.Send(packet);
    ASSERT_TRUE(terminal.WaitForBytes(18 + 9));
    EXPECT_EQ(terminal.Slice(0, 18), Bytes(ModuleQuery.begin(), ModuleQuery.end()));
    EXPECT_EQ(terminal.Slice(18, 9), Reply(RegistrationStatus::Accepted));
    const qint64 gap = terminal.arrivalMs[18] - terminal.arrivalMs[17];
    EXPECT_GE(gap, 298) << "reply " << terminal.arrivalMs[18] - sentAt << " ms after the packet";
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.renamed.size() == 1; }));
    EXPECT_EQ(view.tabs[0], ToBytes("PUMP"));
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

TEST_F(NetworkTest, EightSimultaneousRegistrationsShareOneGap) {
    std::vector<std::unique_ptr<TestTerminal>> terminals;
    terminals.reserve(8);
    for (int i = 0; i < 8; ++i) {
        terminals.push_back(std::make_unique<TestTerminal>(port));
    }
    for (auto& terminal : terminals) {
        ASSERT_TRUE(terminal->Connected());
    }
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 8; ++i) {
        terminals[static_cast<std::size_t>(i)]->Send(
            BuildRegistrationPacket(ToBytes("T" + std::to_string(i))));
    }
    for (auto& terminal : terminals) {
        ASSERT_TRUE(terminal->WaitForBytes(27));
        EXPECT_EQ(terminal->Slice(18, 9), Reply(RegistrationStatus::Accepted));
    }
    // Serial pauses would need 2.4 s; one shared gap is far below that.
    EXPECT_LT(clock.elapsed(), 1500);
    for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
        EXPECT_EQ(tables.linkFlags[slot], 1);
    }
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

TEST_F(NetworkTest, LargeWritesArriveInChunksOfAtMost8192Bytes) {
    auto terminal = Registered("PUMP");
    const std::size_t before = terminal->received.size();
    // Every chunk above 1036 bytes makes the page ask for identification once.
    constexpr std::size_t kChunks = 3;
    const Bytes flood(kChunks * DeviceTabHost::kMaxChunk, 'x');
    terminal->Send(flood);
    ASSERT_TRUE(terminal->WaitForBytes(before + kChunks * ModuleQuery.size()));
    QTest::qWait(50);
    EXPECT_GE((terminal->received.size() - before) / ModuleQuery.size(), kChunks);
}

}  // namespace
}  // namespace corvelle
