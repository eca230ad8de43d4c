#pragma once

#include <functional>

namespace corvelle {

// What a program does when its surroundings ask it to. Both run on the event loop's thread.
struct SignalActions {
    // SIGINT and SIGTERM, and SIGHUP when there is no reload; on Windows Ctrl+C, Ctrl+Break,
    // closing the console window, logging off and shutting down.
    std::function<void()> quit;
    // SIGHUP, when set.
    std::function<void()> reload;
};

// Exit status of a process that a repeated request to quit ended at once.
inline constexpr int kForcedExitStatus = 130;
// A second request to quit this long after the first ends the process at once, even with its
// event loop stuck; closer ones count as the same request (shells and `timeout` send two).
inline constexpr int kForceAfterMs = 2000;

// Routes the requests into the event loop. Call once, after the QCoreApplication exists. False
// when the handlers cannot be installed.
bool HandleSignals(SignalActions actions);

// The quit has finished. On Windows the system ends a console process as soon as its handler
// returns, so the handler waits for this.
void QuitFinished();

}  // namespace corvelle
