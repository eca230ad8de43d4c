#include "tools/terminal/terminal.h"

#include <QTcpSocket>
#include <algorithm>
#include <utility>

#include "protocol/modbus_ascii.h"
#include "protocol/registration.h"
#include "tools/terminal/terminal_names.h"

namespace corvelle::sim {
namespace {

std::span<const std::uint8_t> AsBytes(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

QByteArray ToByteArray(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

}  // namespace

Terminal::Terminal(TerminalConfig config, QByteArray wireName, QObject* parent)
    : QObject(parent),
      config_(std::move(config)),
      wireName_(std::move(wireName)),
      board_(config_.board),
      shaper_(config_.faults),
      moduleReply_(BuildModuleReply(config_.modelText)),
      socket_(new QTcpSocket(this)) {
    clock_.start();
    for (QTimer* timer : {&retryTimer_, &registerTimer_, &disconnectTimer_, &sendTimer_}) {
        timer->setSingleShot(true);
    }
    connect(&retryTimer_, &QTimer::timeout, this, &Terminal::Connect);
    connect(&registerTimer_, &QTimer::timeout, this, [this] { SendRegistration(false); });
    connect(&disconnectTimer_, &QTimer::timeout, this, [this] { socket_->disconnectFromHost(); });
    connect(&sendTimer_, &QTimer::timeout, this, &Terminal::Flush);
    connect(socket_, &QTcpSocket::stateChanged, this, &Terminal::OnStateChanged);
    connect(socket_, &QTcpSocket::readyRead, this, &Terminal::OnReadyRead);
}

Terminal::~Terminal() {
    // The socket outlives this part of the object; its last state change must not land here.
    socket_->disconnect(this);
    socket_->abort();
}

void Terminal::start() {
    if (running_) {
        return;
    }
    running_ = true;
    Connect();
}

void Terminal::stop() {
    running_ = false;
    retryTimer_.stop();
    socket_->abort();
}

void Terminal::Connect() {
    if (running_ && socket_->state() == QAbstractSocket::UnconnectedState) {
        socket_->connectToHost(config_.host, config_.port);
    }
}

void Terminal::OnStateChanged(QAbstractSocket::SocketState state) {
    if (state == QAbstractSocket::ConnectedState) {
        connected_ = true;
        registered_ = false;
        status_.reset();
        ++connections_;
        stream_.Clear();
        // Replies must leave at once: the console treats every read as one whole frame.
        socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        emit connectedToConsole();
        SendRegistration(config_.faults.badRegistrationFirst);
        if (config_.faults.disconnectAfterMs > 0) {
            disconnectTimer_.start(config_.faults.disconnectAfterMs);
        }
        return;
    }
    if (state != QAbstractSocket::UnconnectedState) {
        return;
    }
    const bool wasConnected = std::exchange(connected_, false);
    registered_ = false;
    registerTimer_.stop();
    disconnectTimer_.stop();
    sendTimer_.stop();
    outgoing_.clear();
    if (wasConnected) {
        emit disconnectedFromConsole();
    } else if (running_) {
        emit connectFailed(socket_->errorString());
    }
    if (running_) {
        retryTimer_.start(config_.retryMs);
    }
}

void Terminal::OnReadyRead() {
    stream_.Append(AsBytes(socket_->readAll()));
    while (const auto item = stream_.Next()) {
        Handle(*item);
    }
}

void Terminal::Handle(const ConsoleItem& item) {
    emit frameReceived(item.kind, ToByteArray(item.bytes));
    switch (item.kind) {
        case ConsoleItemKind::ModuleQuery:
            if (!config_.faults.silentModule) {
                Enqueue(ToByteArray(moduleReply_), true);
            }
            break;
        case ConsoleItemKind::RegistrationReply:
            OnRegistrationReply(*ParseRegistrationReply(item.bytes));
            break;
        case ConsoleItemKind::AsciiFrame:
            OnAsciiFrame(item.bytes);
            break;
        case ConsoleItemKind::Discarded:
            break;
    }
}

void Terminal::OnRegistrationReply(int status) {
    status_ = status;
    registered_ = status == static_cast<int>(RegistrationStatus::Accepted);
    if (registered_) {
        ++registrations_;
        registerTimer_.stop();
    } else {
        registerTimer_.start(config_.retryMs);
    }
    emit registrationStatusReceived(status);
}

void Terminal::OnAsciiFrame(const std::vector<std::uint8_t>& text) {
    // A frame whose LRC fails gets no answer, as on a real line.
    const auto frame = CutAsciiFrame(text);
    if (!frame) {
        return;
    }
    const auto reply = board_.Answer(*frame, clock_.elapsed());
    if (!reply) {
        return;
    }
    if (reply->coil) {
        emit relaySwitched(static_cast<int>(reply->coil->relay), reply->coil->on);
    }
    if (const auto wire = shaper_.Shape(reply->bytes)) {
        Enqueue(QByteArray::fromStdString(*wire), false);
    }
}

void Terminal::SendRegistration(bool brokenCrc) {
    auto packet = BuildRegistrationPacket(AsBytes(wireName_));
    if (brokenCrc) {
        packet = BreakRegistrationCrc(std::move(packet));
    }
    Write(ToByteArray(packet));
}

void Terminal::Enqueue(const QByteArray& bytes, bool moduleReply) {
    // Due times never go backwards, so replies leave in the order they were made.
    const qint64 now = clock_.elapsed();
    const qint64 due = std::max(lastDueMs_, now + config_.faults.replyDelayMs);
    const int gap = config_.faults.splitGapMs;
    if (gap > 0 && bytes.size() > 1) {
        const qsizetype half = bytes.size() / 2;
        outgoing_.push_back({due, bytes.left(half), false});
        outgoing_.push_back({due + gap, bytes.mid(half), moduleReply});
        lastDueMs_ = due + gap;
    } else {
        outgoing_.push_back({due, bytes, moduleReply});
        lastDueMs_ = due;
    }
    Flush();
}

void Terminal::Flush() {
    const qint64 now = clock_.elapsed();
    while (!outgoing_.empty() && outgoing_.front().dueMs <= now) {
        const Outgoing next = std::move(outgoing_.front());
        outgoing_.pop_front();
        Write(next.bytes);
        if (next.completesModuleReply) {
            emit identified();
        }
    }
    if (!outgoing_.empty()) {
        sendTimer_.start(static_cast<int>(outgoing_.front().dueMs - now));
    }
}

void Terminal::Write(const QByteArray& bytes) {
    socket_->write(bytes);
    emit frameSent(bytes);
}

std::vector<std::unique_ptr<Terminal>> CreateTerminals(const TerminalConfig& base, int count,
                                                       QString& error) {
    if (!Gb2312Available()) {
        error = QStringLiteral("this Qt build has no GB2312 codec (Qt needs ICU for it)");
        return {};
    }
    std::vector<std::unique_ptr<Terminal>> terminals;
    const QStringList names = TerminalNames(base.name, count);
    for (qsizetype i = 0; i < names.size(); ++i) {
        const auto wireName = EncodeGb2312(names[i]);
        if (!wireName) {
            error = QStringLiteral("name \"%1\" has characters GB2312 cannot encode").arg(names[i]);
            return {};
        }
        if (wireName->size() > kMaxWireNameBytes) {
            error = QStringLiteral("name \"%1\" is %2 bytes in GB2312; at most %3 fit")
                        .arg(names[i])
                        .arg(wireName->size())
                        .arg(kMaxWireNameBytes);
            return {};
        }
        TerminalConfig config = base;
        config.name = names[i];
        config.board.seed = base.board.seed + static_cast<std::uint64_t>(i);
        terminals.push_back(std::make_unique<Terminal>(std::move(config), *wireName));
    }
    return terminals;
}

}  // namespace corvelle::sim

#include "moc_terminal.cpp"  // NOLINT(bugprone-suspicious-include): moc output
