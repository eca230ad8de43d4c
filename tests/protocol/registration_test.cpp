#include <gtest/gtest.h>

#include "protocol/crc16.h"
#include "protocol/registration.h"
#include "test_bytes.h"

namespace corvelle {
namespace {

using test::Bytes;

TEST(RegistrationReply, ConstantFrames) {
    using V = std::vector<std::uint8_t>;
    const auto bytes = [](RegistrationStatus s) {
        const auto r = RegistrationReply(s);
        return V(r.begin(), r.end());
    };
    EXPECT_EQ(bytes(RegistrationStatus::Rejected),
              (V{0x55, 0xAA, 0x00, 0x01, 0x00, 0x87, 0x89, 0xAA, 0x55}));
    EXPECT_EQ(bytes(RegistrationStatus::Accepted),
              (V{0x55, 0xAA, 0x00, 0x01, 0x01, 0x97, 0xA8, 0xAA, 0x55}));
    EXPECT_EQ(bytes(RegistrationStatus::NoFreeSlot),
              (V{0x55, 0xAA, 0x00, 0x01, 0x02, 0xA7, 0xCB, 0xAA, 0x55}));
    for (const auto s : {RegistrationStatus::Rejected, RegistrationStatus::Accepted,
                         RegistrationStatus::NoFreeSlot}) {
        EXPECT_EQ(Crc16(RegistrationReply(s).first(7)), 0);
        EXPECT_EQ(ParseRegistrationReply(RegistrationReply(s)), static_cast<std::uint8_t>(s));
    }
}

TEST(ParseRegistration, AcceptsIntactPackets) {
    const auto packet = BuildRegistrationPacket(Bytes("PUMP"));
    ASSERT_EQ(packet.size(), 12U);
    EXPECT_EQ(ParseRegistration(packet), Bytes("PUMP"));

    // A read may end after the first trailer byte (n + 7 bytes) ...
    const std::span<const std::uint8_t> all(packet);
    EXPECT_EQ(ParseRegistration(all.first(11)), Bytes("PUMP"));
    // ... but not before it (n + 6 bytes).
    EXPECT_FALSE(ParseRegistration(all.first(10)).has_value());

    auto trailing = packet;
    trailing.insert(trailing.end(), {':', '0', 'A', 0x00, 0xFF});
    EXPECT_EQ(ParseRegistration(trailing), Bytes("PUMP"));

    const auto empty = BuildRegistrationPacket({});
    EXPECT_EQ(ParseRegistration(empty), std::vector<std::uint8_t>{});

    const std::vector<std::uint8_t> withNul = {'A', 'B', 0x00, 'C'};
    EXPECT_EQ(ParseRegistration(BuildRegistrationPacket(withNul)), Bytes("AB"));

    // GB2312 bytes travel untouched.
    const std::vector<std::uint8_t> gb = {0xB1, 0xC3, 0xD5, 0xBE};
    EXPECT_EQ(ParseRegistration(BuildRegistrationPacket(gb)), gb);
}

TEST(ParseRegistration, RejectsDamagedPackets) {
    const auto good = BuildRegistrationPacket(Bytes("STATION-7"));
    for (std::size_t i = 0; i + 2 < good.size(); ++i) {
        auto bad = good;
        bad[i] ^= 0x40;
        EXPECT_FALSE(ParseRegistration(bad).has_value()) << "byte " << i;
    }
    // The trailer itself is not checked.
    auto trailer = good;
    trailer[trailer.size() - 1] = 0x00;
    trailer[trailer.size() - 2] = 0x00;
    EXPECT_TRUE(ParseRegistration(trailer).has_value());

    for (std::size_t n = 0; n < 8; ++n) {
        EXPECT_FALSE(ParseRegistration(std::span(good).first(n)).has_value()) << n;
    }
    // A length field larger than the read is rejected without reading past it.
    std::vector<std::uint8_t> huge = {0x55, 0xAA, 0xFF, 0xFF, 0x00, 0x00, 0x00};
    EXPECT_FALSE(ParseRegistration(huge).has_value());
}

TEST(BuildRegistrationPacket, CutsAtTheLengthFieldLimit) {
    const std::vector<std::uint8_t> name(kMaxRegistrationName + 10, 'x');
    const auto packet = BuildRegistrationPacket(name);
    EXPECT_EQ(packet.size(), kMaxRegistrationName + 8);
    EXPECT_EQ(ParseRegistration(packet)->size(), kMaxRegistrationName);
}

}  // namespace
}  // namespace corvelle
