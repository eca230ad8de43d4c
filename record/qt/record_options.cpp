#include "record/qt/record_options.h"

namespace corvelle {
namespace {

const QString kRecord = QStringLiteral("record");
const QString kKeepDays = QStringLiteral("record-keep-days");
// A hundred years: anything longer is a typing error.
constexpr int kMostKeepDays = 36500;

}  // namespace

void AddRecordOptions(QCommandLineParser& parser, const QString& recordHelp) {
    parser.addOption({kRecord, recordHelp, QStringLiteral("DIR")});
    parser.addOption({kKeepDays,
                      QStringLiteral("Remove recorded day files older than N days, at start and "
                                     "after each midnight (default: keep everything)."),
                      QStringLiteral("N")});
}

std::variant<RecordOptions, QString> ReadRecordOptions(const QCommandLineParser& parser) {
    RecordOptions options;
    if (parser.isSet(kRecord)) {
        options.folder = parser.value(kRecord);
        if (options.folder.trimmed().isEmpty()) {
            return QStringLiteral("--record: no folder given");
        }
    }
    if (parser.isSet(kKeepDays)) {
        bool ok = false;
        options.keepDays = parser.value(kKeepDays).toInt(&ok);
        if (!ok || options.keepDays < 1 || options.keepDays > kMostKeepDays) {
            return QStringLiteral("--record-keep-days: expected days from 1 to %1, got %2")
                .arg(kMostKeepDays)
                .arg(parser.value(kKeepDays));
        }
    }
    return options;
}

}  // namespace corvelle
