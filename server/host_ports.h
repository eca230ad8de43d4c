#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace corvelle {

class DevicePage;
struct ClientRecord;

// The widgets and neighbours of the tab host, as its behaviour sees them. Names are raw
// device-name bytes (GB2312 as received); the view decodes them for display.
class TabHostView {
  public:
    virtual ~TabHostView() = default;
    // Adds the tab of a slot with its text, and creates and initialises the slot's page,
    // which lives as long as the view.
    virtual DevicePage& AddPage(int slot, std::span<const std::uint8_t> tabText) = 0;
    virtual void SetTabText(int slot, std::span<const std::uint8_t> text) = 0;
    // Selects a tab without raising a selection notification.
    virtual void SelectTab(int index) = 0;
    // Hides every page, then shows the page of index when it is 0..7.
    virtual void ShowOnlyPage(int index) = 0;
    // To the main window: the operator selected a tab; a slot took a device name.
    virtual void PageSelected(int index) = 0;
    virtual void PageRenamed(int slot, std::span<const std::uint8_t> name) = 0;
    // To the settings panel: 1 listening, 0 not.
    virtual void ListenStateChanged(int state) = 0;
    // An operator message; must return at once without waiting for the operator.
    virtual void ShowMessage(std::string_view text) = 0;
};

// The listening socket on all interfaces.
class Listener {
  public:
    virtual ~Listener() = default;
    virtual bool Listen(std::uint16_t port) = 0;
    virtual void Close() = 0;
};

// Runs the deferred half of a registration after the attach gap.
class RegistrationTimer {
  public:
    virtual ~RegistrationTimer() = default;
    virtual void Schedule(ClientRecord* record, std::uint32_t milliseconds) = 0;
    virtual void Cancel(ClientRecord* record) = 0;
};

// Limits for a server exposed to a network; each is off while unset.
struct ConnectionLimits {
    // A connection that has not registered this long after it was accepted is closed.
    std::optional<std::uint32_t> registrationTimeoutMs;
    // At most this many connections wait to register; a newer one closes the oldest.
    std::optional<std::size_t> maxUnregistered;
    // A registered connection with no valid reply for this long is closed; its slot keeps its
    // name, so its terminal comes back to it.
    std::optional<std::uint32_t> silentTimeoutMs;
};

// Sees every chunk read from a connection and every write to it, for a frame trace.
class FrameTap {
  public:
    virtual ~FrameTap() = default;
    virtual void OnFrame(const ClientRecord& record, bool received,
                         std::span<const std::uint8_t> bytes) = 0;
};

}  // namespace corvelle
