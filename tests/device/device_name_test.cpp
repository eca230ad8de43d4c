#include <gtest/gtest.h>

#include "device/qt/device_name.h"

namespace corvelle {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(DeviceName, DecodesGb2312AndNeverShowsControlCharacters) {
    ASSERT_TRUE(NameDecoderAvailable());
    EXPECT_EQ(DeviceNameText(Bytes("\xB1\xC3\xD5\xBE")), QStringLiteral("泵站"));
    EXPECT_EQ(DeviceNameText(Bytes("a\tb\x1B")), QStringLiteral("a\uFFFDb\uFFFD"));
    EXPECT_EQ(DeviceNameText(Bytes("<b>x</b>")), QStringLiteral("<b>x</b>"));
}

TEST(DeviceName, EscapesWhatCannotBeDecoded) {
    EXPECT_EQ(EscapedNameText(Bytes("P1 \xB1\xC3\n")), QStringLiteral("P1 \\xB1\\xC3\\x0A"));
    EXPECT_EQ(EscapedNameText({}), QString());
}

}  // namespace
}  // namespace corvelle
