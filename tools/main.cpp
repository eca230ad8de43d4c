#include <QCoreApplication>
#include <QDateTime>
#include <QString>
#include <cstdio>
#include <exception>
#include <memory>
#include <variant>

#include "process/signals.h"
#include "protocol/frame_text.h"
#include "protocol/module_frames.h"
#include "sim_options.h"
#include "tools/terminal/terminal.h"

namespace {

using corvelle::sim::ConsoleItemKind;
using corvelle::sim::Terminal;

void PrintLine(std::FILE* stream, const QString& line) {
    std::fputs(line.toUtf8().append('\n').constData(), stream);
    std::fflush(stream);
}

void Report(const Terminal& terminal, const QString& message) {
    PrintLine(stdout, QStringLiteral("%1 [%2] %3")
                          .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")),
                               terminal.config().name, message));
}

// A received or sent frame as the trace shows it.
QString Describe(const QByteArray& bytes) {
    return QString::fromStdString(
        corvelle::DescribeFrame({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                 static_cast<std::size_t>(bytes.size())}));
}

QString StatusText(int status, int retryMs) {
    switch (status) {
        case 1:
            return QStringLiteral("registration status 1: bound to a slot");
        case 0:
            return QStringLiteral("registration status 0: rejected; registering again in %1 ms")
                .arg(retryMs);
        case 2:
            return QStringLiteral("registration status 2: no free slot; registering again in %1 ms")
                .arg(retryMs);
        default:
            return QStringLiteral("registration status %1: unknown; registering again in %2 ms")
                .arg(status)
                .arg(retryMs);
    }
}

void Observe(Terminal& terminal, bool verbose) {
    const auto& config = terminal.config();
    const std::uint8_t channels =
        corvelle::EvaluateModuleReply(corvelle::BuildModuleReply(config.modelText)).channelCount;
    const QString model = QString::fromLatin1(config.modelText.c_str());
    const QString identified =
        channels != 0
            ? QStringLiteral("identified: module reply sent, model %1 (%2 channels)")
                  .arg(model)
                  .arg(channels)
            : QStringLiteral("identified: module reply sent, model %1 (names no known board)")
                  .arg(model);
    // A console that stays away would otherwise print the same failure every retry.
    auto lastFailure = std::make_shared<QString>();

    QObject::connect(&terminal, &Terminal::connectedToConsole, &terminal, [&terminal, lastFailure] {
        lastFailure->clear();
        const auto& c = terminal.config();
        Report(terminal, QStringLiteral("connected to %1:%2").arg(c.host).arg(c.port));
    });
    QObject::connect(&terminal, &Terminal::connectFailed, &terminal,
                     [&terminal, lastFailure](const QString& reason) {
                         if (reason != *lastFailure) {
                             *lastFailure = reason;
                             Report(terminal,
                                    QStringLiteral("cannot connect (%1); retrying every %2 ms")
                                        .arg(reason)
                                        .arg(terminal.config().retryMs));
                         }
                     });
    QObject::connect(&terminal, &Terminal::disconnectedFromConsole, &terminal,
                     [&terminal] { Report(terminal, QStringLiteral("disconnected")); });
    QObject::connect(&terminal, &Terminal::registrationStatusReceived, &terminal,
                     [&terminal](int status) {
                         Report(terminal, StatusText(status, terminal.config().retryMs));
                     });
    QObject::connect(&terminal, &Terminal::identified, &terminal,
                     [&terminal, identified] { Report(terminal, identified); });
    QObject::connect(
        &terminal, &Terminal::relaySwitched, &terminal, [&terminal](int relay, bool on) {
            Report(terminal,
                   QStringLiteral("relay %1 switched %2").arg(relay).arg(on ? "on" : "off"));
        });
    if (!verbose) {
        return;
    }
    QObject::connect(&terminal, &Terminal::frameSent, &terminal,
                     [&terminal](const QByteArray& bytes) {
                         Report(terminal, QStringLiteral("tx %1").arg(Describe(bytes)));
                     });
    QObject::connect(&terminal, &Terminal::frameReceived, &terminal,
                     [&terminal](ConsoleItemKind kind, const QByteArray& bytes) {
                         const QString label = kind == ConsoleItemKind::Discarded
                                                   ? QStringLiteral("rx (not understood)")
                                                   : QStringLiteral("rx");
                         Report(terminal, QStringLiteral("%1 %2").arg(label, Describe(bytes)));
                     });
}

int Run(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvelle-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVELLE_VERSION));

    const auto parsed = corvelle::sim::ParseOptions(QCoreApplication::arguments());
    if (const auto* error = std::get_if<QString>(&parsed)) {
        PrintLine(stderr,
                  QStringLiteral("corvelle-sim: %1\nTry 'corvelle-sim --help'.").arg(*error));
        return 2;
    }
    const auto& options = std::get<corvelle::sim::SimOptions>(parsed);
    QString error;
    const auto terminals = corvelle::sim::CreateTerminals(options.base, options.terminals, error);
    if (terminals.empty()) {
        PrintLine(stderr, QStringLiteral("corvelle-sim: %1").arg(error));
        return 2;
    }
    if (!corvelle::HandleSignals({.quit = [] { QCoreApplication::quit(); }, .reload = {}})) {
        PrintLine(stderr,
                  QStringLiteral("corvelle-sim: cannot install the SIGINT/SIGTERM handlers"));
        return 1;
    }
    for (const auto& terminal : terminals) {
        Observe(*terminal, options.verbose);
        terminal->start();
    }
    const int rc = QCoreApplication::exec();
    for (const auto& terminal : terminals) {
        terminal->stop();
    }
    return rc;
}

}  // namespace

int main(int argc, char* argv[]) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        PrintLine(stderr, QStringLiteral("corvelle-sim: %1").arg(QString::fromLocal8Bit(e.what())));
    }
    return 1;
}
