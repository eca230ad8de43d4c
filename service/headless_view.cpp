#include "service/headless_view.h"

#include <utility>

namespace corvelle {
// Named rather than anonymous: the page record below, a member type of the view, holds them.
namespace blank {

class BlankView final : public PageView {
  public:
    void SetStatusText(std::string_view) override {}
    void SetValueRows(std::span<const ValueRow>) override {}
    void SetInputLamp(std::size_t, bool) override {}
    void SetRelay(std::size_t, bool, std::string_view) override {}
};

class BlankSeries final : public ChartSeries {
  public:
    void Clear() override {}
    int AppendPoint(double, double, std::string_view, std::int32_t) override { return 0; }
};

class BlankChart final : public TrendChart {
  public:
    ChartSeries& Series(int) override { return series_; }
    void SetValueAxisRange(double, double) override {}

  private:
    BlankSeries series_;
};

}  // namespace blank

struct HeadlessTabHostView::Page {
    Page(int slot, SlotTables& tables, DeviceSender& sender, const Clock& clock)
        : timer([this] { page.OnTimer(DevicePage::kPollTimerId); }),
          page(slot, tables, sender, timer, clock, view, chart) {}

    QtOneShotTimer timer;
    blank::BlankView view;
    blank::BlankChart chart;
    DevicePage page;
};

HeadlessTabHostView::HeadlessTabHostView(SlotTables& tables,
                                         std::function<void(std::string_view)> onMessage)
    : tables_(tables), onMessage_(std::move(onMessage)) {}

HeadlessTabHostView::~HeadlessTabHostView() = default;

DevicePage& HeadlessTabHostView::AddPage(int slot, std::span<const std::uint8_t>) {
    pages_.push_back(std::make_unique<Page>(slot, tables_, *sender_, clock_));
    pages_.back()->page.Initialise();
    return pages_.back()->page;
}

}  // namespace corvelle
