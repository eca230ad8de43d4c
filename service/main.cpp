#include <QCoreApplication>
#include <cstdio>
#include <variant>

#include "device/qt/device_name.h"
#include "service/service.h"
#include "service/signals/quit_signals.h"

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
        return 2;
    }
    corvelle::NameDecoderAvailable();
    corvelle::Service service(std::get<corvelle::ServiceOptions>(std::move(parsed)));
    if (const auto problem = service.Start()) {
        Print(stderr, QStringLiteral("corvelled: %1\n").arg(*problem));
        return 2;
    }
    const bool handled =
        corvelle::QuitOnSignals([&service] { service.Stop([] { QCoreApplication::quit(); }); });
    if (!handled) {
        Print(stderr, QStringLiteral("corvelled: cannot install the SIGINT/SIGTERM handlers\n"));
        return 1;
    }
    return QCoreApplication::exec();
}
