#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "record/csv_rows.h"

namespace corvelle {
namespace {

constexpr LocalDateTime kTime = {2026, 12, 8, 10, 15, 30, 123, 28800};

TEST(ReadingRow, BoardChannelsInVoltsThenStatusAndFlags) {
    Reading reading;
    reading.time = kTime;
    reading.channelMillivolts = {-1234, 32767, 5, -32768, 0, 2500, 7, 8, 9, 10, 11, -12};
    reading.inputs = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    reading.relays = {0, 1};
    reading.temperatureCentidegrees = -525;
    reading.referenceMillivolts = 2500;
    reading.supplyCentivolts = 1205;
    reading.signalValue = -7;
    const std::string tail = ",-5.25,2.500,12.05,-7,100000000001,010000000000";
    const std::pair<std::uint8_t, std::string> cases[] = {
        {0, ",,,,,,,,,,,"},
        {4, "-1.234,32.767,0.005,-32.768,,,,,,,,"},
        {6, "-1.234,32.767,0.005,-32.768,0.000,2.500,,,,,,"},
        {12, "-1.234,32.767,0.005,-32.768,0.000,2.500,0.007,0.008,0.009,0.010,0.011,-0.012"},
    };
    for (const auto& [channels, volts] : cases) {
        reading.channelCount = channels;
        const std::string row = ReadingRow(reading);
        EXPECT_EQ(row, ("2026-12-08 10:15:30.123," + volts).append(tail));
        EXPECT_EQ(std::count(row.begin(), row.end(), ','),
                  std::count(kReadingHeader.begin(), kReadingHeader.end(), ','));
    }
}

TEST(EventRow, KindsInChineseNamesQuotedWhenNeeded) {
    struct Case {
        EventKind kind;
        bool on;
        CloseReason reason;
        int slot;
        std::int64_t value;
        std::string name;
        std::string row;
    };
    const Case cases[] = {
        {EventKind::Registered, false, {}, 3, 0, "泵站1", "3,泵站1,注册,10.0.0.5:4001"},
        {EventKind::Identified, false, {}, 3, 12, "泵站1", "3,泵站1,已连接,12通道"},
        {EventKind::Detached, false, {}, 8, 0, "a,\"b\"", "8,\"a,\"\"b\"\"\",已断开,"},
        {EventKind::RelayEcho, true, {}, 1, 5, "x\r\ny", "1,\"x\r\ny\",继电器,继电器5 开"},
        {EventKind::RelayEcho, false, {}, 1, 12, "x", "1,x,继电器,继电器12 关"},
        {EventKind::ClosedByConsole, false, CloseReason::TakenOver, 2, 0, "x",
         "2,x,关闭连接,被同名的新连接取代 10.0.0.5:4001"},
        {EventKind::ClosedByConsole, false, CloseReason::UnregisteredLimit, 0, 0, "",
         ",,关闭连接,未注册连接过多 10.0.0.5:4001"},
        {EventKind::ReadingsDropped, false, {}, 0, 17, "", ",,数据丢弃,17行"},
        {EventKind::ConnectionsRefused, false, CloseReason::NotAllowed, 0, 300, "",
         ",,拒绝连接,地址不允许 10.0.0.5:4001：300次"},
        // Spreadsheets must not take a name for a formula.
        {EventKind::Detached, false, {}, 4, 0, "=1+2", "4,'=1+2,已断开,"},
        {EventKind::Detached, false, {}, 4, 0, "@SUM(A1)", "4,'@SUM(A1),已断开,"},
    };
    for (const Case& c : cases) {
        AcquisitionEvent event;
        event.time = kTime;
        event.kind = c.kind;
        event.slot = c.slot;
        event.peer = "10.0.0.5:4001";
        event.value = c.value;
        event.on = c.on;
        event.reason = c.reason;
        EXPECT_TRUE(IsRecorded(event));
        EXPECT_EQ(EventRow(event, c.name), "2026-12-08 10:15:30.123," + c.row);
    }
    for (const EventKind kind :
         {EventKind::Connected, EventKind::Refused, EventKind::ConnectionsRefused}) {
        AcquisitionEvent event;
        event.kind = kind;
        event.reason = CloseReason::InvalidRegistration;
        EXPECT_FALSE(IsRecorded(event));
        EXPECT_EQ(EventRow(event, "x"), std::nullopt);
    }
}

}  // namespace
}  // namespace corvelle
