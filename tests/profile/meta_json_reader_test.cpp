#include <gtest/gtest.h>

#include "profile/meta_json_reader.h"

namespace corvelle {
namespace {

TerminalProfile FullProfile() {
    TerminalProfile profile;
    profile.terminal = "一号\"泵站\"\\";
    profile.description = "东区\n\t\x01 泵站 😀";
    profile.channels[0] = ChannelProfile{"水位", "m", Scaling{1, 5, 0, 10.5}, 3, Axis::Left, {}};
    profile.channels[6] =
        ChannelProfile{"", "", Scaling{0.1, -2e-5, 1e300, -0.25}, 0, Axis::Right, {}};
    profile.channels[11] = ChannelProfile{"温度", "℃", std::nullopt, kMaxDecimals, Axis::Right, {}};
    profile.inputs[0].name = "门禁";
    profile.relays[11].name = "水泵";
    return profile;
}

TEST(MetaJsonReader, ReadsBackWhatMetaJsonWrites) {
    for (const TerminalProfile& profile : {TerminalProfile{}, FullProfile()}) {
        const auto read = ReadMetaJson(MetaJson(profile));
        ASSERT_TRUE(read.has_value()) << MetaJson(profile);
        EXPECT_EQ(*read, profile);
    }
    // Any key order, blanks, escapes MetaJson does not use, keys it does not write.
    const auto other = ReadMetaJson(
        R"( { "future": {"a": [1, null, true]}, "relays": [], "channels": [ {"axis": "right",)"
        R"( "channel": 2, "name": "\u6c34\/\ud83d\ude00", "decimals": 1e0} ], "name": "x" } )");
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(other->terminal, "x");
    ASSERT_TRUE(other->channels[1].has_value());
    EXPECT_EQ(other->channels[1]->name, "水/😀");
    EXPECT_EQ(other->channels[1]->decimals, 1);
    EXPECT_EQ(other->channels[1]->axis, Axis::Right);
}

TEST(MetaJsonReader, RefusesWhatIsNotAProfile) {
    const std::string tooLong(kMaxMetaJsonBytes + 1, ' ');
    const std::string deep = std::string(20, '[') + std::string(20, ']');
    for (const std::string& text :
         {std::string(),
          std::string("[]"),
          std::string("{} x"),
          std::string("{,}"),
          std::string(R"({"name":"a",})"),
          std::string(R"({"name":'a'})"),
          std::string("{\"name\":\"a\nb\"}"),
          std::string(R"({"name":"\ud800"})"),
          std::string(R"({"name":"\x"})"),
          std::string(R"({"name":1})"),
          std::string(R"({"channels":[{"channel":0}]})"),
          std::string(R"({"channels":[{"channel":13}]})"),
          std::string(R"({"channels":[{"channel":1.5}]})"),
          std::string(R"({"channels":[{"channel":1},{"channel":1}]})"),
          std::string(R"({"channels":[{"channel":1,"raw":[1,2]}]})"),
          std::string(R"({"channels":[{"channel":1,"raw":[1,1],"scaled":[0,1]}]})"),
          std::string(R"({"channels":[{"channel":1,"raw":[1,2],"scaled":[0,1e999]}]})"),
          std::string(R"({"channels":[{"channel":1,"raw":[01,2],"scaled":[0,1]}]})"),
          std::string(R"({"channels":[{"channel":1,"decimals":7}]})"),
          std::string(R"({"channels":[{"channel":1,"axis":"top"}]})"),
          std::string(R"({"channels":[{"channel":1,"unit":"12345678901234567"}]})"),
          std::string(R"({"inputs":[{"number":3},{"number":3}]})"),
          std::string(R"({"relays":{"number":1}})"),
          tooLong,
          "{\"x\":" + deep + "}"}) {
        EXPECT_FALSE(ReadMetaJson(text).has_value()) << text;
    }
}

}  // namespace
}  // namespace corvelle
