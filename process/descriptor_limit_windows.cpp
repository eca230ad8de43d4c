// Windows limits handles per process far beyond what a service of 256 slots can use.
#include "process/descriptor_limit.h"

namespace corvelle {

std::optional<std::uint64_t> RaiseDescriptorLimit() {
    return std::nullopt;
}

}  // namespace corvelle
