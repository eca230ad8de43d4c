// Linux with systemd: sd_notify from libsystemd; the journal is recognised from JOURNAL_STREAM.
#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

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
    // "DEVICE:INODE", both decimal.
    char* end = nullptr;
    const unsigned long long device = std::strtoull(stream, &end, 10);
    if (end == stream || *end != ':') {
        return false;
    }
    const char* inodeText = end + 1;
    const unsigned long long inode = std::strtoull(inodeText, &end, 10);
    struct stat status {};
    return end != inodeText && *end == '\0' && ::fstat(STDERR_FILENO, &status) == 0 &&
           status.st_dev == device && status.st_ino == inode;
}

}  // namespace corvelle
