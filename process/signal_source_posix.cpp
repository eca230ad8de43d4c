// Signal handlers on POSIX systems.
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <ctime>

#include "process/quit_requests.h"
#include "process/signal_source.h"
#include "process/signals.h"

namespace corvelle {
namespace {

std::array<int, 2> pipeEnds = {-1, -1};
bool hangupReloads = false;
QuitRequests requests(kForceAfterMs);

std::int64_t MonotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void Send(Request request) {
    const char byte = static_cast<char>(request);
    // Nothing useful can be done in a handler if the pipe is full: a request is pending anyway.
    [[maybe_unused]] const auto written = ::write(pipeEnds[0], &byte, 1);
}

void OnSignal(int signal) {
    // The interrupted code may be about to read errno.
    const int saved = errno;
    if (signal == SIGHUP && hangupReloads) {
        Send(Request::Reload);
    } else {
        switch (requests.Take(MonotonicMs())) {
            case QuitRequests::Outcome::First:
                Send(Request::Quit);
                break;
            case QuitRequests::Outcome::Force:
                ::_exit(kForcedExitStatus);
            case QuitRequests::Outcome::Repeat:
                break;
        }
    }
    errno = saved;
}

}  // namespace

std::optional<int> InstallSignalSource(bool reloadOnHangup,
                                       const std::function<void(Request)>& /*deliver*/) {
    hangupReloads = reloadOnHangup;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeEnds.data()) != 0) {
        return std::nullopt;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            return std::nullopt;
        }
    }
    return pipeEnds[1];
}

void ReleaseSignalHold() {}

}  // namespace corvelle
