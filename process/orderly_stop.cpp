#include "process/orderly_stop.h"

#include <algorithm>
#include <utility>

namespace corvelle {
namespace {

constexpr int kPollMs = 10;

}  // namespace

void OrderlyStop::Run(std::vector<Drain*> drains,
                      std::function<void(std::vector<std::string>)> done) {
    drains_ = std::move(drains);
    done_ = std::move(done);
    clock_.start();
    for (Drain* drain : drains_) {
        drain->BeginDrain();
    }
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, &OrderlyStop::Check, Qt::UniqueConnection);
    poll_.start();
    Check();
}

void OrderlyStop::Check() {
    const bool drained =
        std::all_of(drains_.begin(), drains_.end(), [](const Drain* d) { return d->Drained(); });
    if (!drained && clock_.elapsed() < kDeadlineMs) {
        return;
    }
    poll_.stop();
    std::vector<std::string> left;
    for (Drain* drain : drains_) {
        if (std::string what = drain->Abandon(); !what.empty()) {
            left.push_back(std::move(what));
        }
    }
    if (done_) {
        std::exchange(done_, nullptr)(std::move(left));
    }
}

}  // namespace corvelle

#include "moc_orderly_stop.cpp"  // NOLINT(bugprone-suspicious-include): moc output
