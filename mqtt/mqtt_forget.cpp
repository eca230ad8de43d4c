#include "mqtt/mqtt_forget.h"

#include <mosquitto.h>

#include <QStringEncoder>
#include <chrono>
#include <functional>
#include <memory>
#include <set>

#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_messages.h"

namespace corvelle {
namespace {

using namespace std::chrono_literals;

// Each step (connect, read back, removals taken) gets this long.
constexpr auto kStepTimeout = 10s;

struct Forgetting {
    QByteArrayList filters;
    QByteArray syncTopic;
    QByteArray mark;
    int connack = -1;
    bool marked = false;
    QByteArrayList found;
    // Removals the broker has not acknowledged.
    std::set<int> removing;
};

// Runs the connection until done() or the step's time is up; false for the latter, or a failure.
bool LoopUntil(mosquitto* client, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kStepTimeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline ||
            mosquitto_loop(client, kLoopMs, 1) != MOSQ_ERR_SUCCESS) {
            return false;
        }
    }
    return true;
}

// The terminal's levels: the one made from its name, and the name itself if it is a level.
QByteArrayList Levels(const QString& name) {
    QStringEncoder encoder("GB18030");
    const QByteArray raw = encoder.isValid() ? encoder.encode(name) : name.toUtf8();
    DeviceNames names;
    const QByteArray made = names
                                .Of({reinterpret_cast<const std::uint8_t*>(raw.constData()),
                                     static_cast<std::size_t>(raw.size())})
                                .level;
    const QByteArray given = name.toUtf8();
    const bool usable =
        !given.isEmpty() && !given.contains('/') && !given.contains('+') && !given.contains('#');
    return usable && given != made ? QByteArrayList{made, given} : QByteArrayList{made};
}

}  // namespace

ForgetOutcome ForgetTerminal(const MqttSettings& settings, const QString& name) {
    InitialiseMosquitto();
    const MqttTopics topics(settings.prefix, settings.clientId);
    const QString url = BrokerUrl(settings);
    Forgetting state;
    for (const QByteArray& level : Levels(name)) {
        state.filters.append(topics.Base() + level + "/#");
    }
    state.syncTopic = topics.SyncTopic();
    state.mark = "forget";

    const std::unique_ptr<mosquitto, ClientDeleter> client(mosquitto_new(
        (settings.clientId + QStringLiteral("-forget")).toUtf8().constData(), true, &state));
    if (!client) {
        return {{}, QStringLiteral("cannot create an MQTT client")};
    }
    mosquitto* mosq = client.get();
    mosquitto_connect_callback_set(mosq, [](mosquitto*, void* self, int code) {
        static_cast<Forgetting*>(self)->connack = code;
    });
    mosquitto_message_callback_set(mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
        auto& s = *static_cast<Forgetting*>(self);
        const QByteArray topic(m->topic);
        const QByteArray payload(static_cast<const char*>(m->payload), m->payloadlen);
        if (m->retain && topic != s.syncTopic) {
            s.found.append(topic);
        } else if (topic == s.syncTopic && payload == s.mark) {
            s.marked = true;
        }
    });
    mosquitto_publish_callback_set(mosq, [](mosquitto*, void* self, int mid) {
        static_cast<Forgetting*>(self)->removing.erase(mid);
    });
    int code = ConfigureCredentials(mosq, settings);
    if (code == MOSQ_ERR_SUCCESS) {
        code =
            mosquitto_connect(mosq, settings.host.toUtf8().constData(), settings.port, kKeepaliveS);
    }
    if (code != MOSQ_ERR_SUCCESS || !LoopUntil(mosq, [&state] { return state.connack >= 0; })) {
        return {{}, QStringLiteral("cannot reach %1").arg(url)};
    }
    if (state.connack != 0) {
        return {{},
                QStringLiteral("%1 refused the connection: %2")
                    .arg(url, QString::fromUtf8(mosquitto_connack_string(state.connack)))};
    }
    // The broker handles a client's packets in order: the retained messages come before the
    // mark does.
    for (const QByteArray& filter : state.filters) {
        mosquitto_subscribe(mosq, nullptr, filter.constData(), 1);
    }
    mosquitto_subscribe(mosq, nullptr, state.syncTopic.constData(), 1);
    mosquitto_publish(mosq, nullptr, state.syncTopic.constData(),
                      static_cast<int>(state.mark.size()), state.mark.constData(), 1, false);
    if (!LoopUntil(mosq, [&state] { return state.marked; })) {
        return {{}, QStringLiteral("cannot read back the retained topics from %1").arg(url)};
    }
    for (const QByteArray& topic : state.found) {
        int mid = 0;
        if (mosquitto_publish(mosq, &mid, topic.constData(), 0, nullptr, 1, true) ==
            MOSQ_ERR_SUCCESS) {
            state.removing.insert(mid);
        }
    }
    const bool taken = LoopUntil(mosq, [&state] { return state.removing.empty(); });
    mosquitto_disconnect(mosq);
    mosquitto_loop(mosq, kLoopMs, 1);
    if (!taken) {
        return {state.found, QStringLiteral("%1 did not take every removal").arg(url)};
    }
    return {state.found, {}};
}

}  // namespace corvelle
