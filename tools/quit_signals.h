#pragma once

namespace corvelle::sim {

// Routes SIGINT and SIGTERM into the event loop, which then quits the application: a
// signal handler itself may do nothing but write to a pipe. Returns false when the pipe or
// the handlers cannot be set up. Call once, after the QCoreApplication exists.
bool QuitOnSignals();

}  // namespace corvelle::sim
