#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "device/acquisition_sink.h"

namespace corvelle {

// Counts the connections refused per source address and reason, so that a flood costs one
// report per address and minute instead of one per connection (a log line, a row, a message
// each, which would drown what matters and push readings out of queues): the first refusal of
// an address is reported at once, later ones as one count when their minute is over.
class RefusalSummary {
  public:
    static constexpr std::uint64_t kPeriodMs = 60'000;
    // Addresses counted apart; beyond them, refusals share one count.
    static constexpr std::size_t kMostAddresses = 1024;
    static constexpr std::string_view kOtherAddresses = "other addresses";

    struct Report {
        std::string address;
        CloseReason reason = CloseReason::NotAllowed;
        std::uint64_t count = 0;
    };

    // A connection from address was refused at nowMs (monotonic); the report to make now, if any.
    std::optional<Report> Refused(std::string_view address, CloseReason reason,
                                  std::uint64_t nowMs);
    // The counts whose minute is over by nowMs.
    std::vector<Report> Due(std::uint64_t nowMs);

  private:
    struct Count {
        std::uint64_t since = 0;
        std::uint64_t pending = 0;
    };
    std::map<std::pair<std::string, CloseReason>, Count, std::less<>> counts_;
};

// The address part of "address:port" ("[v6]:port" for IPv6).
std::string_view AddressOf(std::string_view peer);

}  // namespace corvelle
