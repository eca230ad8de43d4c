#include <gtest/gtest.h>

#include "server/net/command_line.h"

namespace corvelle {
namespace {

// Every address option reads addresses one way; what another reader would take for another
// address is refused.
TEST(CommandLine, AddressesAndRangesAreReadStrictly) {
    const std::pair<const char*, const char*> subnets[] = {
        {"127.0.0.1", "127.0.0.1/32"},
        {"10.0.0.0/8", "10.0.0.0/8"},
        {"0.0.0.0/0", "0.0.0.0/0"},
        {"::1", "::1/128"},
        {"2001:db8::/32", "2001:db8::/32"},
        {"::ffff:127.0.0.0/104", "127.0.0.0/8"},
        {"::ffff:192.0.2.7", "192.0.2.7/32"},
        {"0127.0.0.1", nullptr},
        {"127.1", nullptr},
        {"127.0.0.1.5", nullptr},
        {"256.0.0.1", nullptr},
        {"010.0.0.1", nullptr},
        {"1.2.3.4/33", nullptr},
        {"1.2.3.4/08", nullptr},
        {"::ffff:127.0.0.0/64", nullptr},
        {"example.org", nullptr},
        {"", nullptr},
        {" ", nullptr},
    };
    for (const auto& [text, expected] : subnets) {
        SCOPED_TRACE(text);
        const auto subnet = ParseSubnet(QString::fromLatin1(text));
        ASSERT_EQ(subnet.has_value(), expected != nullptr);
        if (subnet) {
            EXPECT_EQ(QStringLiteral("%1/%2").arg(subnet->first.toString()).arg(subnet->second),
                      QString::fromLatin1(expected));
        }
    }
    EXPECT_EQ(ParseAddress(QStringLiteral("0127.0.0.1")), std::nullopt);
    EXPECT_EQ(ParseAddress(QStringLiteral("192.0.2.7")), QHostAddress(QStringLiteral("192.0.2.7")));
}

}  // namespace
}  // namespace corvelle
