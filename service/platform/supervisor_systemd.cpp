// Linux with systemd: sd_notify from libsystemd; the journal is recognised from JOURNAL_STREAM.
#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "service/platform/supervisor.h"

namespace corvelle {

void NotifyReady(std::string_view status) {
    const std::string message = "READY=1\nSTATUS=" + std::string(status);
    sd_notify(0, message.c_str());
}

void NotifyStopping() {
    sd_notify(0, "STOPPING=1");
}

void NotifyWatchdog() {
    sd_notify(0, "WATCHDOG=1");
}

std::chrono::microseconds WatchdogPeriod() {
    std::uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? std::chrono::microseconds(usec)
                                             : std::chrono::microseconds(0);
}

bool StandardErrorIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr) {
        return false;
    }
    unsigned long long device = 0;
    unsigned long long inode = 0;
    struct stat status {};
    return std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 &&
           ::fstat(STDERR_FILENO, &status) == 0 && status.st_dev == device &&
           status.st_ino == inode;
}

}  // namespace corvelle
