#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace corvelle::res {

// Resource paths of the icons; the numbers are the icon IDs of the dialog templates.
inline constexpr char kAppIcon[] = ":/icons/app_128.svg";
inline constexpr char kLampOffIcon[] = ":/icons/lamp_off_129.svg";
inline constexpr char kLampOnIcon[] = ":/icons/lamp_on_130.svg";

// A lamp as screen readers and automation read it: its accessible description.
inline QString LampDescription(bool lit) {
    return lit ? QStringLiteral("点亮") : QStringLiteral("熄灭");
}

// The family for the dialogs out of the installed ones: SimSun under either of its names,
// else WenQuanYi Micro Hei, else the first family that can write Simplified Chinese
// (chineseCapable), else empty for the application's default.
QString ChooseDialogFontFamily(const QStringList& installed, const QStringList& chineseCapable);

// The 9-point font every dialog template is laid out for. Needs a QGuiApplication.
QFont DialogFont();

}  // namespace corvelle::res
