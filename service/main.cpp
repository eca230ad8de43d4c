#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <variant>

#include "device/qt/device_name.h"
#include "mqtt/mqtt_forget.h"
#include "process/signals.h"
#include "record/platform/record_file.h"
#include "service/platform/supervisor.h"
#include "service/service.h"

namespace {

void Print(std::FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

// --mqtt-forget: the terminal's retained topics removed, one line each.
int Forget(const corvelle::ServiceOptions& options) {
    const auto outcome = corvelle::ForgetTerminal(options.mqtt, options.forgetTerminal);
    for (const QByteArray& topic : outcome.removed) {
        Print(stderr, QStringLiteral("removed %1\n").arg(QString::fromUtf8(topic)));
    }
    if (!outcome.problem.isEmpty()) {
        Print(stderr, QStringLiteral("corvelled: %1\n").arg(outcome.problem));
        return corvelle::kExitUnwritten;
    }
    return corvelle::kExitClean;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvelled"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVELLE_VERSION));

    auto parsed = corvelle::ParseServiceOptions(QCoreApplication::arguments());
    if (const auto* print = std::get_if<corvelle::PrintAndExit>(&parsed)) {
        Print(stdout, print->text);
        return 0;
    }
    if (const auto* bad = std::get_if<corvelle::BadOptions>(&parsed)) {
        Print(stderr, QStringLiteral("corvelled: %1\n").arg(bad->problem));
        return corvelle::kExitBadOptions;
    }
    corvelle::NameDecoderAvailable();
    if (!std::get<corvelle::ServiceOptions>(parsed).forgetTerminal.isEmpty()) {
        return Forget(std::get<corvelle::ServiceOptions>(parsed));
    }
    corvelle::KeepRunningPastFileSizeLimits();
    corvelle::Service service(std::get<corvelle::ServiceOptions>(std::move(parsed)));
    // Installed first, so that a request to quit during the start is not the default death;
    // the actions run from the event loop, after the start.
    const bool handled = corvelle::HandleSignals({
        .quit =
            [&service] {
                corvelle::NotifyStopping();
                service.Stop([](int status) {
                    corvelle::QuitFinished();
                    QCoreApplication::exit(status);
                });
            },
        .reload = [&service] { service.Reload(); },
    });
    if (!handled) {
        Print(stderr, QStringLiteral("corvelled: cannot install the signal handlers\n"));
        return corvelle::kExitBadOptions;
    }
    if (const auto failure = service.Start()) {
        Print(stderr, QStringLiteral("corvelled: %1\n").arg(failure->message));
        return failure->exitStatus;
    }
    corvelle::NotifyReady("listening");
    // Pinged from the event loop, so that a loop that hangs stops the pings and systemd
    // restarts the service; twice per period, as sd_watchdog_enabled(3) advises.
    QTimer watchdog;
    if (const auto period = corvelle::WatchdogPeriod(); period.count() > 0) {
        QObject::connect(&watchdog, &QTimer::timeout, &watchdog,
                         [] { corvelle::NotifyWatchdog(); });
        watchdog.start(std::chrono::duration_cast<std::chrono::milliseconds>(period / 2));
    }
    return QCoreApplication::exec();
}
