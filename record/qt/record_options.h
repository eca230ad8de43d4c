#pragma once

#include <QCommandLineParser>
#include <QString>
#include <variant>

namespace corvelle {

// Recording as the command line asks for it.
struct RecordOptions {
    // Empty: no recording at start.
    QString folder;
    // Day files older than this many days are removed; 0 keeps everything.
    int keepDays = 0;
};

// --record DIR and --record-keep-days N.
void AddRecordOptions(QCommandLineParser& parser, const QString& recordHelp);
// The options as given, or what is wrong with one of them.
std::variant<RecordOptions, QString> ReadRecordOptions(const QCommandLineParser& parser);

}  // namespace corvelle
