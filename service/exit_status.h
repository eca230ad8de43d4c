#pragma once

namespace corvelle {

// The service's exit statuses, for its supervisor: whether a restart can help.
// Clean stop, everything written.
inline constexpr int kExitClean = 0;
// Stopped, but rows or messages could not be written (counts in the log).
inline constexpr int kExitUnwritten = 1;
// Bad options or configuration: never worth a restart.
inline constexpr int kExitBadOptions = 2;
// A resource is held elsewhere: the port, the recording folder's lock.
inline constexpr int kExitHeldElsewhere = 3;

}  // namespace corvelle
