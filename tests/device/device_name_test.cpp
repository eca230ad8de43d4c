#include <gtest/gtest.h>

#include "device/qt/device_name.h"

namespace corvelle {
namespace {

std::vector<std::uint8_t> Raw(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(DeviceName, DecodesGb2312AndNeverShowsControlCharacters) {
    ASSERT_TRUE(NameDecoderAvailable());
    EXPECT_EQ(DeviceNameText(Raw("\xB1\xC3\xD5\xBE")), QStringLiteral("泵站"));
    EXPECT_EQ(DeviceNameText(Raw("a\tb\x1B")), QStringLiteral("a\uFFFDb\uFFFD"));
    EXPECT_EQ(DeviceNameText(Raw("<b>x</b>")), QStringLiteral("<b>x</b>"));
}

TEST(DeviceName, EscapesWhatCannotBeDecoded) {
    EXPECT_EQ(EscapedNameText(Raw("P1 \xB1\xC3\n")), QStringLiteral("P1 \\xB1\\xC3\\x0A"));
    EXPECT_EQ(EscapedNameText({}), QString());
}

}  // namespace
}  // namespace corvelle
