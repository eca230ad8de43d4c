#include "quit_signals.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <array>
#include <csignal>

namespace corvelle::sim {
namespace {

std::array<int, 2> signalPipe = {-1, -1};

void OnSignal(int /*signal*/) {
    const char byte = 1;
    // Nothing useful can be done in a handler if the pipe is full: a quit is pending anyway.
    [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
}

}  // namespace

bool QuitOnSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe.data()) != 0) {
        return false;
    }
    auto* notifier =
        new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        notifier->setEnabled(false);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

}  // namespace corvelle::sim
