#include "mqtt/mqtt_link.h"

#include <mosquitto.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>

#include "device/qt/qt_page_ports.h"

namespace corvelle {
namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kFirstRetry = 1s;
constexpr std::chrono::milliseconds kLastRetry = 30s;
constexpr int kKeepaliveS = 20;
// A broker that accepted the TCP connection but never answers is tried again after this.
constexpr auto kConnectTimeout = 10s;
// How soon a queued message goes out and a stop is seen while the socket is quiet.
constexpr int kLoopMs = 50;
// Messages handed to libmosquitto and not yet acknowledged; its own default window.
constexpr std::size_t kInFlight = 20;
// Stop gives the queue this long to go out, waits this long for the broker to take "offline",
// then for the disconnect to go out: together within the 2 s a stop may take.
constexpr auto kDrainTimeout = 400ms;
constexpr auto kOfflineTimeout = 1s;
constexpr auto kDisconnectTimeout = 300ms;

constexpr std::string_view kOnline = "online";
constexpr std::string_view kOffline = "offline";

struct ClientDeleter {
    void operator()(mosquitto* client) const { mosquitto_destroy(client); }
};
using Client = std::unique_ptr<mosquitto, ClientDeleter>;

// What the broker will never take, however often it is sent; anything else is the connection's
// fault and goes again on the next one.
bool Unpublishable(int code) {
    return code == MOSQ_ERR_INVAL || code == MOSQ_ERR_MALFORMED_UTF8 ||
           code == MOSQ_ERR_PAYLOAD_SIZE || code == MOSQ_ERR_OVERSIZE_PACKET;
}

QString UrlText(const MqttSettings& settings) {
    const QString host = settings.host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + settings.host + QLatin1Char(']')
                             : settings.host;
    return QStringLiteral("%1://%2:%3")
        .arg(settings.tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), host)
        .arg(settings.port);
}

int Length(const QByteArray& bytes) {
    return static_cast<int>(bytes.size());
}

int Length(std::string_view text) {
    return static_cast<int>(text.size());
}

}  // namespace

MqttLink::MqttLink(MqttSettings settings, MqttLinkNews news)
    : settings_(std::move(settings)),
      url_(UrlText(settings_)),
      topics_(settings_.prefix, settings_.clientId),
      news_(std::move(news)) {}

