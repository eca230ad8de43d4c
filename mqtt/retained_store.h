#pragma once

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>

namespace corvelle {

// Every retained topic a node keeps below its "prefix/id/": the terminals' statuses, and
// whatever else holds only while the node is online (a terminal's description, alarm states).
// A topic keeps only its latest payload, so no overflow ever drops one; the broker gets each
// change, and on every connection whatever it does not have already. An empty payload removes
// the topic at the broker, then here. Topics are the levels below "prefix/id/". Its owner guards
// it: it is not thread-safe.
class RetainedStore {
  public:
    static constexpr int kMostFailures = 3;

    struct Send {
        QByteArray topic;
        QByteArray payload;
        std::uint64_t version = 0;
    };

    // The topic's latest payload; empty: remove it.
    void Set(const QByteArray& topic, const QByteArray& payload);
    // Whether the topic is kept with a payload.
    bool Holds(const QByteArray& topic) const;
    // A retained message the broker had at the start of a connection. A terminal status the
    // store does not hold becomes "offline" (no terminal of that name is linked now); any other
    // topic it does not hold is removed; one it holds goes again only if it differs.
    void Found(const QByteArray& topic, const QByteArray& payload);
    // A new connection: the broker may have lost anything, so everything goes again, but the
    // topics given up on.
    void ResendAll();
    // The next topic the broker lacks, in the order of the changes.
    std::optional<Send> Next();
    bool HasNext() const { return !pending_.empty(); }
    // The broker has this version; a removed topic is then forgotten.
    void Acknowledged(const Send& sent);
    // The broker ended the connection instead of taking this version: how often it has (0 for a
    // version since replaced). The third time, it is given up on until the topic changes.
    int Failed(const Send& sent);
    // The broker will never take this version: given up on until the topic changes.
    void GiveUp(const Send& sent);
    // Topics whose latest payload the broker has not acknowledged.
    std::size_t Unsent() const;

  private:
    struct Entry {
        QByteArray payload;
        std::uint64_t version = 0;
        // The version the broker has; 0: none.
        std::uint64_t atBroker = 0;
        bool pending = false;
        int failures = 0;
    };
    void Queue(const QByteArray& topic, Entry& entry);

    std::map<QByteArray, Entry> entries_;
    std::deque<QByteArray> pending_;
    std::uint64_t nextVersion_ = 1;
};

}  // namespace corvelle
