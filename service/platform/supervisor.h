#pragma once

#include <chrono>
#include <string_view>

namespace corvelle {

// The service manager's side of the service, where the platform has one (systemd's
// notification protocol and journal). Elsewhere each call does nothing and says no.

// Tells the manager that the service is ready, with a status line.
void NotifyReady(std::string_view status);
void NotifyStopping();
void NotifyWatchdog();
// How often the manager expects NotifyWatchdog; zero when it expects none.
std::chrono::microseconds WatchdogPeriod();
// Whether standard error is the journal's stream (JOURNAL_STREAM names its device and inode):
// then log lines carry their syslog priority.
bool StandardErrorIsJournal();

}  // namespace corvelle
