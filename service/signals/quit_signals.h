#pragma once

#include <functional>

namespace corvelle {

// Routes the first request to quit (SIGINT or SIGTERM; Ctrl+C, Ctrl+Break or closing the
// console window on Windows) into the event loop, where onFirst runs; a second request ends the
// process at once, even when the event loop is stuck. Call once, after the QCoreApplication
// exists. Returns false when the handlers cannot be installed.
bool QuitOnSignals(std::function<void()> onFirst);

}  // namespace corvelle
