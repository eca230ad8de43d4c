#pragma once

#include <functional>
#include <optional>

namespace corvelle {

enum class Request : char { Quit = 'Q', Reload = 'R' };

// Installs the process's handlers for requests to quit (and SIGHUP: a reload when
// reloadOnHangup, else a quit), applying QuitRequests: a forced exit leaves with
// kForcedExitStatus at once. On POSIX systems each request arrives as one byte (a Request) on
// the returned descriptor, to be read on the event loop; on Windows deliver is called on the
// system's thread, and the handler then holds the process until ReleaseSignalHold (or a
// while), since the system ends the process as soon as it returns. Nothing when the handlers
// cannot be installed. Call once.
std::optional<int> InstallSignalSource(bool reloadOnHangup,
                                       const std::function<void(Request)>& deliver);

void ReleaseSignalHold();

}  // namespace corvelle
