#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/module_frames.h"
#include "tools/terminal/board.h"
#include "tools/terminal/console_stream.h"
#include "tools/terminal/reply_faults.h"

class QTcpSocket;

namespace corvelle::sim {

struct TerminalConfig {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 20000;
    // Shown in events; the registration packet carries its GB2312 bytes.
    QString name;
    // The module reply's model text; characters 3 and 4 tell the console the channel count.
    std::string modelText = "CV6C-SIM";
    BoardConfig board;
    // Pause before connecting again, and before registering again after status 0 or 2.
    int retryMs = 1000;
    Faults faults;
};

// One simulated terminal: a TCP client that connects to the console, registers, answers
// the module query and lets its board answer Modbus ASCII requests. It keeps reconnecting
// until stopped and registers again on every connection. All work happens in the thread's
// event loop.
class Terminal : public QObject {
    Q_OBJECT

  public:
    // wireName: the name as the registration packet carries it.
    Terminal(TerminalConfig config, QByteArray wireName, QObject* parent = nullptr);
    ~Terminal() override;

    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    void start();
    void stop();

    const TerminalConfig& config() const { return config_; }
    const Board& board() const { return board_; }
    bool isConnected() const { return connected_; }
    bool isRegistered() const { return registered_; }
    // The last registration status on the current connection, if any arrived yet.
    std::optional<int> registrationStatus() const { return status_; }
    int connectionCount() const { return connections_; }
    // Registrations the console accepted (status 1), over all connections.
    int registrationCount() const { return registrations_; }

  signals:
    void connectedToConsole();
    void connectFailed(const QString& reason);
    void disconnectedFromConsole();
    void registrationStatusReceived(int status);
    // The module reply has gone out in full.
    void identified();
    void relaySwitched(int relay, bool on);
    void frameReceived(corvelle::sim::ConsoleItemKind kind, const QByteArray& bytes);
    void frameSent(const QByteArray& bytes);

  private:
    struct Outgoing {
        qint64 dueMs = 0;
        QByteArray bytes;
        bool completesModuleReply = false;
    };

    void Connect();
    void OnStateChanged(QAbstractSocket::SocketState state);
    void OnReadyRead();
    void Handle(const ConsoleItem& item);
    void OnRegistrationReply(int status);
    void OnAsciiFrame(const std::vector<std::uint8_t>& text);
    void SendRegistration(bool brokenCrc);
    void Enqueue(const QByteArray& bytes, bool moduleReply);
    void Flush();
    void Write(const QByteArray& bytes);

    TerminalConfig config_;
    QByteArray wireName_;
    Board board_;
    ReplyShaper shaper_;
    std::array<std::uint8_t, kModuleReplySize> moduleReply_;
    ConsoleStream stream_;
    QElapsedTimer clock_;
    QTcpSocket* socket_;
    QTimer retryTimer_;
    QTimer registerTimer_;
    QTimer disconnectTimer_;
    QTimer sendTimer_;
    std::deque<Outgoing> outgoing_;
    qint64 lastDueMs_ = 0;
    bool running_ = false;
    bool connected_ = false;
    bool registered_ = false;
    std::optional<int> status_;
    int connections_ = 0;
    int registrations_ = 0;
};

// count terminals from one template: names from base.name as a prefix (as is for a single
// terminal), boards seeded apart. Empty, with error set, when a name cannot be sent as
// GB2312 or does not fit one registration.
std::vector<std::unique_ptr<Terminal>> CreateTerminals(const TerminalConfig& base, int count,
                                                       QString& error);

}  // namespace corvelle::sim
