#pragma once

#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "mqtt/mqtt_messages.h"
#include "mqtt/mqtt_options.h"

struct mosquitto;
struct mosquitto_message;

namespace corvelle {

// What the network thread tells its owner. Called on the network thread: each only hands the
// news over to the owner's thread.
struct MqttLinkNews {
    std::function<void(const QString& message, bool problem)> state;
    std::function<void(const QString& line)> log;
    std::function<void(const RelayCommand& command)> relay;
};

// The broker connection and the bounded queue in front of it. Enqueue, RequestStop,
// WaitFinished and Silence are called on the owner's thread; Run is the network thread and
// alone touches libmosquitto.
class MqttLink {
  public:
    MqttLink(MqttSettings settings, MqttLinkNews news);

    // Copies the item in; past the queue's bound the oldest message goes.
    void Enqueue(Outgoing item);
    void RequestStop();
    // Whether Run returned within limit.
    bool WaitFinished(std::chrono::milliseconds limit);
    // Messages not yet taken by the broker.
    std::size_t QueuedCount();
    // No news reach the owner once this returns.
    void Silence();

    // Connects, publishes and retries with backoff until stopped; then says offline.
    void Run();

  private:
    struct Queued {
        std::uint64_t id = 0;
        Outgoing item;
        // Handed to libmosquitto on the current connection.
        bool sent = false;
    };
    enum class State { None, Connected, Unreachable, Refused, TlsFailed };

    // One connection from connect to loss or stop; whether the broker accepted it.
    bool Session();
    int Configure(mosquitto* client);
    void Pump(mosquitto* client);
    // On the way out: what is queued still goes, for a short while.
    void Drain(mosquitto* client);
    void SayOffline(mosquitto* client);
    void OnConnect(mosquitto* client, int code);
    void OnPublish(int mid);
    void OnMessage(const mosquitto_message& message);
    void ReportFailure(int code);
    void Report(State state, const QString& message);
    template <typename Call>
    void Tell(const Call& call);

    bool StopRequested();
    // False when woken by a stop.
    bool SleepUnlessStopped(std::chrono::milliseconds duration);
    void MarkAllUnsent();
    void Remove(std::uint64_t id);

    const MqttSettings settings_;
    const QString url_;
    const MqttTopics topics_;

    std::mutex newsMutex_;
    MqttLinkNews news_;
    bool silenced_ = false;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Queued> queue_;
    std::uint64_t nextId_ = 1;
    std::uint64_t dropped_ = 0;
    bool stopRequested_ = false;
    bool finished_ = false;

    // The network thread's own.
    DeviceNames names_;
    State reported_ = State::None;
    std::map<int, std::uint64_t> inFlight_;
    bool connected_ = false;
    bool disconnected_ = false;
    int refusal_ = 0;
    int offlineMid_ = 0;
    bool offlineAcknowledged_ = false;
    QString lastError_;
};

}  // namespace corvelle
