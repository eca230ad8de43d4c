#include "history/ui/csv_export.h"

#include <utility>

#include <QDir>
#include <QSaveFile>

#include "history/visible_csv.h"

namespace corvelle {

CsvExport::CsvExport(std::shared_ptr<const HistoryView> view, std::vector<ShownChannel> channels,
                     RowTime from, RowTime to, QString path, Handlers handlers, QObject* parent)
    : QObject(parent), handlers_(std::move(handlers)) {
    thread_ = std::thread([this, view = std::move(view), channels = std::move(channels), from, to,
                           path = std::move(path)] {
        auto problem = Write(*view, channels, from, to, path);
        QMetaObject::invokeMethod(
            this, [this, problem = std::move(problem)] { handlers_.done(problem); },
            Qt::QueuedConnection);
    });
}

CsvExport::~CsvExport() {
    cancelled_ = true;
    thread_.join();
}

std::optional<QString> CsvExport::Write(const HistoryView& view,
                                        const std::vector<ShownChannel>& channels, RowTime from,
                                        RowTime to, const QString& path) {
    const Series& series = view.history.series;
    const std::uint64_t total = VisibleRows(series, from, to);
    int permille = -1;
    // Written beside the file and put in its place only when whole.
    QSaveFile file(path);
    bool failed = !file.open(QIODevice::WriteOnly);
    failed = failed ||
             !WriteVisibleCsv(
                 [&](std::string_view text, std::uint64_t rows) {
                     if (file.write(text.data(), static_cast<qint64>(text.size())) !=
                         static_cast<qint64>(text.size())) {
                         return false;
                     }
                     const int now = total == 0 ? 1000 : static_cast<int>(rows * 1000 / total);
                     if (now != std::exchange(permille, now)) {
                         QMetaObject::invokeMethod(
                             this, [this, now] { handlers_.progress(now); }, Qt::QueuedConnection);
                     }
                     return !cancelled_;
                 },
                 series, channels, from, to);
    if (cancelled_) {
        file.cancelWriting();
        return std::nullopt;
    }
    if (failed || !file.commit()) {
        return QStringLiteral("无法写入：%1").arg(QDir::toNativeSeparators(path));
    }
    return std::nullopt;
}

}  // namespace corvelle
