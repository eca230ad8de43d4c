#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <QObject>
#include <QString>

#include "history/ui/history_chart.h"

namespace corvelle {

// One CSV export of a view's rows in [from, to] on a thread of its own, reporting on the UI
// thread: its progress, then the end. The file at path is replaced whole once every row is
// written, or left as it was: a cancel or a failure leaves no part of the export anywhere.
// Deleting it cancels the export and waits for the thread, which looks for that after each
// few hundred kilobytes; nothing it reported is delivered afterwards.
class CsvExport final : public QObject {
  public:
    struct Handlers {
        // Thousandths of the rows to write.
        std::function<void(int)> progress;
        // What went wrong, in the operator's words; nothing when the file was written or the
        // export cancelled.
        std::function<void(std::optional<QString>)> done;
    };

    // channels point into view.
    CsvExport(std::shared_ptr<const HistoryView> view, std::vector<ShownChannel> channels,
              RowTime from, RowTime to, QString path, Handlers handlers, QObject* parent = nullptr);
    ~CsvExport() override;
    CsvExport(const CsvExport&) = delete;
    CsvExport& operator=(const CsvExport&) = delete;

    void Cancel() { cancelled_ = true; }

  private:
    std::optional<QString> Write(const HistoryView& view, const std::vector<ShownChannel>& channels,
                                 RowTime from, RowTime to, const QString& path);

    Handlers handlers_;
    std::atomic<bool> cancelled_ = false;
    std::thread thread_;
};

}  // namespace corvelle
