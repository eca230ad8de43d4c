#pragma once

#include <cstdint>
#include <optional>

namespace corvelle {

// Raises the process's soft limit on open files and sockets to its hard limit, and returns the
// limit now in force; nothing where the system sets no such limit.
std::optional<std::uint64_t> RaiseDescriptorLimit();

}  // namespace corvelle
