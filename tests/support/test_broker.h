#pragma once

#include <mosquitto.h>

#include <QByteArrayList>
#include <QTest>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "mqtt/mqtt_options.h"
#include "tests/support/free_port.h"
#include "tests/support/mosquitto_broker.h"

namespace corvelle::test {

inline const QString kAnonymous = QStringLiteral("allow_anonymous true\n");

// A mosquitto of the test's own on a free loopback port, started at once.
class TestBroker : public MosquittoBroker {
  public:
    explicit TestBroker(const QString& access = kAnonymous)
        : MosquittoBroker(test::FreePort(), access) {
        Start();
    }

    void Start() { EXPECT_TRUE(MosquittoBroker::Start()); }
};

// Publishing to a broker of the test's on 127.0.0.1 as client id.
inline MqttSettings BrokerSettings(quint16 port, const QString& id) {
    MqttSettings settings;
    settings.enabled = true;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    settings.clientId = id;
    return settings;
}

// A subscriber to everything under corvelle/, subscribed once constructed.
class Watcher {
  public:
    explicit Watcher(quint16 port, const char* id = "watcher")
        : client_(mosquitto_new(id, true, this)) {
        mosquitto_connect_callback_set(client_, [](mosquitto* client, void*, int) {
            mosquitto_subscribe(client, nullptr, "corvelle/#", 1);
        });
        mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Watcher*>(self)->subscribed_ = true;
        });
        mosquitto_message_callback_set(
            client_, [](mosquitto*, void* self, const mosquitto_message* message) {
                auto* watcher = static_cast<Watcher*>(self);
                const std::lock_guard lock(watcher->mutex_);
                watcher->messages_.push_back(
                    {message->topic,
                     QByteArray(static_cast<const char*>(message->payload), message->payloadlen),
                     message->retain});
            });
        EXPECT_EQ(mosquitto_connect(client_, "127.0.0.1", port, 60), MOSQ_ERR_SUCCESS);
        mosquitto_loop_start(client_);
        // Waited for without the event loop, so that a publisher of the test's own thread sends
        // nothing before the watcher listens: its readings are not retained.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!subscribed_ && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(subscribed_);
    }
    ~Watcher() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }

    QByteArrayList Payloads(const QByteArray& topic, bool retainedOnly = false) {
        const std::lock_guard lock(mutex_);
        QByteArrayList payloads;
        for (const Message& message : messages_) {
            if (message.topic == topic && (message.retained || !retainedOnly)) {
                payloads.append(message.payload);
            }
        }
        return payloads;
    }
    bool WaitFor(const QByteArray& topic, qsizetype count) {
        return QTest::qWaitFor([&] { return Payloads(topic).size() >= count; }, 10000);
    }
    void Publish(const QByteArray& topic, const QByteArray& payload, bool retained = false) {
        mosquitto_publish(client_, nullptr, topic.constData(), static_cast<int>(payload.size()),
                          payload.constData(), 1, retained);
    }
    // Where the first message of that topic and payload came among all, or -1.
    qsizetype IndexOf(const QByteArray& topic, const QByteArray& payload) {
        const std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < messages_.size(); ++i) {
            if (messages_[i].topic == topic && messages_[i].payload == payload) {
                return static_cast<qsizetype>(i);
            }
        }
        return -1;
    }
    // Every topic a message came on, once each.
    QByteArrayList Topics() {
        const std::lock_guard lock(mutex_);
        QByteArrayList topics;
        for (const Message& message : messages_) {
            if (!topics.contains(message.topic)) {
                topics.append(message.topic);
            }
        }
        return topics;
    }

  private:
    struct Message {
        QByteArray topic;
        QByteArray payload;
        bool retained;
    };
    mosquitto* client_;
    std::atomic<bool> subscribed_ = false;
    std::mutex mutex_;
    std::vector<Message> messages_;
};

}  // namespace corvelle::test
