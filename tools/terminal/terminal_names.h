#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace corvelle::sim {

// The console reads a name from a single receive of at most 8192 bytes, and the packet
// adds eight bytes of framing.
inline constexpr qsizetype kMaxWireNameBytes = 8192 - 8;

// Whether this Qt build can encode GB2312 at all (it needs ICU).
bool Gb2312Available();

// The GB2312 bytes of a name, or nothing when a character has no GB2312 code or the codec
// is missing.
std::optional<QByteArray> EncodeGb2312(const QString& text);

// Names of count terminals: the prefix itself for one terminal, prefix1, prefix2, ...
// for more.
QStringList TerminalNames(const QString& prefix, int count);

}  // namespace corvelle::sim
