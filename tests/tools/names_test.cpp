#include <gtest/gtest.h>

#include <QString>

#include "tools/terminal/terminal.h"
#include "tools/terminal/terminal_names.h"

namespace corvelle::sim {
namespace {

TEST(Gb2312Name, KnownBytesAndRefusals) {
    ASSERT_TRUE(Gb2312Available()) << "Qt was built without ICU";
    EXPECT_EQ(EncodeGb2312(QString::fromUtf8("泵站")), QByteArray("\xB1\xC3\xD5\xBE"));
    EXPECT_EQ(EncodeGb2312(QString::fromUtf8("终端7")), QByteArray("\xD6\xD5\xB6\xCB"
                                                                   "7"));
    EXPECT_EQ(EncodeGb2312(QStringLiteral("Pump-2")), QByteArray("Pump-2"));
    EXPECT_EQ(EncodeGb2312(QString()), QByteArray());
    // An emoji, a character only the larger GBK set has, and one GB2312 never had.
    for (const char* name : {"站😀", "朱镕基", "€"}) {
        EXPECT_FALSE(EncodeGb2312(QString::fromUtf8(name))) << name;
    }
}

TEST(Gb2312Name, TerminalsAreNamedOrRefusedAtCreation) {
    TerminalConfig config;
    QString error;
    config.name = QString::fromUtf8("泵😀");
    EXPECT_TRUE(CreateTerminals(config, 2, error).empty());
    EXPECT_TRUE(error.contains(config.name)) << error.toStdString();

    error.clear();
    config.name = QString(kMaxWireNameBytes + 1, QLatin1Char('a'));
    EXPECT_TRUE(CreateTerminals(config, 1, error).empty());
    EXPECT_FALSE(error.isEmpty());

    error.clear();
    config.name = QString::fromUtf8("泵站");
    EXPECT_EQ(CreateTerminals(config, 1, error).at(0)->config().name, config.name);
    const auto terminals = CreateTerminals(config, 3, error);
    ASSERT_EQ(terminals.size(), 3U) << error.toStdString();
    EXPECT_EQ(terminals[0]->config().name, QString::fromUtf8("泵站1"));
    EXPECT_EQ(terminals[2]->config().name, QString::fromUtf8("泵站3"));
    EXPECT_NE(terminals[0]->config().board.seed, terminals[1]->config().board.seed);
}

}  // namespace
}  // namespace corvelle::sim
