#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <map>
#include <memory>

#include "device/qt/qt_page_ports.h"
#include "server/client_record.h"
#include "server/device_tab_host.h"
#include "server/host_ports.h"
#include "server/net/command_line.h"

namespace corvelle {

// One accepted connection on the UI thread. Received bytes go to the owner in chunks of at
// most 8192 bytes; a close or a failure of the connection closes its record.
class CAcqSocket final : public Connection {
  public:
    // Bytes the network stack may hold for us before the peer is slowed down.
    static constexpr qint64 kReadBufferSize = 64 * 1024;
    // A peer that stops reading is dropped once this much waits to be written to it.
    static constexpr qint64 kMaxPendingWrite = 256 * 1024;

    // Takes ownership of socket.
    CAcqSocket(QTcpSocket* socket, DeviceTabHost& owner);
    ~CAcqSocket() override;
    CAcqSocket(const CAcqSocket&) = delete;
    CAcqSocket& operator=(const CAcqSocket&) = delete;

    void Write(std::span<const std::uint8_t> bytes) override;
    void Close() override;
    void SetReadingPaused(bool paused) override;
    std::string PeerAddress() const override { return peer_; }

  private:
    void OnReceive();
    void OnClose();
    void Detach();

    QTcpSocket* socket_;
    DeviceTabHost& owner_;
    const std::string peer_;
    bool paused_ = false;
    // Reads what arrived while paused; owned here so it cannot outlive this object.
    QTimer resume_;
    // Drops a peer that stopped reading, from the event loop rather than inside a caller's
    // walk of the clients.
    QTimer overrun_;
};

// "address:port", with IPv6 addresses in brackets.
std::string PeerText(const QHostAddress& address, quint16 port);

// The listening socket on all interfaces.
class AcqListenSocket final : public Listener {
  public:
    // Terminals that lost the console together come back together; a shorter queue turns
    // the later ones away for a whole SYN retransmission (a second or more).
    static constexpr int kListenBacklog = 64;
    // After a connection could not be accepted (no descriptor left), the next try.
    static constexpr int kAcceptRetryMs = 100;

    AcqListenSocket();
    void SetOwner(DeviceTabHost& owner) { owner_ = &owner; }
    // Where the next Listen binds; all interfaces, IPv4 and IPv6, unless set.
    void SetAddress(const QHostAddress& address) { address_ = address; }
    // Connections from other addresses are closed at once; an empty list admits all.
    void SetAllowed(QList<QPair<QHostAddress, int>> subnets) { allowed_ = std::move(subnets); }
    bool Listen(std::uint16_t port) override;
    void Close() override;
    quint16 Port() const { return server_.serverPort(); }
    // Why the last Listen failed.
    QString ErrorString() const { return server_.errorString(); }

  private:
    void OnReadable();
    void OnAccept();
    bool Admits(const QHostAddress& peer) const;

    QTcpServer server_;
    QHostAddress address_{QHostAddress::Any};
    QList<QPair<QHostAddress, int>> allowed_;
    // Accepting is driven from here, not by the server's own notifier: a connection the
    // server fails to accept keeps the socket readable, and that notifier would wake the
    // loop again at once, for as long as the failure lasts.
    std::unique_ptr<QSocketNotifier> readable_;
    QTimer retry_;
    int accepted_ = 0;
    DeviceTabHost* owner_ = nullptr;
};

// The attach gap of registrations on Qt timers, one per pending registration.
class QtRegistrationTimer final : public RegistrationTimer {
  public:
    void SetOwner(DeviceTabHost& owner) { owner_ = &owner; }
    void Schedule(ClientRecord* record, std::uint32_t milliseconds) override;
    void Cancel(ClientRecord* record) override;
    std::size_t PendingCount() const { return timers_.size(); }

  private:
    DeviceTabHost* owner_ = nullptr;
    std::map<ClientRecord*, std::unique_ptr<QTimer>> timers_;
};

// Milliseconds on a monotonic clock, for connection ages.
std::uint64_t MonotonicMs();

// The connection server on real sockets: the behaviour plus its Qt listener and timers.
class NetworkTabHost {
  public:
    // How often connections are checked against their time limits and refusals reported.
    static constexpr int kSweepMs = 250;

    NetworkTabHost(SlotTables& tables, TabHostView& view);
    DeviceTabHost& Host() { return host_; }
    AcqListenSocket& ListenSocket() { return listener_; }
    const AcqListenSocket& ListenSocket() const { return listener_; }
    const QtRegistrationTimer& RegistrationTimers() const { return timer_; }
    // The limits and allowed addresses, as the command line gave them.
    void Apply(const LimitOptions& options);

  private:
    // Declared before the host, which closes them when it is destroyed.
    AcqListenSocket listener_;
    QtRegistrationTimer timer_;
    LocalClock clock_;
    QTimer sweep_;
    DeviceTabHost host_;
};

}  // namespace corvelle
