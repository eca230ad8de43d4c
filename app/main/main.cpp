#include <QCoreApplication>
#include <cstdio>
#include <variant>

#include "app/acq_app.h"
#include "app/console_options.h"

int main(int argc, char** argv) {
    // Help and the version are printed without a display.
    if (corvelle::AsksForHelpOrVersion(argc, argv)) {
        const QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationVersion(QStringLiteral(CORVELLE_VERSION));
        const auto parsed = corvelle::ParseConsoleOptions(QCoreApplication::arguments());
        if (const auto* print = std::get_if<corvelle::PrintAndExit>(&parsed)) {
            std::fputs(print->text.toUtf8().constData(), stdout);
            return 0;
        }
    }
    corvelle::CAcqApp app(argc, argv);
    return app.InitInstance();
}
