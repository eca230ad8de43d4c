#include "server/net/acq_socket.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <array>

namespace corvelle {

std::string PeerText(const QHostAddress& address, quint16 port) {
    bool isV4 = false;
    address.toIPv4Address(&isV4);
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol && !isV4
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : QHostAddress(address.toIPv4Address()).toString();
    return QStringLiteral("%1:%2").arg(host).arg(port).toStdString();
}

CAcqSocket::CAcqSocket(QTcpSocket* socket, DeviceTabHost& owner)
    : socket_(socket), owner_(owner), peer_(PeerText(socket->peerAddress(), socket->peerPort())) {
    socket_->setParent(nullptr);
    socket_->setReadBufferSize(kReadBufferSize);
    resume_.setSingleShot(true);
    QObject::connect(&resume_, &QTimer::timeout, &resume_, [this] { OnReceive(); });
    overrun_.setSingleShot(true);
    QObject::connect(&overrun_, &QTimer::timeout, &overrun_,
                     [this] { owner_.CloseByConsole(this, CloseReason::WriteBacklog); });
    QObject::connect(socket_, &QTcpSocket::readyRead, socket_, [this] { OnReceive(); });
    QObject::connect(socket_, &QTcpSocket::disconnected, socket_, [this] { OnClose(); });
    // A reset or network failure ends the connection like an orderly close.
    QObject::connect(socket_, &QTcpSocket::errorOccurred, socket_, [this] {
        if (socket_->state() != QAbstractSocket::ConnectedState) {
            OnClose();
        }
    });
}

CAcqSocket::~CAcqSocket() {
    Detach();
}

void CAcqSocket::Detach() {
    if (socket_ == nullptr) {
        return;
    }
    // Nothing the socket does from here on may reach the owner, whose record is going.
    resume_.stop();
    overrun_.stop();
    QObject::disconnect(socket_, nullptr, nullptr, nullptr);
    socket_->abort();
    socket_->deleteLater();
    socket_ = nullptr;
}

void CAcqSocket::Write(std::span<const std::uint8_t> bytes) {
    if (socket_ == nullptr || socket_->state() != QAbstractSocket::ConnectedState) {
        return;
    }
    socket_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    if (socket_->bytesToWrite() > kMaxPendingWrite && !overrun_.isActive()) {
        overrun_.start(0);
    }
}

void CAcqSocket::Close() {
    Detach();
}

void CAcqSocket::SetReadingPaused(bool paused) {
    paused_ = paused;
    if (!paused_ && socket_ != nullptr && socket_->bytesAvailable() > 0) {
        // Bytes that waited while paused raise no new notification.
        resume_.start(0);
    }
}

void CAcqSocket::OnReceive() {
    std::array<std::uint8_t, DeviceTabHost::kMaxChunk> buffer{};
    while (!paused_ && socket_ != nullptr && socket_->bytesAvailable() > 0) {
        const qint64 n = socket_->read(reinterpret_cast<char*>(buffer.data()),
                                       static_cast<qint64>(buffer.size()));
        if (n < 0) {
            owner_.ReceiveFailed(this);
            return;
        }
        if (n == 0) {
            return;
        }
        owner_.ReceiveFromClient(this, std::span(buffer).first(static_cast<std::size_t>(n)),
                                 MonotonicMs());
    }
}

void CAcqSocket::OnClose() {
    // The owner destroys this object: nothing may follow the call.
    owner_.CloseClient(this);
}

AcqListenSocket::AcqListenSocket() {
    server_.setListenBacklogSize(kListenBacklog);
    retry_.setSingleShot(true);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { OnAccept(); });
    QObject::connect(&retry_, &QTimer::timeout, &retry_, [this] {
        if (readable_) {
            readable_->setEnabled(true);
        }
    });
}

bool AcqListenSocket::Listen(std::uint16_t port) {
    if (!server_.listen(address_, port)) {
        return false;
    }
    server_.pauseAccepting();
    readable_ =
        std::make_unique<QSocketNotifier>(server_.socketDescriptor(), QSocketNotifier::Read);
    QObject::connect(readable_.get(), &QSocketNotifier::activated, readable_.get(),
                     [this] { OnReadable(); });
    return true;
}

void AcqListenSocket::Close() {
    retry_.stop();
    readable_.reset();
    server_.close();
}

void AcqListenSocket::OnReadable() {
    readable_->setEnabled(false);
    accepted_ = 0;
    bool nothingWaiting = false;
    // Accepts every queued connection it can without waiting; each one reaches OnAccept.
    server_.waitForNewConnection(0, &nothingWaiting);
    // Taking a connection switches the server's own notifier back on.
    server_.pauseAccepting();
    if (accepted_ > 0 || nothingWaiting) {
        readable_->setEnabled(true);
    } else {
        retry_.start(kAcceptRetryMs);
    }
}

void AcqListenSocket::OnAccept() {
    while (server_.hasPendingConnections()) {
        QTcpSocket* socket = server_.nextPendingConnection();
        if (socket == nullptr) {
            return;
        }
        ++accepted_;
        if (!Admits(socket->peerAddress())) {
            const std::string peer = PeerText(socket->peerAddress(), socket->peerPort());
            socket->abort();
            socket->deleteLater();
            owner_->ReportRefusedConnection(peer, CloseReason::NotAllowed, MonotonicMs());
            continue;
        }
        owner_->AcceptClient(std::make_unique<CAcqSocket>(socket, *owner_), MonotonicMs());
    }
}

bool AcqListenSocket::Admits(const QHostAddress& peer) const {
    if (allowed_.isEmpty()) {
        return true;
    }
    // A dual-stack socket reports IPv4 peers as IPv4-mapped IPv6 addresses.
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    const QHostAddress plain = isV4 ? QHostAddress(v4) : peer;
    return std::any_of(allowed_.begin(), allowed_.end(),
                       [&](const auto& subnet) { return plain.isInSubnet(subnet); });
}

std::uint64_t MonotonicMs() {
    return static_cast<std::uint64_t>(QDeadlineTimer::current().deadline());
}

void QtRegistrationTimer::Schedule(ClientRecord* record, std::uint32_t milliseconds) {
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the gap is a lower bound.
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [this, record] {
        auto it = timers_.find(record);
        if (it == timers_.end()) {
            return;
        }
        it->second.release()->deleteLater();
        timers_.erase(it);
        owner_->CompleteRegistration(record);
    });
    timer->start(static_cast<int>(milliseconds));
    timers_[record] = std::move(timer);
}

void QtRegistrationTimer::Cancel(ClientRecord* record) {
    auto it = timers_.find(record);
    if (it == timers_.end()) {
        return;
    }
    it->second->stop();
    it->second.release()->deleteLater();
    timers_.erase(it);
}

NetworkTabHost::NetworkTabHost(SlotTables& tables, TabHostView& view)
    : host_(tables, view, listener_, timer_, clock_) {
    listener_.SetOwner(host_);
    timer_.SetOwner(host_);
    QObject::connect(&sweep_, &QTimer::timeout, &sweep_, [this] { host_.Sweep(MonotonicMs()); });
}

void NetworkTabHost::Apply(const LimitOptions& options) {
    listener_.SetAllowed(options.allowed);
    host_.SetLimits(options.limits);
    // Without limits there is nothing to sweep: the console as it always was.
    const ConnectionLimits& limits = options.limits;
    if (limits.registrationTimeoutMs || limits.maxUnregistered || limits.silentTimeoutMs ||
        !options.allowed.isEmpty()) {
        sweep_.start(kSweepMs);
    } else {
        sweep_.stop();
    }
}

}  // namespace corvelle
