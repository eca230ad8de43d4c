#include "service/signals/quit_signals.h"

#include <QCoreApplication>
#include <QObject>
#include <atomic>
#include <cstdlib>
#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <array>
#include <csignal>
#endif

namespace corvelle {
namespace {

std::function<void()>& FirstHandler() {
    static std::function<void()> handler;
    return handler;
}

std::atomic<int> requests{0};

// Exit status of a process ended by a repeated request to quit.
constexpr int kInterruptedStatus = 130;

}  // namespace

#ifdef Q_OS_WIN

namespace {

BOOL WINAPI OnConsoleEvent(DWORD /*type*/) {
    if (requests.fetch_add(1) > 0) {
        std::_Exit(kInterruptedStatus);
    }
    // Runs on a thread of the system's own: the handler goes to the event loop's thread.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { FirstHandler()(); }, Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

bool QuitOnSignals(std::function<void()> onFirst) {
    FirstHandler() = std::move(onFirst);
    return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

#else

namespace {

std::array<int, 2> signalPipe = {-1, -1};

void OnSignal(int /*signal*/) {
    if (requests.fetch_add(1) > 0) {
        _exit(kInterruptedStatus);
    }
    const char byte = 1;
    // Nothing useful can be done in a handler if the pipe is full: a quit is pending anyway.
    [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
}

}  // namespace

bool QuitOnSignals(std::function<void()> onFirst) {
    FirstHandler() = std::move(onFirst);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe.data()) != 0) {
        return false;
    }
    auto* notifier =
        new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        notifier->setEnabled(false);
        FirstHandler()();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

#endif

}  // namespace corvelle
