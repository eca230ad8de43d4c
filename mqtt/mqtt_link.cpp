#include "mqtt/mqtt_link.h"

#include <mosquitto.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <random>
#include <variant>

#include "device/qt/qt_page_ports.h"
#include "mqtt/mqtt_client.h"

namespace corvelle {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kFirstRetry = 1s;
constexpr std::chrono::milliseconds kLastRetry = 30s;
// A broker that accepted the TCP connection but never answers is tried again after this.
constexpr auto kConnectTimeout = 10s;
// Messages handed to the broker and not yet acknowledged. Over a 100 ms round trip, 1000 in
// flight carry up to 10,000 messages a second.
constexpr std::size_t kWindow = 1000;
// Besides the window: the mark, "online" and "offline".
constexpr int kWindowExtra = 8;
// Reading back the retained topics waits this long for the mark at most.
constexpr auto kLearnTimeout = 5s;
// A connection that ends sooner was not a working one: the retry delay keeps growing. While
// another client takes the id over, a connection lasts as long as the other's retry delay.
constexpr std::chrono::milliseconds kWorkingSession = 5s;
constexpr std::chrono::milliseconds kWorkingWhileContested = 60s;
// The oldest unacknowledged message is blamed for a disconnect only if sent this recently.
constexpr auto kBlameWindow = 2s;
// Stop gives the retained topics and the queue this long to go out, waits this long for the
// broker to take "offline", then for the disconnect to go out: together within the 2 s a stop
// may take.
constexpr auto kDrainTimeout = 400ms;
constexpr auto kOfflineTimeout = 1s;
constexpr auto kDisconnectTimeout = 300ms;
// SUBACK's code for a refused subscription.
constexpr int kSubscriptionRefused = 0x80;

// What the broker will never take, however often it is sent; anything else is the connection's
// fault and goes again on the next one.
bool Unpublishable(int code) {
    return code == MOSQ_ERR_INVAL || code == MOSQ_ERR_MALFORMED_UTF8 ||
           code == MOSQ_ERR_PAYLOAD_SIZE || code == MOSQ_ERR_OVERSIZE_PACKET;
}

bool Loopback(const QString& host) {
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
           host.startsWith(QLatin1String("127.")) || host == QLatin1String("::1");
}

int Length(const QByteArray& bytes) {
    return static_cast<int>(bytes.size());
}

}  // namespace

MqttLink::MqttLink(MqttSettings settings, MqttLinkNews news)
    : settings_(std::move(settings)),
      url_(BrokerUrl(settings_)),
      topics_(settings_.prefix, settings_.clientId),
      news_(std::move(news)) {}

void MqttLink::Enqueue(Outgoing item) {
    const std::lock_guard lock(mutex_);
    if (stopRequested_) {
        return;
    }
    queue_.push_back({nextId_++, std::move(item), 0});
    while (queue_.size() > settings_.queueLimit) {
        // A relay result answers someone waiting for it: past the bound readings and events
        // go first, and results only from a queue that holds nothing else.
        auto victim = std::find_if(queue_.begin(), queue_.end(), [](const Queued& queued) {
            return !std::holds_alternative<RelayResult>(queued.item);
        });
        if (victim == queue_.end()) {
            victim = queue_.begin();
        }
        if (static_cast<std::size_t>(victim - queue_.begin()) < handed_) {
            --handed_;
        }
        queue_.erase(victim);
        ++dropped_;
        droppedTotal_.fetch_add(1, std::memory_order_relaxed);
    }
    queued_.store(queue_.size(), std::memory_order_relaxed);
}

MqttLinkCounts MqttLink::Counts() const {
    return {.published = published_.load(std::memory_order_relaxed),
            .dropped = droppedTotal_.load(std::memory_order_relaxed),
            .queued = queued_.load(std::memory_order_relaxed),
            .connected = connectedNow_.load(std::memory_order_relaxed)};
}

void MqttLink::SetRetained(const QByteArray& topic, const QByteArray& payload) {
    const std::lock_guard lock(mutex_);
    retained_.Set(topic, payload);
}

bool MqttLink::HoldsRetained(const QByteArray& topic) {
    const std::lock_guard lock(mutex_);
    return retained_.Holds(topic);
}

