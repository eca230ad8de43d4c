// An MQTT subscriber for the publishing benchmarks, in a process of its own so that what it
// costs is not taken for the console's or the service's cost. It keeps its session
// (clean_session false, QoS 1), so that what is published while it reconnects waits for it at
// the broker, and subscribes again on every connection. Reads one command a line from its
// input and answers each with one line that starts with the command's name:
//   subscribed  once the current connection's subscription is acknowledged (30 s at most):
//               "subscribed ok=1 connections=N"
//   counts      "counts connections=N duplicates=N TOPIC@MV=N ...": distinct readings by topic
//               and by the value every channel carries (-1 when the channels differ)
// Usage: bench_subscriber PORT CLIENT_ID TOPIC_FILTER
#include <mosquitto.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

namespace {

struct TopicSeen {
    // A redelivered copy has the same bytes as the first.
    std::unordered_set<std::size_t> payloads;
    std::map<int, int> byValue;
};

struct State {
    std::string filter;
    std::mutex mutex;
    std::condition_variable changed;
    int connections = 0;
    // The connection whose subscription the broker acknowledged last.
    int subscribedOn = 0;
    int duplicates = 0;
    std::map<std::string, TopicSeen> topics;
};

// The value all channels carry, or -1.
int CommonValue(const QByteArray& payload) {
    const QJsonArray channels =
        QJsonDocument::fromJson(payload).object().value(QStringLiteral("channels_mv")).toArray();
    if (channels.isEmpty()) {
        return -1;
    }
    const int first = channels.first().toInt(-1);
    for (const auto& channel : channels) {
        if (channel.toInt(-1) != first) {
            return -1;
        }
    }
    return first;
}

void OnMessage(State& state, const mosquitto_message& message) {
    const std::string_view bytes(static_cast<const char*>(message.payload),
                                 static_cast<std::size_t>(message.payloadlen));
    const int value = CommonValue(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    const std::lock_guard lock(state.mutex);
    TopicSeen& seen = state.topics[message.topic];
    if (!seen.payloads.insert(std::hash<std::string_view>{}(bytes)).second) {
        ++state.duplicates;
        return;
    }
    ++seen.byValue[value];
}

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_subscriber PORT CLIENT_ID TOPIC_FILTER\n");
        return 2;
    }
    const int port = static_cast<int>(std::strtol(argv[1], nullptr, 10));
    State state;
    state.filter = argv[3];
    mosquitto_lib_init();
    mosquitto* client = mosquitto_new(argv[2], false, &state);
    if (client == nullptr) {
        std::fprintf(stderr, "bench_subscriber: no client\n");
        return 1;
    }
    mosquitto_connect_callback_set(client, [](mosquitto* mosq, void* self, int code) {
        auto& s = *static_cast<State*>(self);
        if (code != 0) {
            return;
        }
        {
            const std::lock_guard lock(s.mutex);
            ++s.connections;
        }
        mosquitto_subscribe(mosq, nullptr, s.filter.c_str(), 1);
    });
    mosquitto_subscribe_callback_set(client, [](mosquitto*, void* self, int, int, const int*) {
        auto& s = *static_cast<State*>(self);
        {
            const std::lock_guard lock(s.mutex);
            s.subscribedOn = s.connections;
        }
        s.changed.notify_all();
    });
    mosquitto_message_callback_set(client, [](mosquitto*, void* self, const mosquitto_message* m) {
        OnMessage(*static_cast<State*>(self), *m);
    });
    // Tried again every second while the broker is away.
    mosquitto_reconnect_delay_set(client, 1, 1, false);
    if (mosquitto_connect_async(client, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(client) != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "bench_subscriber: cannot connect to port %d\n", port);
        return 1;
    }

    std::string line;
    while (std::getline(std::cin, line)) {
        std::unique_lock lock(state.mutex);
        if (line == "subscribed") {
            const bool ok = state.changed.wait_for(lock, std::chrono::seconds(30), [&] {
                return state.connections > 0 && state.subscribedOn == state.connections;
            });
            Say("subscribed ok=" + std::to_string(ok ? 1 : 0) +
                " connections=" + std::to_string(state.connections));
        } else if (line == "counts") {
            std::string answer = "counts connections=" + std::to_string(state.connections) +
                                 " duplicates=" + std::to_string(state.duplicates);
            for (const auto& [topic, seen] : state.topics) {
                for (const auto& [value, count] : seen.byValue) {
                    answer +=
                        " " + topic + "@" + std::to_string(value) + "=" + std::to_string(count);
                }
            }
            Say(answer);
        }
    }
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
    mosquitto_lib_cleanup();
    return 0;
}
