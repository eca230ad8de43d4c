#include "process/signals.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>
#include <array>
#include <utility>

#include "process/signal_source.h"

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace corvelle {
namespace {

SignalActions& Actions() {
    static SignalActions actions;
    return actions;
}

void Act(Request request) {
    const SignalActions& actions = Actions();
    if (request == Request::Reload && actions.reload) {
        actions.reload();
    } else if (request == Request::Quit && actions.quit) {
        actions.quit();
    }
}

}  // namespace

bool HandleSignals(SignalActions actions) {
    const bool reload = static_cast<bool>(actions.reload);
    Actions() = std::move(actions);
    const auto fd = InstallSignalSource(reload, [](Request request) {
        // On a thread of the system's own: the action belongs on the event loop.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [request] { Act(request); }, Qt::QueuedConnection);
    });
    if (!fd) {
        return false;
    }
#ifndef Q_OS_WIN
    auto* notifier = new QSocketNotifier(*fd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [descriptor = *fd] {
        std::array<char, 16> bytes{};
        const auto n = ::read(descriptor, bytes.data(), bytes.size());
        for (ssize_t i = 0; i < n; ++i) {
            Act(static_cast<Request>(bytes[static_cast<std::size_t>(i)]));
        }
    });
#endif
    return true;
}

void QuitFinished() {
    ReleaseSignalHold();
}

}  // namespace corvelle
