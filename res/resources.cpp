#include "res/resources.h"

#include <QFontDatabase>
#include <QGuiApplication>

namespace corvelle::res {

QString ChooseDialogFontFamily(const QStringList& installed, const QStringList& chineseCapable) {
    // Windows reports SimSun by its Chinese name on a Chinese system, by its English one elsewhere.
    for (const QString& preferred : {QStringLiteral("SimSun"), QStringLiteral("宋体"),
                                     QStringLiteral("WenQuanYi Micro Hei")}) {
        for (const QString& family : installed) {
            if (family.compare(preferred, Qt::CaseInsensitive) == 0) {
                return family;
            }
        }
    }
    return chineseCapable.isEmpty() ? QString() : chineseCapable.front();
}

QFont DialogFont() {
    const QString family = ChooseDialogFontFamily(
        QFontDatabase::families(), QFontDatabase::families(QFontDatabase::SimplifiedChinese));
    QFont font = family.isEmpty() ? QGuiApplication::font() : QFont(family);
    font.setPointSize(9);
    return font;
}

}  // namespace corvelle::res
