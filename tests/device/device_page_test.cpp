#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "device/device_page.h"
#include "page_fakes.h"
#include "protocol/modbus_ascii.h"
#include "protocol/module_frames.h"

namespace corvelle {
namespace {

using test::FakeRecord;

const std::string kQuery(ModuleQuery.begin(), ModuleQuery.end());
const std::string kRead4 = ":0A040000000AE8\r\n";
const std::string kRead6 = ":0A040000000CE6\r\n";
const std::string kRead12 = ":0A0400000012E0\r\n";

std::vector<std::uint8_t> Chunk(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> ModuleReply(std::string_view model) {
    const auto reply = BuildModuleReply(model);
    return {reply.begin(), reply.end()};
}

// A function 04 reply for a board with `channels` channels; `leading` fills the first bytes.
std::vector<std::uint8_t> PollReply(std::size_t channels, std::vector<std::uint8_t> leading = {}) {
    std::vector<std::uint8_t> frame(3 + 2 * (channels + 6));
    frame[0] = 0x0A;
    frame[1] = 0x04;
    frame[2] = static_cast<std::uint8_t>(frame.size() - 3);
    std::copy(leading.begin(), leading.end(), frame.begin() + 3);
    return Chunk(EncodeAsciiFrame(frame));
}

std::vector<std::uint8_t> Echo(std::uint8_t coil, std::uint8_t hi, std::uint8_t lo) {
    return Chunk(EncodeAsciiFrame(std::vector<std::uint8_t>{0x0A, 0x05, 0x00, coil, hi, lo}));
}

struct Rig {
    Rig() { page.Initialise(); }
    void Identify(std::string_view model = "XX4B") {
        page.OnDeviceLink(1, FakeRecord(0));
        page.OnDeviceData(ModuleReply(model));
    }
    // Identified, polled once and answered: the poll timer waits one acquisition interval.
    void Poll(std::size_t channels = 4, std::vector<std::uint8_t> leading = {}) {
        timer.Fire(page);
        page.OnDeviceData(PollReply(channels, std::move(leading)));
    }

    SlotTables tables;
    test::RecordingSender sender;
    test::FakeClock clock;
    test::FakePage fake{2, tables, sender, clock};
    DevicePage& page = fake.page;
    test::FakeTimer& timer = fake.timer;
    test::RecordingView& view = fake.view;
};

TEST(DevicePageLink, InitialiseShowsAnIdlePage) {
    Rig rig;
    EXPECT_EQ(rig.tables.pageWindows[2], &rig.page);
    EXPECT_EQ(rig.view.statusTexts, std::vector<std::string>{"          未连接         "});
    EXPECT_EQ(rig.view.rows.size(), 10U);
    EXPECT_EQ(rig.view.rows[5], (ValueRow{"5", "AD6", "0.000V", {}}));
    EXPECT_EQ(rig.view.relayCaptions[11], "打开");
    EXPECT_EQ(rig.fake.chart.ranges, (std::vector<std::pair<double, double>>{{-1, 5}}));
    EXPECT_FALSE(rig.timer.period);
}

TEST(DevicePageLink, AttachSendsTheModuleQueryOnly) {
    Rig rig;
    rig.Identify();
    rig.Poll();
    rig.sender.sent.clear();
    rig.page.OnDeviceLink(1, FakeRecord(1));
    ASSERT_EQ(rig.sender.sent.size(), 1U);
    EXPECT_EQ(rig.sender.sent[0].bytes.size(), 20U);
    EXPECT_EQ(rig.sender.sent[0].Payload(), kQuery);
    EXPECT_EQ(rig.sender.sent[0].record, FakeRecord(1));
    EXPECT_EQ(rig.tables.linkFlags[2], 1);
    EXPECT_EQ(rig.page.ChannelCount(), 4);
    EXPECT_EQ(rig.timer.period, 3000U);
    EXPECT_EQ(rig.view.statusTexts.back(), "24-03-05 07:08:09 已连接");
}

TEST(DevicePageLink, DetachStopsPollingAndKeepsTheDisplay) {
    for (const std::uintptr_t detach : {0U, 2U}) {
        Rig rig;
        rig.Identify();
        rig.Poll(4, {0, 0, 0x05, 0x00});
        const auto rows = rig.view.rows;
        const auto points = rig.fake.chart.series[0].points.size();
        rig.clock.now.second = 30;
        rig.page.OnDeviceLink(detach, nullptr);
        EXPECT_EQ(rig.tables.linkFlags[2], 0);
        EXPECT_EQ(rig.page.CurrentRecord(), nullptr);
        EXPECT_EQ(rig.page.ChannelCount(), 0);
        EXPECT_EQ(rig.view.statusTexts.back(), "24-03-05 07:08:30 已断开");
        EXPECT_FALSE(rig.timer.Fire(rig.page));
        EXPECT_EQ(rig.view.rows, rows);
        EXPECT_TRUE(rig.view.relayLamps[0]);
        EXPECT_EQ(rig.fake.chart.series[0].points.size(), points);

        rig.sender.sent.clear();
        rig.page.OnDeviceLink(1, FakeRecord(0));
        EXPECT_EQ(rig.sender.Payloads(), std::vector<std::string>{kQuery});
        EXPECT_FALSE(rig.timer.period);
    }
}

TEST(DevicePagePolling, ModelChoosesTheRequestAndTheWatchdogRepeatsIt) {
    struct Case {
        std::string_view model;
        std::uint8_t channels;
        const std::string& request;
    };
    for (const Case& c :
         {Case{"XX4B", 4, kRead4}, Case{"XX6A", 6, kRead6}, Case{"XX6C", 12, kRead12}}) {
        Rig rig;
        rig.Identify(c.model);
        EXPECT_EQ(rig.page.ChannelCount(), c.channels);
        EXPECT_EQ(rig.timer.period, 10U);
        EXPECT_EQ(rig.view.statusTexts.back(), "24-03-05 07:08:09 已连接");
        rig.sender.sent.clear();
        ASSERT_TRUE(rig.timer.Fire(rig.page));
        EXPECT_EQ(rig.timer.period, 10000U);
        ASSERT_TRUE(rig.timer.Fire(rig.page));
        EXPECT_EQ(rig.sender.Payloads(), (std::vector<std::string>{c.request, c.request}));
        EXPECT_EQ(rig.sender.sent[1].record, FakeRecord(0));
    }
}

TEST(DevicePagePolling, EachReplyReArmsWithTheCurrentInterval) {
    Rig rig;
    rig.Identify();
    rig.Poll();
    EXPECT_EQ(rig.timer.period, 3000U);
    rig.tables.acquisitionIntervalMs = 250;
    EXPECT_EQ(rig.timer.period, 3000U);
    rig.Poll();
    EXPECT_EQ(rig.timer.period, 250U);
    // A second identification while polling switches the request from the next poll on.
    rig.page.OnDeviceData(ModuleReply("XX6C"));
    EXPECT_EQ(rig.timer.period, 10U);
    rig.sender.sent.clear();
    rig.timer.Fire(rig.page);
    EXPECT_EQ(rig.sender.Payloads(), std::vector<std::string>{kRead12});
}

TEST(DevicePagePolling, UnlistedModelFallsBackToIdentification) {
    Rig identifying;
    identifying.page.OnDeviceLink(1, FakeRecord(0));
    identifying.page.OnDeviceData(ModuleReply("XX6D"));
    EXPECT_FALSE(identifying.timer.period);
    EXPECT_EQ(identifying.view.statusTexts.size(), 1U);
    EXPECT_EQ(identifying.sender.sent.size(), 1U);

    Rig polling;
    polling.Identify();
    polling.timer.Fire(polling.page);
    polling.page.OnDeviceData(ModuleReply("XX5A"));
    EXPECT_EQ(polling.page.ChannelCount(), 0);
    EXPECT_EQ(polling.timer.period, 10000U);
    polling.sender.sent.clear();
    polling.timer.Fire(polling.page);
    EXPECT_EQ(polling.sender.Payloads(), std::vector<std::string>{kQuery});
    EXPECT_EQ(polling.timer.period, 10000U);
    // Unidentified, only a six-register reply fits; it shows no channel rows.
    polling.page.OnDeviceData(PollReply(0));
    EXPECT_EQ(polling.timer.period, 3000U);
    EXPECT_EQ(polling.view.rows.size(), 4U);
}

TEST(DevicePagePolling, ChunksAreRoutedByLength) {
    auto badCrc = ModuleReply("XX4B");
    badCrc[1034] ^= 0x01;
    auto longReply = ModuleReply("XX4B");
    longReply.push_back(0x02);
    auto paddedPoll = PollReply(4);
    paddedPoll.resize(1035, ' ');
    const std::vector<std::uint8_t> bigRead(8192, ':');
    struct Case {
        std::vector<std::uint8_t> chunk;
        bool requery;
        std::uint32_t period;
    };
    for (const Case& c : {Case{badCrc, true, 10000}, Case{longReply, true, 10000},
                          Case{bigRead, true, 10000}, Case{paddedPoll, false, 3000}}) {
        Rig rig;
        rig.Identify();
        rig.timer.Fire(rig.page);
        rig.sender.sent.clear();
        rig.page.OnDeviceData(c.chunk);
        EXPECT_EQ(rig.sender.Payloads(),
                  c.requery ? std::vector<std::string>{kQuery} : std::vector<std::string>{});
        EXPECT_EQ(rig.page.ChannelCount(), 4);
        EXPECT_EQ(rig.timer.period, c.period);
    }
}

TEST(DevicePagePolling, RejectedFramesAndForeignTimersChangeNothing) {
    auto wrongLrc = PollReply(4);
    wrongLrc[wrongLrc.size() - 3] ^= 0x01;
    const std::vector<std::vector<std::uint8_t>> chunks = {
        wrongLrc, PollReply(6), Chunk("0A04"),
        Chunk(EncodeAsciiFrame(std::vector<std::uint8_t>{0x0A, 0x84, 0x01}))};
    Rig rig;
    rig.Identify();
    rig.timer.Fire(rig.page);
    rig.sender.sent.clear();
    const int rowUpdates = rig.view.rowUpdates;
    for (const auto& chunk : chunks) {
        rig.page.OnDeviceData(chunk);
    }
    rig.page.OnTimer(2);
    EXPECT_TRUE(rig.sender.sent.empty());
    EXPECT_EQ(rig.view.rowUpdates, rowUpdates);
    EXPECT_EQ(rig.timer.period, 10000U);
    EXPECT_EQ(rig.timer.stops, 0);
}

TEST(DevicePageDecoding, ReplyUpdatesTablesLampsListAndChart) {
    Rig rig;
    rig.Identify();
    rig.Poll(4, {0, 0, 0xFF, 0xFF, 0x80, 0x01});
    EXPECT_EQ(rig.view.inputLamps,
              (std::array<bool, 12>{false, false, false, false, false, false, false, true, true}));
    // Each reply's relay word replaces all twelve states; bits 12-15 (the F of F8) name none.
    rig.Poll(4,
             {0, 0, 0x05, 0xF8, 0x80, 0x01, 0, 0, 0, 0, 0, 0, 0xFB, 0x2E, 0, 0, 0, 0, 0x7F, 0xFF});
    EXPECT_EQ(rig.page.RelayStates(),
              (std::array<std::uint8_t, 12>{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(rig.view.relayCaptions[2], "关闭");
    EXPECT_EQ(rig.view.relayCaptions[1], "打开");
    EXPECT_TRUE(rig.view.relayLamps[11]);
    EXPECT_EQ(rig.page.ChannelVolts()[0], -1234 * 0.001F);
    EXPECT_EQ(rig.view.rows.size(), 8U);
    EXPECT_EQ(rig.view.rows[3], (ValueRow{"3", "AD4", "32.767V", {}}));
    const auto& chart = rig.fake.chart;
    EXPECT_EQ(chart.ranges.back(), (std::pair<double, double>{-1, 34}));
    EXPECT_EQ(chart.series[0].points.back().y, static_cast<double>(-1234 * 0.001F));
    EXPECT_EQ(chart.series[5].points.back().y, 0.0);
    EXPECT_EQ(chart.series[5].points.back().x, 1);
}

TEST(DevicePageRelays, ClickAsksForTheOppositeOfTheKnownState) {
    Rig rig;
    rig.Identify();
    rig.sender.sent.clear();
    const int relayUpdates = rig.view.relayUpdates;
    rig.page.OnRelayButton(9);
    rig.page.OnRelayButton(9);  // no echo yet: the same request again
    EXPECT_EQ(rig.view.relayUpdates, relayUpdates);
    EXPECT_EQ(rig.timer.period, 10U);
    rig.page.OnDeviceData(Echo(8, 0xFF, 0x00));
    rig.page.OnDeviceLink(0, nullptr);
    rig.page.OnRelayButton(9);
    EXPECT_EQ(rig.sender.Payloads(),
              (std::vector<std::string>{":0A050008FF00EA\r\n", ":0A050008FF00EA\r\n",
                                        ":0A0500080000E9\r\n"}));
    EXPECT_EQ(rig.sender.sent[0].record, FakeRecord(0));
    EXPECT_EQ(rig.sender.sent[2].record, nullptr);
    EXPECT_EQ(rig.page.RelayStates()[8], 1);
}

// "on" then "off" within a round trip ends off: a command is compared with the state last asked
// for, not the one last confirmed.
TEST(DevicePageRelays, CommandsCompareWithTheStateLastAskedFor) {
    Rig rig;
    rig.Identify();
    rig.sender.sent.clear();
    EXPECT_FALSE(rig.page.RequestRelayState(9, false));
    EXPECT_TRUE(rig.page.RequestRelayState(9, true));
    EXPECT_TRUE(rig.page.RequestRelayState(9, false));
    // One at a time: "off" goes once "on" is echoed.
    EXPECT_EQ(rig.sender.Payloads(), std::vector<std::string>{":0A050008FF00EA\r\n"});
    rig.page.OnDeviceData(Echo(8, 0xFF, 0x00));
    rig.page.OnDeviceData(Echo(8, 0x00, 0x00));
    EXPECT_FALSE(rig.page.RequestRelayState(9, false));
    EXPECT_EQ(rig.sender.Payloads(),
              (std::vector<std::string>{":0A050008FF00EA\r\n", ":0A0500080000E9\r\n"}));

    // An echo lost on the way: the reply to a poll sent after the request ends the wait.
    EXPECT_TRUE(rig.page.RequestRelayState(9, true));
    EXPECT_TRUE(rig.page.RequestRelayState(9, false));
    rig.Poll(4, {0, 0, 0, 0});
    EXPECT_EQ(rig.sender.Payloads().back(), ":0A0500080000E9\r\n");
}

TEST(DevicePageRelays, EchoesSetOnlyKnownCoilsAndAlwaysRedraw) {
    struct Case {
        std::vector<std::uint8_t> echo;
        std::uint8_t relay4;
    };
    for (const Case& c : {Case{Echo(3, 0xFF, 0x00), 1}, Case{Echo(3, 0x00, 0x00), 0},
                          Case{Echo(3, 0x12, 0x34), 1}, Case{Echo(12, 0x00, 0x00), 1}}) {
        Rig rig;
        rig.page.OnDeviceData(Echo(3, 0xFF, 0x00));
        const int relayUpdates = rig.view.relayUpdates;
        rig.page.OnDeviceData(c.echo);
        EXPECT_EQ(rig.page.RelayStates()[3], c.relay4);
        EXPECT_EQ(rig.view.relayLamps[3], c.relay4 == 1);
        EXPECT_EQ(rig.view.relayUpdates, relayUpdates + 12);
    }
}

// A terminal's profile is applied once per reply: the list, the captions, the chart and the
// sinks all see the same scaled value; a profile that goes leaves the page as without one.
TEST(DevicePageProfile, ScalesOnceForListChartAndSinks) {
    struct Sink final : AcquisitionSink {
        void OnReading(const Reading& reading) override { readings.push_back(reading); }
        void OnEvent(const AcquisitionEvent&) override {}
        std::vector<Reading> readings;
    } sink;
    auto profile = std::make_shared<TerminalProfile>();
    ChannelProfile level{"水位", "m", Scaling{1.0, 5.0, 0.0, 10.0}, 2, Axis::Right, {}};
    profile->channels[0] = level;
    profile->channels[1].emplace().name = "备用";
    profile->inputs[2].name = "门磁";

    Rig rig;
    rig.page.SetSink(&sink);
    rig.page.SetProfile(profile);
    EXPECT_EQ(rig.view.inputNames[2], "门磁");
    EXPECT_EQ(rig.view.relayNames[0], "继电器1");
    const auto& chart = rig.fake.chart;
    EXPECT_EQ(chart.lines[0].name, "水位");
    EXPECT_TRUE(chart.lines[0].rightAxis && chart.lines[0].scaled && chart.axesLabelled);
    EXPECT_EQ(chart.rightRanges.back(), (std::pair<double, double>{-0.5, 10.5}));

    rig.Identify();
    // AD1 3.000 V is 5 m; AD2 -1.234 V stays volts under its new name.
    rig.Poll(4, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0B, 0xB8, 0xFB, 0x2E});
    EXPECT_EQ(rig.view.rows[0], (ValueRow{"0", "水位", "5.00 m", "AD1 3.000V"}));
    EXPECT_EQ(rig.view.rows[1], (ValueRow{"1", "备用", "-1.234V", "AD2 -1.234V"}));
    EXPECT_EQ(rig.view.rows[2], (ValueRow{"2", "AD3", "0.000V", {}}));
    EXPECT_EQ(chart.series[0].points.back().y, 5.0);
    ASSERT_EQ(sink.readings.size(), 1U);
    EXPECT_EQ(sink.readings[0].values[0], 5.0);
    EXPECT_EQ(sink.readings[0].profile.get(), profile.get());
    // 7 V is 15 m, past the scaled range: the right axis grows, a twentieth of its span to spare.
    rig.Poll(4, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x1B, 0x58});
    EXPECT_EQ(chart.rightRanges.back().first, -0.5);
    EXPECT_DOUBLE_EQ(chart.rightRanges.back().second, 15.55);

    rig.page.SetProfile(nullptr);
    EXPECT_EQ(rig.view.rows[0], (ValueRow{"0", "AD1", "7.000V", {}}));
    EXPECT_EQ(rig.view.inputNames[2], "光耦3");
    EXPECT_FALSE(chart.axesLabelled);
    EXPECT_EQ(chart.ranges.back(), (std::pair<double, double>{-1, 5}));
}

}  // namespace
}  // namespace corvelle
