#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvelle {

// The console's slots; a service may choose another count at start.
inline constexpr std::size_t kSlotCount = 8;

class DevicePage;

// The values the tab host, the pages, the registration and the settings panel share:
// one object, owned by whoever builds the console (or a test).
struct SlotTables {
    explicit SlotTables(std::size_t slotCount = kSlotCount)
        : pageWindows(slotCount), linkFlags(slotCount), deviceNames(slotCount) {}
    std::size_t SlotCount() const { return pageWindows.size(); }

    // Each page enters itself at initialisation.
    std::vector<DevicePage*> pageWindows;
    // 1 while a slot's page is attached to a connection; written only by the pages.
    std::vector<std::uint8_t> linkFlags;
    // Names as received (GB2312 bytes); the default tab texts until a device takes a slot.
    std::vector<std::vector<std::uint8_t>> deviceNames;
    // Poll period after each accepted reply; set only by the settings panel.
    std::uint32_t acquisitionIntervalMs = 3000;
};

}  // namespace corvelle
