#include <QCoreApplication>
#include <cstdio>
#include <variant>

#include "device/qt/device_name.h"
#include "process/signals.h"
#include "record/platform/record_file.h"
#include "service/service.h"

namespace {

void Print(std::FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
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
    corvelle::KeepRunningPastFileSizeLimits();
    corvelle::Service service(std::get<corvelle::ServiceOptions>(std::move(parsed)));
    // Installed first, so that a request to quit during the start is not the default death;
    // the actions run from the event loop, after the start.
    const bool handled = corvelle::HandleSignals({
        .quit =
            [&service] {
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
    return QCoreApplication::exec();
}
