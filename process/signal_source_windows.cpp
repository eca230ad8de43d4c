// Console control events on Windows.
#include <windows.h>

#include <chrono>
#include <cstdlib>

#include "process/quit_requests.h"
#include "process/signal_source.h"
#include "process/signals.h"
#include "process/stop_gate.h"

namespace corvelle {
namespace {

// Windows ends a process 5 s after closing its console window and 20 s into a shutdown,
// whatever the handler does.
constexpr std::chrono::milliseconds kLongestHold{20000};

std::function<void(Request)>& Deliver() {
    static std::function<void(Request)> deliver;
    return deliver;
}

QuitRequests& Requests() {
    static QuitRequests requests(kForceAfterMs);
    return requests;
}

StopGate& Gate() {
    static StopGate gate;
    return gate;
}

BOOL WINAPI OnConsoleEvent(DWORD /*type*/) {
    switch (Requests().Take(static_cast<std::int64_t>(GetTickCount64()))) {
        case QuitRequests::Outcome::First:
            Deliver()(Request::Quit);
            break;
        case QuitRequests::Outcome::Force:
            std::_Exit(kForcedExitStatus);
        case QuitRequests::Outcome::Repeat:
            break;
    }
    // Runs on a thread of the system's own, and the process ends once it returns.
    Gate().Wait(kLongestHold);
    return TRUE;
}

}  // namespace

std::optional<int> InstallSignalSource(bool /*reloadOnHangup*/,
                                       const std::function<void(Request)>& deliver) {
    Deliver() = deliver;
    if (SetConsoleCtrlHandler(OnConsoleEvent, TRUE) == 0) {
        return std::nullopt;
    }
    return -1;
}

void ReleaseSignalHold() {
    Gate().Open();
}

}  // namespace corvelle
