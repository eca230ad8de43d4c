// A TCP proxy that holds every byte for a fixed time in each direction, so that the publishing
// benchmarks can put a wide-area round trip between a node and its broker on one machine. It
// listens on a free loopback port and forwards each connection to the target port. Reads one
// command a line from its input and answers each with one line that starts with the command's
// name:
//   port   "port port=N": where it listens
// Usage: bench_delay_proxy TARGET_PORT DELAY_MS
#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <string>

namespace {

// One direction of one connection: what came in, each chunk due at its arrival plus the delay.
class DelayedPipe : public QObject {
  public:
    DelayedPipe(QTcpSocket& from, QTcpSocket& to, int delayMs, const QElapsedTimer& clock)
        : QObject(&from), to_(to), delayMs_(delayMs), clock_(clock) {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, [this] { Flush(); });
        connect(&from, &QTcpSocket::readyRead, this, [this, &from] {
            chunks_.push_back({clock_.elapsed() + delayMs_, from.readAll()});
            if (!timer_.isActive()) {
                timer_.start(
                    static_cast<int>(std::max<qint64>(0, chunks_.front().due - clock_.elapsed())));
            }
        });
    }

  private:
    struct Chunk {
        qint64 due;
        QByteArray bytes;
    };
    void Flush() {
        while (!chunks_.empty() && chunks_.front().due <= clock_.elapsed()) {
            to_.write(chunks_.front().bytes);
            chunks_.pop_front();
        }
        if (!chunks_.empty()) {
            timer_.start(static_cast<int>(chunks_.front().due - clock_.elapsed()));
        }
    }

    QTcpSocket& to_;
    int delayMs_;
    const QElapsedTimer& clock_;
    QTimer timer_;
    std::deque<Chunk> chunks_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_delay_proxy TARGET_PORT DELAY_MS\n");
        return 2;
    }
    const auto target = static_cast<quint16>(std::strtol(argv[1], nullptr, 10));
    const int delayMs = static_cast<int>(std::strtol(argv[2], nullptr, 10));
    QElapsedTimer clock;
    clock.start();
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "bench_delay_proxy: cannot listen\n");
        return 1;
    }
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* inbound = server.nextPendingConnection()) {
            auto* outbound = new QTcpSocket(inbound);
            outbound->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            inbound->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            new DelayedPipe(*inbound, *outbound, delayMs, clock);
            new DelayedPipe(*outbound, *inbound, delayMs, clock);
            QObject::connect(inbound, &QTcpSocket::disconnected, outbound,
                             &QTcpSocket::disconnectFromHost);
            QObject::connect(outbound, &QTcpSocket::disconnected, inbound, [inbound] {
                inbound->disconnectFromHost();
                inbound->deleteLater();
            });
            outbound->connectToHost(QHostAddress::LocalHost, target);
        }
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            QCoreApplication::quit();
            return;
        }
        if (line == "port") {
            std::printf("port port=%d\n", server.serverPort());
            std::fflush(stdout);
        }
    });
    return QCoreApplication::exec();
}
