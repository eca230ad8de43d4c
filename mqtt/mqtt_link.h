#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "mqtt/mqtt_messages.h"
#include "mqtt/mqtt_options.h"
#include "mqtt/retained_store.h"

struct mosquitto;
struct mosquitto_message;

namespace corvelle {

// What the network thread tells its owner. Called on the network thread: each only hands the
// news over to the owner's thread.
struct MqttLinkNews {
    std::function<void(const QString& message, bool problem)> state;
    std::function<void(const QString& line)> log;
    std::function<void(const RelayCommand& command)> relay;
    std::function<void(const AlarmAck& ack)> alarmAck;
};

// What a link has done since it was made, readable from any thread.
struct MqttLinkCounts {
    // Messages the broker took (acknowledged, or handed over at QoS 0).
    std::uint64_t published = 0;
    // Messages given up on: past the queue's bound, or refused by the library.
    std::uint64_t dropped = 0;
    std::size_t queued = 0;
    bool connected = false;
};

// The broker connection, the retained topics and the bounded queue in front of it. Enqueue,
// SetRetained, HoldsRetained, RequestStop, WaitFinished and Silence are called on the owner's
// thread; Run is the network thread and alone touches libmosquitto.
//
// Each connection first reads back what the broker retains under "prefix/id/" (subscribe,
// then a mark of its own that arrives after every retained message), corrects what is stale,
// sends every retained topic the broker lacks, and only then says "online" and sends the
// queue. Retained topics always go before queued messages.
class MqttLink {
  public:
    MqttLink(MqttSettings settings, MqttLinkNews news);

    // Copies the item in; past the queue's bound the oldest message goes, and is counted.
    void Enqueue(Outgoing item);
    // A retained topic below "prefix/id/"; an empty payload removes it.
    void SetRetained(const QByteArray& topic, const QByteArray& payload);
    bool HoldsRetained(const QByteArray& topic);
    void RequestStop();
    // Whether Run returned within limit.
    bool WaitFinished(std::chrono::milliseconds limit);
    // Messages and retained topics the broker has not taken yet.
    std::size_t UnsentCount();
    MqttLinkCounts Counts() const;
    // No news reach the owner once this returns.
    void Silence();

    // Connects, publishes and retries with backoff until stopped; then says offline.
    void Run();

  private:
    using SteadyClock = std::chrono::steady_clock;
    using SteadyTime = SteadyClock::time_point;
    struct Queued {
        std::uint64_t id = 0;
        Outgoing item;
        // Connections that ended while it was the oldest message the broker had not answered.
        int failures = 0;
    };
    enum class State { None, Connected, Unreachable, Refused, TlsFailed, TakenOver };
    // A connection reads back its retained topics, then sends what the broker lacks of them,
    // then says "online" and sends the queue.
    enum class Phase { Connecting, Learning, Asserting, Online };
    // What a message in flight is, for its acknowledgement.
    struct InFlight {
        enum class Kind { Queued, Retained, Dropped } kind = Kind::Queued;
        std::uint64_t id = 0;
        RetainedStore::Send retained;
        std::uint64_t dropped = 0;
        SteadyTime sentAt;
    };

    // One connection from connect to loss or stop; whether it lasted long enough to count as
    // working.
    bool Session();
    int Configure(mosquitto* client);
    void OnConnect(mosquitto* client, int code);
    void OnSubscribe(int mid, int granted);
    void OnMessage(const mosquitto_message& message);
    void OnPublish(int mid);
    // Ends the reading back once the mark came, the broker refused, or it took too long.
    void CheckLearning(mosquitto* client);
    // Leaves the subscription of the reading back and takes relay commands from now on.
    void FinishLearning(mosquitto* client);
    // Hands the broker what fits into the window: retained topics, "online", then the queue.
    void Pump(mosquitto* client, bool stopping);
    bool PumpRetained(mosquitto* client);
    void PumpQueue(mosquitto* client);
    // The connection ended after it was made: who is to blame, and what to say.
    void Lost(int code);
    // The broker ended the connection instead of answering this message: how often it has;
    // the third time it is dropped.
    int Blame(const InFlight& suspect);
    // How long a connection must last to count as working.
    std::chrono::milliseconds WorkingAfter() const;
    // On the way out: the retained topics, then the queue, still go for a short while.
    void Drain(mosquitto* client);
    void SayOffline(mosquitto* client);
    void ReportFailure(int code);
    void Report(State state, const QString& message);
    void Log(const QString& line);
    template <typename Call>
    void Tell(const Call& call);

    bool StopRequested();
    // False when woken by a stop.
    bool SleepUnlessStopped(std::chrono::milliseconds duration);
    void Remove(std::uint64_t id);
    std::size_t Room() const;

    const MqttSettings settings_;
    const QString url_;
    const MqttTopics topics_;

    std::mutex newsMutex_;
    MqttLinkNews news_;
    bool silenced_ = false;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Queued> queue_;
    // The first this many queued messages are handed to the broker on this connection.
    std::size_t handed_ = 0;
    RetainedStore retained_;
    std::uint64_t nextId_ = 1;
    // Dropped for the queue's bound and not yet told to the broker.
    std::uint64_t dropped_ = 0;
    bool stopRequested_ = false;
    bool finished_ = false;

    std::atomic<std::uint64_t> published_{0};
    std::atomic<std::uint64_t> droppedTotal_{0};
    std::atomic<std::size_t> queued_{0};
    std::atomic<bool> connectedNow_{false};

    // The network thread's own.
    DeviceNames names_;
    State reported_ = State::None;
    Phase phase_ = Phase::Connecting;
    std::map<int, InFlight> inFlight_;
    bool droppedInFlight_ = false;
    SteadyTime connectedAt_;
    // The last connection ended right after it was made.
    bool quickEnd_ = false;
    int quickEndsInARow_ = 0;
    int learnMid_ = 0;
    int relayMid_ = 0;
    int ackMid_ = 0;
    QByteArray mark_;
    std::uint64_t marks_ = 0;
    bool learned_ = false;
    bool learnRefused_ = false;
    SteadyTime learnDeadline_;
    bool toldLearning_ = false;
    bool toldRelayRefusal_ = false;
    bool toldAckRefusal_ = false;
    bool connected_ = false;
    bool disconnected_ = false;
    int refusal_ = 0;
    int offlineMid_ = 0;
    bool offlineAcknowledged_ = false;
    QString lastError_;
};

}  // namespace corvelle
