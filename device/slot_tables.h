#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvelle {

inline constexpr std::size_t kSlotCount = 8;

class DevicePage;

// The values the tab host, the pages, the registration and the settings panel share:
// one object, owned by whoever builds the console (or a test).
struct SlotTables {
    // Each page enters itself at initialisation.
    std::array<DevicePage*, kSlotCount> pageWindows{};
    // 1 while a slot's page is attached to a connection; written only by the pages.
    std::array<std::uint8_t, kSlotCount> linkFlags{};
    // Names as received (GB2312 bytes); the default tab texts until a device takes a slot.
    std::array<std::vector<std::uint8_t>, kSlotCount> deviceNames;
    // Poll period after each accepted reply; set only by the settings panel.
    std::uint32_t acquisitionIntervalMs = 3000;
};

}  // namespace corvelle
