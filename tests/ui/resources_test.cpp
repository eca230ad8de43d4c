#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QIcon>
#include <QImage>

#include "res/resources.h"

namespace corvelle::res {
namespace {

QImage Render(const char* path, int size) {
    return QIcon(QString::fromLatin1(path)).pixmap(size, size).toImage();
}

TEST(Icons, RenderCrispAtEverySize) {
    for (const char* path : {kAppIcon, kLampOffIcon, kLampOnIcon}) {
        for (const int size : {16, 32, 48, 96}) {
            const QImage image = Render(path, size);
            EXPECT_EQ(image.size(), QSize(size, size)) << path;
            EXPECT_EQ(image.pixelColor(size / 2, size / 2).alpha(), 255) << path << ' ' << size;
        }
    }
}

TEST(Icons, LampsAreDiscsWithAWhiteRim) {
    const QImage off = Render(kLampOffIcon, 32);
    const QImage on = Render(kLampOnIcon, 32);
    EXPECT_LT(off.pixelColor(16, 16).lightness(), 30);
    EXPECT_GT(on.pixelColor(16, 16).red(), 200);
    EXPECT_LT(on.pixelColor(16, 16).green(), 140);
    for (const QImage& lamp : {off, on}) {
        EXPECT_GT(lamp.pixelColor(16, 6).lightness(), 230);  // rim
        EXPECT_EQ(lamp.pixelColor(1, 1).alpha(), 0);         // outside
    }
    EXPECT_EQ(off.pixelColor(16, 2).alpha(), 0);
    EXPECT_GT(on.pixelColor(16, 2).red(), 200);  // a ray
}

TEST(DialogFontFamily, PrefersSimSunThenWenQuanYiThenAnyChineseFont) {
    const QStringList chinese = {"Noto Sans CJK SC", "AR PL UMing"};
    EXPECT_EQ(ChooseDialogFontFamily({"Arial", "WenQuanYi Micro Hei", "simsun"}, chinese),
              "simsun");
    EXPECT_EQ(ChooseDialogFontFamily({"宋体", "WenQuanYi Micro Hei"}, chinese), "宋体");
    EXPECT_EQ(ChooseDialogFontFamily({"Arial", "WenQuanYi Micro Hei"}, chinese),
              "WenQuanYi Micro Hei");
    EXPECT_EQ(ChooseDialogFontFamily({"Arial", "Noto Sans CJK SC"}, chinese), "Noto Sans CJK SC");
    EXPECT_EQ(ChooseDialogFontFamily({"Arial"}, {}), "");
}

TEST(DialogFontFamily, InstalledChoiceWritesChineseAt9Points) {
    const QFont font = DialogFont();
    EXPECT_EQ(font.pointSize(), 9);
    EXPECT_TRUE(
        QFontDatabase::writingSystems(font.family()).contains(QFontDatabase::SimplifiedChinese))
        << font.family().toStdString();
}

}  // namespace
}  // namespace corvelle::res
