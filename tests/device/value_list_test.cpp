#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "device/value_list.h"

namespace corvelle {
namespace {

constexpr std::array<std::uint8_t, kChannelCount> kNumbers = {1, 2, 3, 4,  5,  6,
                                                              7, 8, 9, 10, 11, 12};

std::vector<ValueRow> StatusRows(const std::vector<ValueRow>& rows) {
    return {rows.end() - 4, rows.end()};
}

TEST(BuildValueRows, ChannelRowsFollowTheReply) {
    const std::array<std::int32_t, kChannelCount> mv = {-1234, 5, 32767, -32768, -5};
    for (const int channels : {4, 6, 12}) {
        const auto rows = BuildValueRows(channels, kNumbers, mv, {});
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(channels) + 4);
        EXPECT_EQ(rows[0], (ValueRow{"0", "AD1", "-1.234V", {}}));
        EXPECT_EQ(rows[1], (ValueRow{"1", "AD2", "0.005V", {}}));
        EXPECT_EQ(rows[2], (ValueRow{"2", "AD3", "32.767V", {}}));
        EXPECT_EQ(rows[3], (ValueRow{"3", "AD4", "-32.768V", {}}));
        EXPECT_EQ(rows.back().label, "信号");
        EXPECT_EQ(rows[static_cast<std::size_t>(channels) - 1].label,
                  "AD" + std::to_string(channels));
    }
    EXPECT_EQ(BuildValueRows(6, kNumbers, mv, {})[4].value, "-0.005V");
    EXPECT_EQ(BuildValueRows(0, kNumbers, mv, {}).size(), 4U);
    EXPECT_EQ(BuildValueRows(-6, kNumbers, mv, {}).size(), 4U);
}

TEST(BuildValueRows, StatusRowsSitBelowTheChannelsTemperatureFirst) {
    struct Case {
        std::int16_t signal, supply, reference, temperature;
        std::vector<ValueRow> rows;
    };
    const Case cases[] = {
        {0,
         0,
         0,
         0,
         {{"", "温度", "0.00℃", {}},
          {"", "基准", "0.000V", {}},
          {"", "电源", "0.00V", {}},
          {"", "信号", "0", {}}}},
        {-7,
         1205,
         2500,
         2537,
         {{"", "温度", "25.37℃", {}},
          {"", "基准", "2.500V", {}},
          {"", "电源", "12.05V", {}},
          {"", "信号", "-7", {}}}},
        {32767,
         -5,
         -2500,
         -525,
         {{"", "温度", "-5.25℃", {}},
          {"", "基准", "-2.500V", {}},
          {"", "电源", "-0.05V", {}},
          {"", "信号", "32767", {}}}},
        {0,
         0,
         0,
         -50,
         {{"", "温度", "-0.50℃", {}},
          {"", "基准", "0.000V", {}},
          {"", "电源", "0.00V", {}},
          {"", "信号", "0", {}}}},
    };
    for (const Case& c : cases) {
        RegisterBlock block;
        block.signalValue = c.signal;
        block.supplyCentivolts = c.supply;
        block.referenceMillivolts = c.reference;
        block.temperatureCentidegrees = c.temperature;
        EXPECT_EQ(StatusRows(BuildValueRows(6, kNumbers, {}, block)), c.rows);
    }
}

}  // namespace
}  // namespace corvelle
