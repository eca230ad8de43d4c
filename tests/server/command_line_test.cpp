#include <gtest/gtest.h>

#include <QCommandLineParser>

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

// The service closes silent terminals by default, after long enough for three polls; an explicit
// limit must leave a terminal at least one poll to answer; the console closes none unless told.
TEST(CommandLine, SilentTimeoutsFollowThePollInterval) {
    const struct {
        LimitDefaults defaults;
        QStringList arguments;
        std::uint32_t intervalMs;
        std::optional<std::uint32_t> expected;
        bool refused;
    } cases[] = {
        {LimitDefaults::Service, {}, 1000, 120'000, false},
        {LimitDefaults::Service, {}, 60'000, 190'000, false},
        {LimitDefaults::Off, {}, 3000, std::nullopt, false},
        {LimitDefaults::Off, {"--silent-timeout", "4"}, 3000, 4000, false},
        {LimitDefaults::Service, {"--silent-timeout", "3"}, 3000, std::nullopt, true},
        {LimitDefaults::Service, {"--silent-timeout", "0"}, 1000, std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString() + " at " + std::to_string(c.intervalMs));
        QCommandLineParser parser;
        AddLimitOptions(parser, c.defaults);
        ASSERT_TRUE(parser.parse(QStringList{QStringLiteral("corvelled")} + c.arguments));
        const auto read = ReadLimitOptions(parser, c.defaults, c.intervalMs);
        ASSERT_EQ(std::holds_alternative<QString>(read), c.refused);
        if (!c.refused) {
            EXPECT_EQ(std::get<LimitOptions>(read).limits.silentTimeoutMs, c.expected);
        }
    }
}

}  // namespace
}  // namespace corvelle
