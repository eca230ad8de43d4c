// Platforms without systemd: no manager to tell, no journal.
#include "service/platform/supervisor.h"

namespace corvelle {

void NotifyReady(std::string_view) {}

void NotifyStopping() {}

void NotifyWatchdog() {}

std::chrono::microseconds WatchdogPeriod() {
    return std::chrono::microseconds(0);
}

bool StandardErrorIsJournal() {
    return false;
}

}  // namespace corvelle
