#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <optional>
#include <variant>

#include "protocol/modbus_ascii.h"
#include "protocol/module_frames.h"
#include "protocol/registration.h"
#include "tools/terminal/terminal.h"

namespace corvelle::sim {
namespace {

constexpr int kWaitMs = 3000;

std::span<const std::uint8_t> AsBytes(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

QByteArray ToByteArray(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

// Plays the console's side of one connection at a time over a real socket.
class ScriptedConsole {
  public:
    ScriptedConsole() { listening_ = server_.listen(QHostAddress::LocalHost, 0); }

    bool listening() const { return listening_; }
    quint16 port() const { return server_.serverPort(); }

    bool Accept() {
        if (!QTest::qWaitFor([this] { return server_.hasPendingConnections(); }, kWaitMs)) {
            return false;
        }
        link_.reset(server_.nextPendingConnection());
        received_.clear();
        return true;
    }

    std::optional<QByteArray> Take(qsizetype count) {
        return TakeWhen([this, count] { return received_.size() >= count ? count : -1; });
    }

    // Everything up to and including the next CR LF.
    std::optional<QByteArray> TakeLine() {
        return TakeWhen([this] {
            const qsizetype end = received_.indexOf("\r\n");
            return end >= 0 ? end + 2 : -1;
        });
    }

    void Send(std::span<const std::uint8_t> bytes) { link_->write(ToByteArray(bytes)); }
    void Send(std::string_view text) {
        link_->write(text.data(), static_cast<qint64>(text.size()));
    }

    void Close() { link_->close(); }

    bool WaitForPeerClose() {
        return QTest::qWaitFor(
            [this] { return link_->state() == QAbstractSocket::UnconnectedState; }, kWaitMs);
    }

  private:
    template <typename Ready>
    std::optional<QByteArray> TakeWhen(Ready ready) {
        qsizetype n = -1;
        const bool done = QTest::qWaitFor(
            [&] {
                received_ += link_->readAll();
                n = ready();
                return n >= 0;
            },
            kWaitMs);
        if (!done) {
            return std::nullopt;
        }
        QByteArray taken = received_.left(n);
        received_.remove(0, n);
        return taken;
    }

    QTcpServer server_;
    std::unique_ptr<QTcpSocket> link_;
    QByteArray received_;
    bool listening_ = false;
};

std::unique_ptr<Terminal> MakeTerminal(const TerminalConfig& config) {
    QString error;
    auto terminals = CreateTerminals(config, 1, error);
    return terminals.empty() ? nullptr : std::move(terminals.front());
}

std::uint16_t RelayWord(const QByteArray& line, std::uint8_t channels) {
    const auto checked = CheckModbusChunk(AsBytes(line), channels);
    const auto* data = std::get_if<RegisterData>(&checked);
    EXPECT_NE(data, nullptr) << line.toStdString();
    return data == nullptr ? 0xFFFF
                           : static_cast<std::uint16_t>(data->bytes[2] | data->bytes[3] << 8U);
}

TEST(Loopback, RegistersIdentifiesPollsSwitchesAndReconnects) {
    ScriptedConsole console;
    ASSERT_TRUE(console.listening());
    TerminalConfig config;
    config.port = console.port();
    config.name = QString::fromUtf8("泵站");
    config.modelText = "CV4B-SIM";
    config.board.channelCount = 4;
    config.retryMs = 50;
    const auto terminal = MakeTerminal(config);
    ASSERT_TRUE(terminal);
    QSignalSpy statuses(terminal.get(), &Terminal::registrationStatusReceived);
    QSignalSpy relays(terminal.get(), &Terminal::relaySwitched);
    QSignalSpy identified(terminal.get(), &Terminal::identified);
    QSignalSpy disconnected(terminal.get(), &Terminal::disconnectedFromConsole);
    terminal->start();

    // The board keeps its relays across connections: relay 3 goes on over the first and
    // off over the second.
    for (int connection = 1; connection <= 2; ++connection) {
        SCOPED_TRACE(testing::Message() << "connection " << connection);
        const bool on = connection == 1;
        ASSERT_TRUE(console.Accept());
        const auto packet = console.Take(12);
        ASSERT_TRUE(packet);
        const auto name = ParseRegistration(AsBytes(*packet));
        ASSERT_TRUE(name);
        EXPECT_EQ(ToByteArray(*name), QByteArray("\xB1\xC3\xD5\xBE"));

        // The console's order: module query first, the registration reply after it.
        console.Send(ModuleQuery);
        const auto moduleReply = console.Take(kModuleReplySize);
        ASSERT_TRUE(moduleReply);
        const auto evaluation = EvaluateModuleReply(std::span<const std::uint8_t, kModuleReplySize>(
            AsBytes(*moduleReply).first<kModuleReplySize>()));
        EXPECT_TRUE(evaluation.valid);
        EXPECT_EQ(evaluation.channelCount, 4);
        console.Send(RegistrationReply(RegistrationStatus::Accepted));
        ASSERT_TRUE(QTest::qWaitFor([&] { return terminal->isRegistered(); }, kWaitMs));
        EXPECT_EQ(terminal->registrationCount(), connection);

        console.Send(ReadInputRegistersRequest(4));
        const auto before = console.TakeLine();
        ASSERT_TRUE(before);
        EXPECT_EQ(RelayWord(*before, 4), on ? 0x0000 : 0x0004);

        const std::string_view write = WriteSingleCoilRequest(3, on);
        console.Send(write);
        const auto echo = console.TakeLine();
        ASSERT_TRUE(echo);
        EXPECT_EQ(echo->toStdString(), write);
        const auto checked = CheckModbusChunk(AsBytes(*echo), 4);
        ASSERT_TRUE(std::holds_alternative<CoilEcho>(checked));
        EXPECT_EQ(std::get<CoilEcho>(checked).coil, 2);

        console.Send(ReadInputRegistersRequest(4));
        const auto after = console.TakeLine();
        ASSERT_TRUE(after);
        EXPECT_EQ(RelayWord(*after, 4), on ? 0x0004 : 0x0000);
        EXPECT_EQ(terminal->board().RelayOn(3), on);

        console.Close();
        ASSERT_TRUE(QTest::qWaitFor([&] { return disconnected.count() == connection; }, kWaitMs));
    }
    EXPECT_EQ(statuses.count(), 2);
    EXPECT_EQ(identified.count(), 2);
    ASSERT_EQ(relays.count(), 2);
    EXPECT_EQ(relays[0], (QVariantList{3, true}));
    EXPECT_EQ(relays[1], (QVariantList{3, false}));
}

TEST(Loopback, ConnectionFaultsRepeatOnEveryConnection) {
    ScriptedConsole console;
    ASSERT_TRUE(console.listening());
    TerminalConfig config;
    config.port = console.port();
    config.name = QStringLiteral("T");
    config.retryMs = 50;
    config.faults.badRegistrationFirst = true;
    config.faults.silentModule = true;
    config.faults.disconnectAfterMs = 400;
    const auto terminal = MakeTerminal(config);
    ASSERT_TRUE(terminal);
    QSignalSpy statuses(terminal.get(), &Terminal::registrationStatusReceived);
    terminal->start();

    for (int connection = 1; connection <= 2; ++connection) {
        SCOPED_TRACE(testing::Message() << "connection " << connection);
        ASSERT_TRUE(console.Accept());
        const auto broken = console.Take(9);
        ASSERT_TRUE(broken);
        EXPECT_FALSE(ParseRegistration(AsBytes(*broken)));
        console.Send(RegistrationReply(RegistrationStatus::Rejected));
        const auto retried = console.Take(9);
        ASSERT_TRUE(retried);
        EXPECT_TRUE(ParseRegistration(AsBytes(*retried)));
        console.Send(RegistrationReply(RegistrationStatus::Accepted));

        // Replies keep their order, so a poll answered first proves the query went unanswered.
        console.Send(ModuleQuery);
        console.Send(ReadInputRegistersRequest(12));
        const auto first = console.TakeLine();
        ASSERT_TRUE(first);
        EXPECT_TRUE(first->startsWith(':')) << first->toHex().toStdString();

        EXPECT_TRUE(console.WaitForPeerClose());
    }
    EXPECT_EQ(statuses.count(), 4);
    EXPECT_EQ(terminal->registrationCount(), 2);
}

TEST(Loopback, ReplyFaultsOnTheWire) {
    struct Case {
        const char* name;
        std::vector<int> counters;  // signal values of the replies the console accepts
        int rejected;
        Faults faults;
    };
    const auto with = [](auto set) {
        Faults faults;
        set(faults);
        return faults;
    };
    const Case cases[] = {
        {"lower-case hex", {1, 2, 3}, 0, with([](Faults& f) { f.lowerCaseHex = true; })},
        {"noise", {1, 2, 3}, 0, with([](Faults& f) { f.noiseBytes = 4; })},
        {"corrupt LRC", {1, 3}, 1, with([](Faults& f) { f.corruptLrcEvery = 2; })},
        {"drop", {1, 3}, 0, with([](Faults& f) { f.dropEveryReply = 2; })},
        {"split", {1, 2, 3}, 0, with([](Faults& f) { f.splitGapMs = 20; })},
        {"delay", {1, 2, 3}, 0, with([](Faults& f) { f.replyDelayMs = 80; })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedConsole console;
        ASSERT_TRUE(console.listening());
        TerminalConfig config;
        config.port = console.port();
        config.name = QStringLiteral("T");
        config.faults = c.faults;
        const auto terminal = MakeTerminal(config);
        ASSERT_TRUE(terminal);
        terminal->start();
        ASSERT_TRUE(console.Accept());
        ASSERT_TRUE(console.Take(9));
        console.Send(RegistrationReply(RegistrationStatus::Accepted));
        ASSERT_TRUE(QTest::qWaitFor([&] { return terminal->isRegistered(); }, kWaitMs));

        QSignalSpy writes(terminal.get(), &Terminal::frameSent);
        QElapsedTimer clock;
        clock.start();
        std::string polls;
        for (int i = 0; i < 3; ++i) {
            polls += ReadInputRegistersRequest(12);
        }
        console.Send(polls);
        std::vector<int> counters;
        int rejected = 0;
        const std::size_t expected = c.counters.size() + static_cast<std::size_t>(c.rejected);
        for (std::size_t i = 0; i < expected; ++i) {
            const auto line = console.TakeLine();
            ASSERT_TRUE(line);
            EXPECT_EQ(line->indexOf(':'), c.faults.noiseBytes);
            if (c.faults.lowerCaseHex) {
                EXPECT_EQ(*line, line->toLower());
            }
            const auto checked = CheckModbusChunk(AsBytes(*line), 12);
            if (const auto* data = std::get_if<RegisterData>(&checked)) {
                counters.push_back(data->bytes[0] << 8U | data->bytes[1]);
            } else {
                ++rejected;
            }
        }
        EXPECT_GE(clock.elapsed(), c.faults.replyDelayMs);
        EXPECT_EQ(counters, c.counters);
        EXPECT_EQ(rejected, c.rejected);
        EXPECT_EQ(writes.count(), static_cast<int>(expected) * (c.faults.splitGapMs > 0 ? 2 : 1));
    }
}

}  // namespace
}  // namespace corvelle::sim
