#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "protocol/frame_text.h"

namespace corvelle {
namespace {

TEST(DescribeFrame, AsciiAsTextBinaryAsHex) {
    const auto bytes = [](std::string_view text) {
        return std::vector<std::uint8_t>(text.begin(), text.end());
    };
    EXPECT_EQ(DescribeFrame(bytes(":0A04\r\n")), ":0A04\\r\\n");
    EXPECT_EQ(DescribeFrame(bytes("\x0D\x7F:0A\r\n")), "[noise 0D 7F] :0A\\r\\n");
    EXPECT_EQ(DescribeFrame(std::vector<std::uint8_t>{0x55, 0xAA, 0x00, 0x01}), "55 AA 00 01");
    EXPECT_EQ(DescribeFrame({}), "");
    std::vector<std::uint8_t> reply(1036, 0xAB);
    reply.back() = 0x02;
    const std::string shown = DescribeFrame(reply);
    EXPECT_EQ(shown.size(), 24 * 3 - 1 + std::string(" ... AB AB AB 02 (1036 bytes)").size());
    EXPECT_TRUE(shown.ends_with("AB ... AB AB AB 02 (1036 bytes)"));
}

}  // namespace
}  // namespace corvelle
