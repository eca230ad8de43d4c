#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/page_ports.h"
#include "server/device_tab_host.h"
#include "tests/device/page_fakes.h"

namespace corvelle::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(std::string_view text) {
    return {text.begin(), text.end()};
}

class FakeConnection : public Connection {
  public:
    ~FakeConnection() override {
        if (destroyed != nullptr) {
            *destroyed = true;
        }
    }
    void Write(std::span<const std::uint8_t> bytes) override {
        writes.emplace_back(bytes.begin(), bytes.end());
    }
    void Close() override { closed = true; }
    void SetReadingPaused(bool paused) override { readingPaused = paused; }
    std::string PeerAddress() const override { return "192.0.2.7:40000"; }

    std::vector<Bytes> writes;
    bool closed = false;
    bool readingPaused = false;
    // Set when the server lets go of the connection.
    bool* destroyed = nullptr;
};

class FakeListener : public Listener {
  public:
    bool Listen(std::uint16_t port) override {
        ports.push_back(port);
        return !failing;
    }
    void Close() override { ++closes; }

    bool failing = false;
    std::vector<std::uint16_t> ports;
    int closes = 0;
};

class FakeRegistrationTimer : public RegistrationTimer {
  public:
    void Schedule(ClientRecord* record, std::uint32_t milliseconds) override {
        pending[record] = milliseconds;
    }
    void Cancel(ClientRecord* record) override { pending.erase(record); }
    void FireAll(DeviceTabHost& host) {
        auto due = std::move(pending);
        pending.clear();
        for (const auto& [record, ms] : due) {
            host.CompleteRegistration(record);
        }
    }

    std::map<ClientRecord*, std::uint32_t> pending;
};

// Every event as "<slot> <description>", and the readings.
class RecordingSink : public AcquisitionSink {
  public:
    void OnReading(const Reading& reading) override { readings.push_back(reading); }
    void OnEvent(const AcquisitionEvent& event) override {
        events.push_back(std::to_string(event.slot) + " " + DescribeEvent(event));
    }

    std::vector<Reading> readings;
    std::vector<std::string> events;
};

// The tab host's widgets and neighbours as plain records; pages are FakePages whose sender
// is the host under test.
class FakeHostView : public TabHostView {
  public:
    explicit FakeHostView(SlotTables& tables) : tables_(tables) {}

    DevicePage& AddPage(int slot, std::span<const std::uint8_t> text) override {
        tabs.resize(static_cast<std::size_t>(slot) + 1);
        tabs[static_cast<std::size_t>(slot)] = Bytes(text.begin(), text.end());
        pages.push_back(std::make_unique<FakePage>(slot, tables_, *sender, clock));
        pages.back()->page.Initialise();
        return pages.back()->page;
    }
    void SetTabText(int slot, std::span<const std::uint8_t> text) override {
        tabs.at(static_cast<std::size_t>(slot)) = Bytes(text.begin(), text.end());
        events.push_back("tab " + std::to_string(slot));
    }
    void SelectTab(int index) override { selectedTab = index; }
    void ShowOnlyPage(int index) override { shownPage = index; }
    void PageSelected(int index) override { selectedNotices.push_back(index); }
    void PageRenamed(int slot, std::span<const std::uint8_t> name) override {
        renamed.emplace_back(slot, Bytes(name.begin(), name.end()));
        events.push_back("renamed " + std::to_string(slot));
    }
    void ListenStateChanged(int state) override { listenStates.push_back(state); }
    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }

    FakePage& Page(int slot) { return *pages.at(static_cast<std::size_t>(slot)); }

    DeviceSender* sender = nullptr;
    FakeClock clock;
    std::vector<std::unique_ptr<FakePage>> pages;
    std::vector<Bytes> tabs;
    int selectedTab = -2;
    int shownPage = -2;
    std::vector<int> selectedNotices;
    std::vector<std::pair<int, Bytes>> renamed;
    std::vector<int> listenStates;
    std::vector<std::string> messages;
    std::vector<std::string> events;

  private:
    SlotTables& tables_;
};

}  // namespace corvelle::test
