#include "mqtt/retained_store.h"

#include "mqtt/mqtt_messages.h"

namespace corvelle {
namespace {

// "<level>/status": a terminal's, not the node's own "status".
bool IsTerminalStatus(const QByteArray& topic) {
    return topic.endsWith("/status") && topic.count('/') == 1;
}

}  // namespace

void RetainedStore::Set(const QByteArray& topic, const QByteArray& payload) {
    const auto found = entries_.find(topic);
    if (found == entries_.end()) {
        if (!payload.isEmpty()) {
            Queue(topic, entries_[topic] = Entry{payload, nextVersion_++});
        }
        return;
    }
    Entry& entry = found->second;
    if (entry.payload == payload) {
        return;
    }
    entry.payload = payload;
    entry.version = nextVersion_++;
    entry.failures = 0;
    Queue(topic, entry);
}

bool RetainedStore::Holds(const QByteArray& topic) const {
    const auto found = entries_.find(topic);
    return found != entries_.end() && !found->second.payload.isEmpty();
}

void RetainedStore::Found(const QByteArray& topic, const QByteArray& payload) {
    auto found = entries_.find(topic);
    if (found == entries_.end()) {
        if (!IsTerminalStatus(topic)) {
            // Known to be there, so that its removal goes out.
            entries_[topic] = Entry{payload, nextVersion_++};
            Set(topic, {});
            return;
        }
        found = entries_.emplace(topic, Entry{kOffline, nextVersion_++}).first;
        Queue(topic, found->second);
    }
    Entry& entry = found->second;
    if (entry.payload == payload) {
        entry.atBroker = entry.version;
    }
}

void RetainedStore::ResendAll() {
    pending_.clear();
    for (auto& [topic, entry] : entries_) {
        entry.pending = false;
        if (entry.failures < kMostFailures) {
            entry.atBroker = 0;
            Queue(topic, entry);
        }
    }
}

std::optional<RetainedStore::Send> RetainedStore::Next() {
    while (!pending_.empty()) {
        const QByteArray topic = pending_.front();
        pending_.pop_front();
        const auto found = entries_.find(topic);
        if (found == entries_.end()) {
            continue;
        }
        Entry& entry = found->second;
        entry.pending = false;
        if (entry.atBroker != entry.version) {
            return Send{topic, entry.payload, entry.version};
        }
    }
    return std::nullopt;
}

void RetainedStore::Acknowledged(const Send& sent) {
    const auto found = entries_.find(sent.topic);
    if (found == entries_.end() || found->second.version != sent.version) {
        return;
    }
    found->second.atBroker = sent.version;
    found->second.failures = 0;
    if (sent.payload.isEmpty() && !found->second.pending) {
        entries_.erase(found);
    }
}

int RetainedStore::Failed(const Send& sent) {
    const auto found = entries_.find(sent.topic);
    if (found == entries_.end() || found->second.version != sent.version) {
        return 0;
    }
    return ++found->second.failures;
}

void RetainedStore::GiveUp(const Send& sent) {
    const auto found = entries_.find(sent.topic);
    if (found != entries_.end() && found->second.version == sent.version) {
        found->second.failures = kMostFailures;
    }
}

std::size_t RetainedStore::Unsent() const {
    std::size_t unsent = 0;
    for (const auto& [topic, entry] : entries_) {
        unsent += entry.atBroker != entry.version && entry.failures < kMostFailures ? 1 : 0;
    }
    return unsent;
}

void RetainedStore::Queue(const QByteArray& topic, Entry& entry) {
    if (!entry.pending) {
        entry.pending = true;
        pending_.push_back(topic);
    }
}

}  // namespace corvelle
