#pragma once

#include <QtCore/qtestsupport_core.h>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <csignal>
#include <memory>

namespace corvelle::test {

// mosquitto of its own on a loopback port, configured in a temporary folder; for the tests and
// the benchmarks alike.
class MosquittoBroker {
  public:
    // settings: lines of its configuration besides the listener, such as access rules.
    MosquittoBroker(quint16 port, const QString& settings) : port_(port), settings_(settings) {}
    ~MosquittoBroker() { Stop(); }
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    quint16 Port() const { return port_; }
    qint64 Pid() const { return process_.processId(); }

    // Whether it accepts connections within 5 s.
    bool Start() {
        held_.reset();
        const QString path = dir_.filePath(QStringLiteral("mosquitto.conf"));
        QFile config(path);
        if (!config.open(QIODevice::WriteOnly)) {
            return false;
        }
        // Root would have it switch to a user that cannot read the temporary folder.
        config.write(QStringLiteral("listener %1 127.0.0.1\nuser root\n%2")
                         .arg(port_)
                         .arg(settings_)
                         .toUtf8());
        config.close();
        process_.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), path});
        return QTest::qWaitFor([this] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port_);
            return probe.waitForConnected(100);
        });
    }
    // SIGTERM, as a service manager stops it.
    void Stop() {
        process_.terminate();
        // Killed when it has not stopped in time, as a service manager does: a broker that
        // somehow missed the signal would otherwise keep serving the test's clients.
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished();
        }
        Hold();
    }
    // Still accepts bytes into its socket buffers, but neither reads nor acknowledges them.
    void Pause() { ::kill(static_cast<pid_t>(process_.processId()), SIGSTOP); }
    void Kill() {
        process_.kill();
        process_.waitForFinished();
        Hold();
    }

  private:
    // While the broker is away its port stays bound, not listening: a client still finds it
    // refused, and no server of a test running beside this one is given the port meanwhile.
    void Hold() {
        held_.reset();
        held_ = std::make_unique<QTcpSocket>();
        held_->bind(QHostAddress::Any, port_, QAbstractSocket::DontShareAddress);
    }

    QTemporaryDir dir_;
    quint16 port_;
    QString settings_;
    QProcess process_;
    std::unique_ptr<QTcpSocket> held_;
};

}  // namespace corvelle::test
