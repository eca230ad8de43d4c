#include "tools/terminal/terminal_names.h"

#include <QStringEncoder>

namespace corvelle::sim {
namespace {

constexpr const char* kCodec = "GB2312";

}  // namespace

bool Gb2312Available() {
    return QStringEncoder(kCodec).isValid();
}

std::optional<QByteArray> EncodeGb2312(const QString& text) {
    QStringEncoder encoder(kCodec);
    if (!encoder.isValid()) {
        return std::nullopt;
    }
    QByteArray bytes = encoder.encode(text);
    if (encoder.hasError()) {
        return std::nullopt;
    }
    return bytes;
}

QStringList TerminalNames(const QString& prefix, int count) {
    if (count == 1) {
        return {prefix};
    }
    QStringList names;
    for (int i = 1; i <= count; ++i) {
        names.append(prefix + QString::number(i));
    }
    return names;
}

}  // namespace corvelle::sim
