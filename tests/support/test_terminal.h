#pragma once

#include <sys/socket.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <vector>

namespace corvelle::test {

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
    void Send(const std::vector<std::uint8_t>& bytes) {
        sentMs = clock.elapsed();
        socket.write(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<qint64>(bytes.size()));
        socket.flush();
    }
    // Waits in an event loop of its own rather than qWaitFor, whose 10 ms naps would blur the
    // arrival times.
    bool WaitForBytes(std::size_t count, int timeoutMs = 5000) {
        if (received.size() >= count) {
            return true;
        }
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        const auto connection = QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
            if (received.size() >= count) {
                loop.quit();
            }
        });
        loop.exec();
        QObject::disconnect(connection);
        return received.size() >= count;
    }
    bool WaitForClose() {
        return QTest::qWaitFor(
            [this] { return socket.state() == QAbstractSocket::UnconnectedState; });
    }
    std::vector<std::uint8_t> Slice(std::size_t from, std::size_t count) const {
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
    std::vector<std::uint8_t> received;
    std::vector<qint64> arrivalMs;
    // When the last Send began.
    qint64 sentMs = 0;
};

}  // namespace corvelle::test
