#pragma once

#include <memory>
#include <vector>

#include "chart/chart_interface.h"
#include "device/device_page.h"
#include "device/qt/qt_page_ports.h"
#include "server/host_ports.h"

namespace corvelle {

// The pages of the service: the same behaviour as the console's, with a view and a chart that
// draw nothing. Tab texts and selections have nowhere to go; operator messages go to onMessage.
class HeadlessTabHostView final : public TabHostView {
  public:
    HeadlessTabHostView(SlotTables& tables, std::function<void(std::string_view)> onMessage);
    ~HeadlessTabHostView() override;
    HeadlessTabHostView(const HeadlessTabHostView&) = delete;
    HeadlessTabHostView& operator=(const HeadlessTabHostView&) = delete;

    // The pages' sends go here; set before the host creates the pages.
    void SetSender(DeviceSender& sender) { sender_ = &sender; }

    DevicePage& AddPage(int slot, std::span<const std::uint8_t> tabText) override;
    void SetTabText(int, std::span<const std::uint8_t>) override {}
    void SelectTab(int) override {}
    void ShowOnlyPage(int) override {}
    void PageSelected(int) override {}
    void PageRenamed(int, std::span<const std::uint8_t>) override {}
    void ListenStateChanged(int) override {}
    void ShowMessage(std::string_view text) override { onMessage_(text); }

  private:
    struct Page;

    SlotTables& tables_;
    std::function<void(std::string_view)> onMessage_;
    DeviceSender* sender_ = nullptr;
    LocalClock clock_;
    std::vector<std::unique_ptr<Page>> pages_;
};

}  // namespace corvelle