void MqttLink::RequestStop() {
    {
        const std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    changed_.notify_all();
}

bool MqttLink::WaitFinished(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return finished_; });
}

std::size_t MqttLink::UnsentCount() {
    const std::lock_guard lock(mutex_);
    return queue_.size() + retained_.Unsent();
}

void MqttLink::Silence() {
    const std::lock_guard lock(newsMutex_);
    silenced_ = true;
}

template <typename Call>
void MqttLink::Tell(const Call& call) {
    const std::lock_guard lock(newsMutex_);
    if (!silenced_) {
        call(news_);
    }
}

void MqttLink::Log(const QString& line) {
    Tell([&line](const MqttLinkNews& news) { news.log(line); });
}

bool MqttLink::StopRequested() {
    const std::lock_guard lock(mutex_);
    return stopRequested_;
}

bool MqttLink::SleepUnlessStopped(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, duration, [this] { return stopRequested_; });
}

void MqttLink::Run() {
    if (!settings_.user.isEmpty() && !settings_.tls && !Loopback(settings_.host)) {
        Log(QStringLiteral("MQTT: the password for %1 goes unencrypted to %2; use mqtts:// "
                           "beyond this host")
                .arg(settings_.user, url_));
    }
    std::chrono::milliseconds delay = kFirstRetry;
    while (!StopRequested()) {
        if (Session()) {
            delay = kFirstRetry;
        }
        if (!SleepUnlessStopped(delay)) {
            break;
        }
        delay = std::min(delay * 2, kLastRetry);
    }
    {
        const std::lock_guard lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}

bool MqttLink::Session() {
    connected_ = false;
    phase_ = Phase::Connecting;
    refusal_ = 0;
    lastError_.clear();
    inFlight_.clear();
    droppedInFlight_ = false;
    {
        const std::lock_guard lock(mutex_);
        handed_ = 0;
        retained_.ResendAll();
    }

    const Client client(mosquitto_new(settings_.clientId.toUtf8().constData(), true, this));
    if (!client) {
        Report(State::Unreachable, QStringLiteral("MQTT: cannot create a client for %1").arg(url_));
        return false;
    }
    int code = Configure(client.get());
    if (code == MOSQ_ERR_SUCCESS) {
        // Resolves the host name: the reason this runs on the network thread.
        code = mosquitto_connect_async(client.get(), settings_.host.toUtf8().constData(),
                                       settings_.port, kKeepaliveS);
    }
    if (code != MOSQ_ERR_SUCCESS) {
        ReportFailure(code);
        return false;
    }
    const auto deadline = SteadyClock::now() + kConnectTimeout;
    while (!StopRequested()) {
        code = mosquitto_loop(client.get(), kLoopMs, 1);
        if (refusal_ != 0) {
            Report(State::Refused,
                   QStringLiteral("MQTT: %1 refused the connection: %2")
                       .arg(url_, QString::fromUtf8(mosquitto_connack_string(refusal_))));
            return false;
        }
        if (code != MOSQ_ERR_SUCCESS) {
            if (!connected_) {
                ReportFailure(code);
                return false;
            }
            Lost(code);
            return !quickEnd_;
        }
        if (phase_ == Phase::Learning) {
            CheckLearning(client.get());
        }
        if (phase_ == Phase::Asserting || phase_ == Phase::Online) {
            Pump(client.get(), false);
        }
        // After connections that ended at once, "connected" waits until this one holds.
        if (phase_ == Phase::Online && reported_ != State::Connected &&
            (!quickEnd_ || SteadyClock::now() - connectedAt_ >= WorkingAfter())) {
            Report(State::Connected, QStringLiteral("MQTT: connected to %1").arg(url_));
        }
        if (!connected_ && SteadyClock::now() > deadline) {
            Report(State::Unreachable,
                   QStringLiteral("MQTT: %1 does not answer; retrying").arg(url_));
            return false;
        }
    }
    if (connected_) {
        Drain(client.get());
        SayOffline(client.get());
    }
    return connected_;
}

std::chrono::milliseconds MqttLink::WorkingAfter() const {
    return reported_ == State::TakenOver ? kWorkingWhileContested : kWorkingSession;
}

int MqttLink::Configure(mosquitto* client) {
    mosquitto_connect_callback_set(client, [](mosquitto* mosq, void* self, int code) {
        static_cast<MqttLink*>(self)->OnConnect(mosq, code);
    });
    mosquitto_disconnect_callback_set(client, [](mosquitto*, void* self, int) {
        static_cast<MqttLink*>(self)->disconnected_ = true;
    });
    mosquitto_publish_callback_set(client, [](mosquitto*, void* self, int mid) {
        static_cast<MqttLink*>(self)->OnPublish(mid);
    });
    mosquitto_subscribe_callback_set(
        client, [](mosquitto*, void* self, int mid, int count, const int* granted) {
            static_cast<MqttLink*>(self)->OnSubscribe(mid, count > 0 ? granted[0] : 0);
        });
    mosquitto_message_callback_set(client,
                                   [](mosquitto*, void* self, const mosquitto_message* message) {
                                       static_cast<MqttLink*>(self)->OnMessage(*message);
                                   });
    // libmosquitto names what failed in a TLS handshake only in its log.
    mosquitto_log_callback_set(client, [](mosquitto*, void* self, int level, const char* text) {
        if (level == MOSQ_LOG_ERR) {
            static_cast<MqttLink*>(self)->lastError_ = QString::fromUtf8(text);
        }
    });
    // Its own default window of 20 would cap the throughput at 20 messages a round trip.
    int code = mosquitto_int_option(client, MOSQ_OPT_SEND_MAXIMUM,
                                    static_cast<int>(kWindow) + kWindowExtra);
    const QByteArray status = topics_.ClientStatus();
    if (code == MOSQ_ERR_SUCCESS) {
        code = mosquitto_will_set(client, status.constData(), Length(kOffline),
                                  kOffline.constData(), settings_.qos, true);
    }
    return code == MOSQ_ERR_SUCCESS ? ConfigureCredentials(client, settings_) : code;
}

void MqttLink::OnConnect(mosquitto* client, int code) {
    if (code != 0) {
        refusal_ = code;
        return;
    }
    connected_ = true;
    connectedAt_ = SteadyClock::now();
    phase_ = Phase::Learning;
    learned_ = false;
    learnRefused_ = false;
    learnDeadline_ = connectedAt_ + kLearnTimeout;
    // The broker handles one client's packets in order: the retained messages of the
    // subscription are on their way before the mark is.
    mosquitto_subscribe(client, &learnMid_, topics_.OwnFilter().constData(), 1);
    static const std::uint64_t salt = std::random_device{}();
    mark_ = QByteArray::number(salt) + '-' + QByteArray::number(++marks_);
    const QByteArray sync = topics_.SyncTopic();
    mosquitto_publish(client, nullptr, sync.constData(), Length(mark_), mark_.constData(), 1,
                      false);
}

void MqttLink::OnSubscribe(int mid, int granted) {
    if (granted != kSubscriptionRefused) {
        return;
    }
    if (mid == learnMid_) {
        learnRefused_ = true;
    } else if (mid == relayMid_ && !toldRelayRefusal_) {
        toldRelayRefusal_ = true;
        Log(QStringLiteral("MQTT: %1 refused the subscription to relay commands (%2)")
                .arg(url_, QString::fromUtf8(topics_.RelayCommandFilter())));
    } else if (mid == ackMid_ && !toldAckRefusal_) {
        toldAckRefusal_ = true;
        Log(QStringLiteral("MQTT: %1 refused the subscription to alarm acknowledgements (%2)")
                .arg(url_, QString::fromUtf8(topics_.AlarmAckFilter())));
    }
}

void MqttLink::OnMessage(const mosquitto_message& message) {
    const QByteArray topic(message.topic);
    const QByteArray payload(static_cast<const char*>(message.payload), message.payloadlen);
    if (phase_ == Phase::Learning) {
        if (message.retain && topic != topics_.ClientStatus()) {
            const std::lock_guard lock(mutex_);
            retained_.Found(topic.mid(topics_.Base().size()), payload);
        } else if (!message.retain && topic == topics_.SyncTopic() && payload == mark_) {
            learned_ = true;
        }
        return;
    }
    // What else the reading back brought in before it ended is the node's own.
    if (settings_.alarmAcks && topic.endsWith("/ack")) {
        auto parsed = topics_.ParseAlarmAck(topic, payload, message.retain);
        if (auto* ack = std::get_if<AlarmAck>(&parsed)) {
            Tell([ack](const MqttLinkNews& news) { news.alarmAck(*ack); });
        } else {
            Log(QStringLiteral("MQTT: ignored acknowledgement on %1: %2")
                    .arg(QString::fromUtf8(topic), std::get<QString>(parsed)));
        }
        return;
    }
    if (!settings_.relayCommands || !topic.endsWith("/set")) {
        return;
    }
    auto parsed = topics_.ParseRelayCommand(topic, payload, message.retain);
    if (const auto* command = std::get_if<RelayCommand>(&parsed)) {
        Tell([command](const MqttLinkNews& news) { news.relay(*command); });
        return;
    }
    Log(QStringLiteral("MQTT: ignored command on %1: %2")
            .arg(QString::fromUtf8(topic), std::get<QString>(parsed)));
}

void MqttLink::CheckLearning(mosquitto* client) {
    if (learned_ || learnRefused_ || SteadyClock::now() >= learnDeadline_) {
        FinishLearning(client);
    }
}

void MqttLink::FinishLearning(mosquitto* client) {
    if (!learned_ && !toldLearning_) {
        toldLearning_ = true;
        Log(QStringLiteral("MQTT: cannot read back %1 from %2: statuses left from before this "
                           "start are not corrected (grant the node read access to its own "
                           "topics)")
                .arg(QString::fromUtf8(topics_.OwnFilter()), url_));
    }
    mosquitto_unsubscribe(client, nullptr, topics_.OwnFilter().constData());
    // Subscribed before "online" goes out, so that whoever sees "online" can command at once.
    if (settings_.relayCommands) {
        mosquitto_subscribe(client, &relayMid_, topics_.RelayCommandFilter().constData(),
                            settings_.qos);
    }
    if (settings_.alarmAcks) {
        mosquitto_subscribe(client, &ackMid_, topics_.AlarmAckFilter().constData(), settings_.qos);
    }
    phase_ = Phase::Asserting;
}

std::size_t MqttLink::Room() const {
    return inFlight_.size() < kWindow ? kWindow - inFlight_.size() : 0;
}

void MqttLink::Pump(mosquitto* client, bool stopping) {
    if (!PumpRetained(client)) {
        return;
    }
    if (phase_ == Phase::Asserting && !stopping) {
        const QByteArray status = topics_.ClientStatus();
        mosquitto_publish(client, nullptr, status.constData(), Length(kOnline), kOnline.constData(),
                          settings_.qos, true);
        phase_ = Phase::Online;
    }
    if (phase_ == Phase::Online || stopping) {
        PumpQueue(client);
    }
}

bool MqttLink::PumpRetained(mosquitto* client) {
    for (std::size_t room = Room(); room > 0; --room) {
        std::optional<RetainedStore::Send> next;
        {
            const std::lock_guard lock(mutex_);
            next = retained_.Next();
        }
        if (!next) {
            return true;
        }
        const QByteArray topic = topics_.Base() + next->topic;
        int mid = 0;
        const int code = mosquitto_publish(client, &mid, topic.constData(), Length(next->payload),
                                           next->payload.constData(), settings_.qos, true);
        if (code == MOSQ_ERR_SUCCESS && settings_.qos > 0) {
            inFlight_[mid] = {InFlight::Kind::Retained, 0, *next, 0, SteadyClock::now()};
        } else if (code == MOSQ_ERR_SUCCESS || Unpublishable(code)) {
            const std::lock_guard lock(mutex_);
            if (code == MOSQ_ERR_SUCCESS) {
                retained_.Acknowledged(*next);
            } else {
                retained_.GiveUp(*next);
            }
        } else {
            return false;
        }
        if (Unpublishable(code)) {
            Log(QStringLiteral("MQTT: cannot publish to %1: %2")
                    .arg(QString::fromUtf8(topic), QString::fromUtf8(mosquitto_strerror(code))));
        }
    }
    const std::lock_guard lock(mutex_);
    return !retained_.HasNext();
}

void MqttLink::PumpQueue(mosquitto* client) {
    std::uint64_t dropped = 0;
    {
        const std::lock_guard lock(mutex_);
        dropped = droppedInFlight_ ? 0 : dropped_;
    }
    if (dropped != 0 && Room() > 0) {
        // Ahead of everything still queued: it tells about messages older than all of them.
        const MqttMessage message = topics_.FormatDropped(dropped, LocalClock().Now());
        int mid = 0;
        if (mosquitto_publish(client, &mid, message.topic.constData(), Length(message.payload),
                              message.payload.constData(), settings_.qos,
                              false) == MOSQ_ERR_SUCCESS) {
            droppedInFlight_ = true;
            inFlight_[mid] = {InFlight::Kind::Dropped, 0, {}, dropped, SteadyClock::now()};
            if (settings_.qos == 0) {
                OnPublish(mid);
            }
        }
    }
    for (std::size_t room = Room(); room > 0; --room) {
        std::optional<Queued> next;
        {
            const std::lock_guard lock(mutex_);
            if (handed_ >= queue_.size()) {
                return;
            }
            next = queue_[handed_++];
        }
        const MqttMessage message = topics_.Format(next->item, names_);
        int mid = 0;
        const int code =
            mosquitto_publish(client, &mid, message.topic.constData(), Length(message.payload),
                              message.payload.constData(), settings_.qos, message.retained);
        if (code == MOSQ_ERR_SUCCESS && settings_.qos > 0) {
            // Leaves the queue only with the broker's acknowledgement.
            inFlight_[mid] = {InFlight::Kind::Queued, next->id, {}, 0, SteadyClock::now()};
        } else if (code == MOSQ_ERR_SUCCESS) {
            published_.fetch_add(1, std::memory_order_relaxed);
            Remove(next->id);
        } else if (Unpublishable(code)) {
            droppedTotal_.fetch_add(1, std::memory_order_relaxed);
            Remove(next->id);
            Log(QStringLiteral("MQTT: cannot publish to %1: %2")
                    .arg(QString::fromUtf8(message.topic),
                         QString::fromUtf8(mosquitto_strerror(code))));
        } else {
            return;
        }
    }
}

void MqttLink::OnPublish(int mid) {
    if (mid == offlineMid_) {
        offlineAcknowledged_ = true;
    }
    const auto found = inFlight_.find(mid);
    if (found == inFlight_.end()) {
        return;
    }
    const InFlight done = std::move(found->second);
    inFlight_.erase(found);
    switch (done.kind) {
        case InFlight::Kind::Queued:
            published_.fetch_add(1, std::memory_order_relaxed);
            Remove(done.id);
            break;
        case InFlight::Kind::Retained: {
            const std::lock_guard lock(mutex_);
            retained_.Acknowledged(done.retained);
            break;
        }
        case InFlight::Kind::Dropped: {
            {
                const std::lock_guard lock(mutex_);
                dropped_ -= done.dropped;
            }
            droppedInFlight_ = false;
            Log(QStringLiteral("MQTT: %1 messages dropped while the broker could not take them")
                    .arg(done.dropped));
            break;
        }
    }
}

void MqttLink::Lost(int code) {
    const auto now = SteadyClock::now();
    quickEnd_ = now - connectedAt_ < WorkingAfter();
    // Acknowledgements come in order: the oldest message the broker did not answer is the one
    // it ended the connection for, if any was.
    const auto oldest = std::min_element(
        inFlight_.begin(), inFlight_.end(),
        [](const auto& a, const auto& b) { return a.second.sentAt < b.second.sentAt; });
    int failures = 0;
    if (oldest != inFlight_.end() && now - oldest->second.sentAt < kBlameWindow) {
        failures = Blame(oldest->second);
    }
    // The same message blamed again is that message's fault, not another client's.
    quickEndsInARow_ = quickEnd_ && failures < 2 ? quickEndsInARow_ + 1 : 0;
    if (quickEndsInARow_ >= 2) {
        Report(State::TakenOver,
               QStringLiteral("MQTT: %1 keeps ending the connection right after it is made: "
                              "another client uses the id %2; retrying less often")
                   .arg(url_, settings_.clientId));
    } else {
        ReportFailure(code);
    }
}

int MqttLink::Blame(const InFlight& suspect) {
    int failures = 0;
    QByteArray topic;
    {
        const std::lock_guard lock(mutex_);
        if (suspect.kind == InFlight::Kind::Retained) {
            failures = retained_.Failed(suspect.retained);
            topic = topics_.Base() + suspect.retained.topic;
        } else if (suspect.kind == InFlight::Kind::Queued) {
            const auto queued = std::find_if(queue_.begin(), queue_.end(), [&](const Queued& item) {
                return item.id == suspect.id;
            });
            if (queued != queue_.end()) {
                failures = ++queued->failures;
                topic = topics_.Format(queued->item, names_).topic;
            }
        }
    }
    if (failures == RetainedStore::kMostFailures) {
        if (suspect.kind == InFlight::Kind::Queued) {
            Remove(suspect.id);
            droppedTotal_.fetch_add(1, std::memory_order_relaxed);
        }
        Log(QStringLiteral("MQTT: %1 ended the connection %2 times right after a message to %3; "
                           "that message is dropped")
                .arg(url_)
                .arg(RetainedStore::kMostFailures)
                .arg(QString::fromUtf8(topic)));
    }
    return failures;
}

void MqttLink::Drain(mosquitto* client) {
    const auto deadline = SteadyClock::now() + kDrainTimeout;
    // A stop while reading back goes on without it: what the store holds is sent as it is.
    if (phase_ == Phase::Learning) {
        learned_ = true;
        FinishLearning(client);
    }
    const auto pending = [this] {
        const std::lock_guard lock(mutex_);
        return !queue_.empty() || retained_.Unsent() > 0;
    };
    while (pending() && SteadyClock::now() < deadline) {
        Pump(client, true);
        if (mosquitto_loop(client, kLoopMs, 1) != MOSQ_ERR_SUCCESS) {
            return;
        }
    }
}

void MqttLink::SayOffline(mosquitto* client) {
    offlineAcknowledged_ = false;
    const QByteArray status = topics_.ClientStatus();
    const int code = mosquitto_publish(client, &offlineMid_, status.constData(), Length(kOffline),
                                       kOffline.constData(), settings_.qos, true);
    if (code == MOSQ_ERR_SUCCESS && settings_.qos > 0) {
        const auto deadline = SteadyClock::now() + kOfflineTimeout;
        while (!offlineAcknowledged_ && SteadyClock::now() < deadline &&
               mosquitto_loop(client, kLoopMs, 1) == MOSQ_ERR_SUCCESS) {
        }
    }
    disconnected_ = false;
    if (mosquitto_disconnect(client) == MOSQ_ERR_SUCCESS) {
        const auto deadline = SteadyClock::now() + kDisconnectTimeout;
        while (!disconnected_ && SteadyClock::now() < deadline &&
               mosquitto_loop(client, kLoopMs, 1) == MOSQ_ERR_SUCCESS) {
        }
    }
}

void MqttLink::ReportFailure(int code) {
    // For MOSQ_ERR_ERRNO this reads errno: before anything else can change it.
    const QString reason = QString::fromUtf8(mosquitto_strerror(code));
    if (code == MOSQ_ERR_TLS || code == MOSQ_ERR_TLS_HANDSHAKE) {
        Report(State::TlsFailed, QStringLiteral("MQTT: TLS with %1 failed: %2")
                                     .arg(url_, lastError_.isEmpty() ? reason : lastError_));
    } else if (connected_) {
        Report(State::Unreachable,
               QStringLiteral("MQTT: connection to %1 lost (%2); retrying").arg(url_, reason));
    } else {
        Report(State::Unreachable,
               QStringLiteral("MQTT: cannot reach %1 (%2); retrying").arg(url_, reason));
    }
}

void MqttLink::Report(State state, const QString& message) {
    if (state == reported_) {
        return;
    }
    reported_ = state;
    connectedNow_.store(state == State::Connected, std::memory_order_relaxed);
    Tell([&message, state](const MqttLinkNews& news) {
        news.state(message, state != State::Connected);
    });
}

void MqttLink::Remove(std::uint64_t id) {
    const std::lock_guard lock(mutex_);
    // Acknowledgements come in order: the message is nearly always the first.
    const auto found = std::find_if(queue_.begin(), queue_.end(),
                                    [id](const Queued& queued) { return queued.id == id; });
    if (found != queue_.end()) {
        if (static_cast<std::size_t>(found - queue_.begin()) < handed_) {
            --handed_;
        }
        queue_.erase(found);
    }
    queued_.store(queue_.size(), std::memory_order_relaxed);
}

}  // namespace corvelle
