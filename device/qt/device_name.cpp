#include "device/qt/device_name.h"

#include <QStringDecoder>
#include <cstdio>

namespace corvelle {

bool NameDecoderAvailable() {
    static const bool available = [] {
        const bool valid = QStringDecoder("GB18030").isValid();
        if (!valid) {
            std::fputs(
                "warning: this Qt cannot decode GB18030; device names show non-ASCII bytes "
                "as \\xNN\n",
                stderr);
        }
        return valid;
    }();
    return available;
}

QString EscapedNameText(std::span<const std::uint8_t> name) {
    QString text;
    for (const std::uint8_t byte : name) {
        if (byte >= 0x20 && byte < 0x7F) {
            text += QLatin1Char(static_cast<char>(byte));
        } else {
            text += QStringLiteral("\\x") +
                    QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        }
    }
    return text;
}

QString DeviceNameText(std::span<const std::uint8_t> name) {
    if (!NameDecoderAvailable()) {
        return EscapedNameText(name);
    }
    QStringDecoder decoder("GB18030");
    QString text = decoder(QByteArrayView(name.data(), static_cast<qsizetype>(name.size())));
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control) {
            c = QChar::ReplacementCharacter;
        }
    }
    return text;
}

}  // namespace corvelle
