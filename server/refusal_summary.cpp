#include "server/refusal_summary.h"

namespace corvelle {

std::optional<RefusalSummary::Report> RefusalSummary::Refused(std::string_view address,
                                                              CloseReason reason,
                                                              std::uint64_t nowMs) {
    std::pair key{std::string(address), reason};
    if (!counts_.contains(key) && counts_.size() >= kMostAddresses) {
        key.first = kOtherAddresses;
    }
    const auto [it, added] = counts_.try_emplace(std::move(key), Count{nowMs, 0});
    if (added) {
        return Report{it->first.first, reason, 1};
    }
    ++it->second.pending;
    return std::nullopt;
}

std::vector<RefusalSummary::Report> RefusalSummary::Due(std::uint64_t nowMs) {
    std::vector<Report> reports;
    for (auto it = counts_.begin(); it != counts_.end();) {
        Count& count = it->second;
        if (nowMs - count.since < kPeriodMs) {
            ++it;
        } else if (count.pending == 0) {
            // A quiet minute: the next refusal of this address is news again.
            it = counts_.erase(it);
        } else {
            reports.push_back({it->first.first, it->first.second, count.pending});
            count = {nowMs, 0};
            ++it;
        }
    }
    return reports;
}

std::string_view AddressOf(std::string_view peer) {
    const auto colon = peer.rfind(':');
    return colon == std::string_view::npos ? peer : peer.substr(0, colon);
}

}  // namespace corvelle
