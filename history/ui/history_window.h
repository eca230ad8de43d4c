#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <optional>

#include <QDate>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "history/ui/csv_export.h"
#include "history/ui/history_chart.h"
#include "history/ui/history_load.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QFileDialog;
class QLabel;
class QLineEdit;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace corvelle {

// The history window: a recording folder, one of its terminals by name, a date range and the
// channels, inputs and relays to show; loads them off the UI thread with progress and "取消",
// shows the first day as soon as it is read, and exports what is visible (CSV off the UI thread
// too, with the same progress bar and "取消"). It only reads the recording folder. Non-modal and
// deleted on close; several may be open.
class HistoryWindow final : public QWidget {
    Q_OBJECT

  public:
    enum class Export { Csv, Png, Pdf };

    // Opens at folder, or, when that is empty, at the folder the last window of this run used.
    explicit HistoryWindow(const QString& folder = {}, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    // Where the next window opens without a folder of its own: the folder last recorded into or
    // loaded from in this run. Nothing of it is kept after the run.
    static void NoteFolderUsed(const QString& folder);

    void SetFolder(const QString& folder);
    QString Folder() const;
    // Chooses the terminal by its real name; false when the folder has none of that name.
    bool SelectTerminal(const QString& name);
    void SetDates(QDate from, QDate to);
    // Which channels (0 to 11), inputs and relays (1 to 12) the next load keeps.
    void SetShown(const std::vector<int>& channels, const std::vector<int>& inputs,
                  const std::vector<int>& relays);
    void Load();
    void Cancel();
    bool Loading() const { return load_ != nullptr; }

    HistoryChart& Chart() const { return *chart_; }
    // What the last load could not read, or that it was cancelled; empty when all went well.
    QString StatusText() const;
    // Writes the visible range (CSV: its rows of the shown lines) to path; the problem when it
    // cannot, or when path lies in the recording folder. A CSV file is written off the UI thread:
    // this starts it, and a problem on the way is shown in a message.
    std::optional<QString> ExportTo(Export kind, const QString& path);
    bool Exporting() const { return export_ != nullptr; }

  private:
    void BuildControls();
    void ListTerminals();
    void ChooseFolder();
    void ChooseExport(Export kind);
    void ShowStatus(const History& history);
    void ShowMessage(const QString& text);
    void UpdateButtons();

    HistoryChart* chart_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QComboBox* terminal_ = nullptr;
    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    std::array<QCheckBox*, 12> channels_{};
    std::array<QAction*, 12> inputs_{};
    std::array<QAction*, 12> relays_{};
    QPushButton* loadButton_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    std::array<QPushButton*, 3> exports_{};
    std::unique_ptr<HistoryLoad> load_;
    std::unique_ptr<CsvExport> export_;
    // The folder of the rows shown, which nothing may be written into.
    std::filesystem::path loadedRoot_;
    QPointer<QFileDialog> chooser_;
    QPointer<QMessageBox> message_;
};

}  // namespace corvelle