void MqttLink::Enqueue(Outgoing item) {
    const std::lock_guard lock(mutex_);
    if (stopRequested_) {
        return;
    }
    queue_.push_back({nextId_++, std::move(item), false});
    while (queue_.size() > settings_.queueLimit) {
        queue_.pop_front();
        ++dropped_;
    }
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

std::size_t MqttLink::QueuedCount() {
    const std::lock_guard lock(mutex_);
    return queue_.size();
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

bool MqttLink::StopRequested() {
    const std::lock_guard lock(mutex_);
    return stopRequested_;
}

bool MqttLink::SleepUnlessStopped(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, duration, [this] { return stopRequested_; });
}

void MqttLink::Run() {
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
    refusal_ = 0;
    lastError_.clear();
    inFlight_.clear();
    MarkAllUnsent();

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
            ReportFailure(code);
            return connected_;
        }
        if (connected_) {
            Pump(client.get());
        } else if (SteadyClock::now() > deadline) {
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
    const QByteArray status = topics_.ClientStatus();
    int code = mosquitto_will_set(client, status.constData(), Length(kOffline), kOffline.data(),
                                  settings_.qos, true);
    if (code == MOSQ_ERR_SUCCESS && !settings_.user.isEmpty()) {
        code = mosquitto_username_pw_set(
            client, settings_.user.toUtf8().constData(),
            settings_.password.isEmpty() ? nullptr : settings_.password.toUtf8().constData());
    }
    if (code == MOSQ_ERR_SUCCESS && settings_.tls) {
        code = settings_.caFile.isEmpty()
                   ? mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                   : mosquitto_tls_set(client, settings_.caFile.toUtf8().constData(), nullptr,
                                       nullptr, nullptr, nullptr);
    }
    return code;
}

void MqttLink::OnConnect(mosquitto* client, int code) {
    if (code != 0) {
        refusal_ = code;
        return;
    }
    connected_ = true;
    // Subscribed before "online" goes out, so that whoever sees "online" can command at once.
    if (settings_.relayCommands) {
        mosquitto_subscribe(client, nullptr, topics_.RelayCommandFilter().constData(),
                            settings_.qos);
    }
    mosquitto_publish(client, nullptr, topics_.ClientStatus().constData(), Length(kOnline),
                      kOnline.data(), settings_.qos, true);
    Report(State::Connected, QStringLiteral("MQTT: connected to %1").arg(url_));
}

void MqttLink::Pump(mosquitto* client) {
    std::uint64_t dropped = 0;
    {
        const std::lock_guard lock(mutex_);
        std::swap(dropped, dropped_);
    }
    if (dropped != 0) {
        // Ahead of everything still queued: it tells about messages older than all of them.
        AcquisitionEvent event;
        event.time = LocalClock().Now();
        event.kind = EventKind::ReadingsDropped;
        event.value = static_cast<std::int64_t>(dropped);
        {
            const std::lock_guard lock(mutex_);
            queue_.push_front({nextId_++, std::move(event), false});
        }
        Tell([dropped](const MqttLinkNews& news) {
            news.log(QStringLiteral("MQTT: %1 messages dropped while the broker could not take "
                                    "them")
                         .arg(dropped));
        });
    }
    for (std::size_t handed = 0; handed < kInFlight && inFlight_.size() < kInFlight; ++handed) {
        std::optional<Queued> next;
        {
            const std::lock_guard lock(mutex_);
            const auto unsent = std::find_if(queue_.begin(), queue_.end(),
                                             [](const Queued& queued) { return !queued.sent; });
            if (unsent == queue_.end()) {
                return;
            }
            unsent->sent = true;
            next = *unsent;
        }
        const MqttMessage message = topics_.Format(next->item, names_);
        int mid = 0;
        const int code =
            mosquitto_publish(client, &mid, message.topic.constData(), Length(message.payload),
                              message.payload.constData(), settings_.qos, message.retained);
        if (code == MOSQ_ERR_SUCCESS && settings_.qos > 0) {
            // Leaves the queue only with the broker's acknowledgement.
            inFlight_[mid] = next->id;
        } else if (code == MOSQ_ERR_SUCCESS) {
            Remove(next->id);
        } else if (Unpublishable(code)) {
            Remove(next->id);
            Tell([&message, code](const MqttLinkNews& news) {
                news.log(QStringLiteral("MQTT: cannot publish to %1: %2")
                             .arg(QString::fromUtf8(message.topic),
                                  QString::fromUtf8(mosquitto_strerror(code))));
            });
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
    if (found != inFlight_.end()) {
        Remove(found->second);
        inFlight_.erase(found);
    }
}

void MqttLink::OnMessage(const mosquitto_message& message) {
    const QByteArray topic(message.topic);
    const QByteArray payload(static_cast<const char*>(message.payload), message.payloadlen);
    auto parsed = topics_.ParseRelayCommand(topic, payload, message.retain, names_);
    if (const auto* command = std::get_if<RelayCommand>(&parsed)) {
        Tell([command](const MqttLinkNews& news) { news.relay(*command); });
        return;
    }
    Tell([&topic, &parsed](const MqttLinkNews& news) {
        news.log(QStringLiteral("MQTT: ignored command on %1: %2")
                     .arg(QString::fromUtf8(topic), std::get<QString>(parsed)));
    });
}

void MqttLink::Drain(mosquitto* client) {
    const auto deadline = SteadyClock::now() + kDrainTimeout;
    const auto pending = [this] {
        const std::lock_guard lock(mutex_);
        return !queue_.empty();
    };
    while (pending() && SteadyClock::now() < deadline) {
        Pump(client);
        if (mosquitto_loop(client, kLoopMs, 1) != MOSQ_ERR_SUCCESS) {
            return;
        }
    }
}

void MqttLink::SayOffline(mosquitto* client) {
    offlineAcknowledged_ = false;
    const QByteArray status = topics_.ClientStatus();
    const int code = mosquitto_publish(client, &offlineMid_, status.constData(), Length(kOffline),
                                       kOffline.data(), settings_.qos, true);
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
    Tell([&message, state](const MqttLinkNews& news) {
        news.state(message, state != State::Connected);
    });
}

void MqttLink::MarkAllUnsent() {
    const std::lock_guard lock(mutex_);
    for (Queued& queued : queue_) {
        queued.sent = false;
    }
}

void MqttLink::Remove(std::uint64_t id) {
    const std::lock_guard lock(mutex_);
    const auto found = std::find_if(queue_.begin(), queue_.end(),
                                    [id](const Queued& queued) { return queued.id == id; });
    if (found != queue_.end()) {
        queue_.erase(found);
    }
}

}  // namespace corvelle
