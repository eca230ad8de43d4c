#pragma once

// What the publishing benchmarks share: a broker of their own, and a subscriber in a helper
// process that counts the readings it receives.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <map>

#include "bench/console/harness.h"
#include "tests/support/mosquitto_broker.h"

namespace corvelle::bench {

// mosquitto on a free port. Sessions and the messages queued for them outlive a restart, and a
// subscriber's queue has no bound, so that whatever goes missing was lost by the publisher.
class BenchBroker {
  public:
    BenchBroker();
    // Whether it accepts connections within 5 s.
    bool Start() { return broker_.Start(); }
    // SIGTERM; it saves its sessions on the way out.
    void Stop() { broker_.Stop(); }
    quint16 Port() const { return broker_.Port(); }
    qint64 Pid() const { return broker_.Pid(); }
    // For --mqtt.
    QString Url() const;

  private:
    QTemporaryDir store_;
    test::MosquittoBroker broker_;
};

// The topic a console or service publishes a device's readings on, under the default prefix.
QString ReadingTopic(const QString& clientId, const QString& deviceName);

// What the subscriber has received so far.
struct SeenReadings {
    bool answered = false;
    int connections = 0;
    int duplicates = 0;
    // Distinct readings by topic and by the value every channel carries (-1 when they differ).
    std::map<QString, std::map<int, int>> byTopic;

    int On(const QString& topic) const;
    // Whether every topic has at least its count.
    bool Has(const std::map<QString, int>& counts) const;
    // Readings whose value is not their topic's own; every reading on a topic not in own.
    int Foreign(const std::map<QString, int>& own) const;
};

// The subscriber helper (bench_subscriber) on the readings of every console and service.
class Subscriber {
  public:
    Subscriber(Children& children, quint16 port);
    // Whether its current connection is subscribed; waits up to 30 s.
    bool Subscribed();
    SeenReadings Seen();
    // Asks every half second until every topic has at least its count; the last answer.
    SeenReadings WaitFor(const std::map<QString, int>& counts, int timeoutMs);

  private:
    QProcess& process_;
};

}  // namespace corvelle::bench
