#include "history/ui/history_window.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "history/record_folder.h"

namespace corvelle {
namespace {

namespace fs = std::filesystem;

constexpr int kChannels = 12;
constexpr int kShownAtFirst = 6;

fs::path PathOf(const QString& text) {
    return {text.toStdU16String()};
}

std::chrono::sys_days DaysOf(QDate date) {
    return std::chrono::sys_days(std::chrono::year(date.year()) /
                                 static_cast<unsigned>(date.month()) /
                                 static_cast<unsigned>(date.day()));
}

// The folder last used in this run (HistoryWindow::NoteFolderUsed).
QString& LastFolder() {
    static QString folder;
    return folder;
}

// Whether path lies in folder or below it.
bool Inside(const fs::path& path, const fs::path& folder) {
    std::error_code error;
    const fs::path base = fs::weakly_canonical(folder, error);
    const fs::path target = fs::weakly_canonical(path, error);
    if (error || base.empty()) {
        return false;
    }
    const auto [end, unused] =
        std::mismatch(base.begin(), base.end(), target.begin(), target.end());
    return end == base.end();
}

}  // namespace

HistoryWindow::HistoryWindow(const QString& folder, QWidget* parent) : QWidget(parent, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("历史数据"));
    setAccessibleName(QStringLiteral("历史数据"));
    BuildControls();
    SetFolder(folder.isEmpty() ? LastFolder() : folder);
    resize(1100, 700);
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::NoteFolderUsed(const QString& folder) {
    LastFolder() = folder;
}

void HistoryWindow::BuildControls() {
    const auto named = [](QWidget* widget, const QString& name) {
        widget->setAccessibleName(name);
        return widget;
    };
    auto* top = new QHBoxLayout;
    folder_ = new QLineEdit(this);
    named(folder_, QStringLiteral("记录文件夹"));
    auto* browse = new QPushButton(QStringLiteral("浏览…"), this);
    terminal_ = new QComboBox(this);
    named(terminal_, QStringLiteral("终端"));
    terminal_->setMinimumContentsLength(10);
    from_ = new QDateEdit(QDate::currentDate(), this);
    to_ = new QDateEdit(QDate::currentDate(), this);
    named(from_, QStringLiteral("开始日期"));
    named(to_, QStringLiteral("结束日期"));
    for (QDateEdit* edit : {from_, to_}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    top->addWidget(new QLabel(QStringLiteral("文件夹"), this));
    top->addWidget(folder_, 1);
    top->addWidget(browse);
    top->addWidget(new QLabel(QStringLiteral("终端"), this));
    top->addWidget(terminal_);
    top->addWidget(new QLabel(QStringLiteral("从"), this));
    top->addWidget(from_);
    top->addWidget(new QLabel(QStringLiteral("到"), this));
    top->addWidget(to_);

    auto* shown = new QHBoxLayout;
    for (int k = 0; k < kChannels; ++k) {
        auto* box = new QCheckBox(QStringLiteral("AD%1").arg(k + 1), this);
        box->setObjectName(QStringLiteral("channel%1").arg(k + 1));
        box->setChecked(k < kShownAtFirst);
        shown->addWidget(box);
        channels_.at(static_cast<std::size_t>(k)) = box;
    }
    for (const bool relays : {false, true}) {
        auto* button = new QToolButton(this);
        const QString what = relays ? QStringLiteral("继电器") : QStringLiteral("光耦");
        button->setText(what + QStringLiteral(" ▾"));
        button->setAccessibleName(what);
        button->setPopupMode(QToolButton::InstantPopup);
        auto* menu = new QMenu(button);
        for (int k = 1; k <= kChannels; ++k) {
            QAction* action = menu->addAction(what + QString::number(k));
            action->setCheckable(true);
            (relays ? relays_ : inputs_).at(static_cast<std::size_t>(k - 1)) = action;
        }
        button->setMenu(menu);
        shown->addWidget(button);
    }
    shown->addStretch(1);

    auto* actions = new QHBoxLayout;
    loadButton_ = new QPushButton(QStringLiteral("加载"), this);
    cancel_ = new QPushButton(QStringLiteral("取消"), this);
    progress_ = new QProgressBar(this);
    named(progress_, QStringLiteral("加载进度"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setMaximumWidth(200);
    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    named(status_, QStringLiteral("加载结果"));
    actions->addWidget(loadButton_);
    actions->addWidget(cancel_);
    actions->addWidget(progress_);
    actions->addWidget(status_, 1);
    const std::array<QString, 3> exportTexts{
        QStringLiteral("导出 CSV…"), QStringLiteral("导出 PNG…"), QStringLiteral("导出 PDF…")};
    for (std::size_t i = 0; i < exports_.size(); ++i) {
        exports_.at(i) = new QPushButton(exportTexts.at(i), this);
        actions->addWidget(exports_.at(i));
        connect(exports_.at(i), &QPushButton::clicked, this,
                [this, i] { ChooseExport(static_cast<Export>(i)); });
    }

    chart_ = new HistoryChart(this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(shown);
    layout->addLayout(actions);
    layout->addWidget(chart_, 1);

    connect(browse, &QPushButton::clicked, this, &HistoryWindow::ChooseFolder);
    connect(folder_, &QLineEdit::editingFinished, this, &HistoryWindow::ListTerminals);
    connect(loadButton_, &QPushButton::clicked, this, &HistoryWindow::Load);
    connect(cancel_, &QPushButton::clicked, this, &HistoryWindow::Cancel);
    UpdateButtons();
}

void HistoryWindow::SetFolder(const QString& folder) {
    folder_->setText(QDir::toNativeSeparators(folder));
    ListTerminals();
}

QString HistoryWindow::Folder() const {
    return QDir::fromNativeSeparators(folder_->text());
}

void HistoryWindow::ListTerminals() {
    const QString current = terminal_->currentText();
    terminal_->clear();
    if (!Folder().isEmpty()) {
        for (const TerminalFolder& terminal : corvelle::ListTerminals(PathOf(Folder()))) {
            terminal_->addItem(FromUtf8(terminal.name), FromUtf8(terminal.folder));
        }
    }
    if (const int index = terminal_->findText(current); index >= 0) {
        terminal_->setCurrentIndex(index);
    }
    UpdateButtons();
}

bool HistoryWindow::SelectTerminal(const QString& name) {
    const int index = terminal_->findText(name, Qt::MatchExactly);
    if (index >= 0) {
        terminal_->setCurrentIndex(index);
    }
    return index >= 0;
}

void HistoryWindow::SetDates(QDate from, QDate to) {
    from_->setDate(from);
    to_->setDate(to);
}

void HistoryWindow::SetShown(const std::vector<int>& channels, const std::vector<int>& inputs,
                             const std::vector<int>& relays) {
    for (int k = 0; k < kChannels; ++k) {
        const auto index = static_cast<std::size_t>(k);
        const auto has = [k](const std::vector<int>& list, int offset) {
            return std::find(list.begin(), list.end(), k + offset) != list.end();
        };
        channels_.at(index)->setChecked(has(channels, 0));
        inputs_.at(index)->setChecked(has(inputs, 1));
        relays_.at(index)->setChecked(has(relays, 1));
    }
}

void HistoryWindow::Load() {
    if (terminal_->currentIndex() < 0 || export_ != nullptr) {
        return;
    }
    load_.reset();
    HistoryRequest request;
    request.root = PathOf(Folder());
    request.folder = terminal_->currentData().toString().toStdString();
    request.first = DaysOf(std::min(from_->date(), to_->date()));
    request.last = DaysOf(std::max(from_->date(), to_->date()));
    std::vector<int> inputs;
    std::vector<int> relays;
    for (int k = 0; k < kChannels; ++k) {
        const auto index = static_cast<std::size_t>(k);
        if (channels_.at(index)->isChecked()) {
            request.selection.values.push_back(static_cast<ValueColumn>(k));
        }
        if (inputs_.at(index)->isChecked()) {
            inputs.push_back(k + 1);
        }
        if (relays_.at(index)->isChecked()) {
            relays.push_back(k + 1);
        }
    }
    request.selection.flags = !inputs.empty() || !relays.empty();
    loadedRoot_ = request.root;
    NoteFolderUsed(Folder());
    setWindowTitle(QStringLiteral("历史数据 - %1").arg(terminal_->currentText()));
    status_->clear();
    progress_->setValue(0);
    progress_->setAccessibleName(QStringLiteral("加载进度"));
    bool first = true;
    load_ = std::make_unique<HistoryLoad>(
        std::move(request),
        HistoryLoad::Handlers{
            .progress = [this](int permille) { progress_->setValue(permille); },
            .day =
                [this, inputs, relays, first](History history) mutable {
                    chart_->SetView(HistoryView::Make(std::move(history), inputs, relays),
                                    !std::exchange(first, false));
                },
            .done =
                [this, inputs, relays](History history) {
                    ShowStatus(history);
                    chart_->SetView(HistoryView::Make(std::move(history), inputs, relays), true);
                    // This runs inside the load, whose thread has ended: it goes once this returns.
                    load_.release()->deleteLater();
                    UpdateButtons();
                }});
    UpdateButtons();
}

void HistoryWindow::Cancel() {
    if (load_ != nullptr) {
        load_->Cancel();
    }
    if (export_ != nullptr) {
        export_->Cancel();
    }
}

QString HistoryWindow::StatusText() const {
    return status_->text();
}

void HistoryWindow::ShowStatus(const History& history) {
    QStringList parts;
    if (history.cancelled) {
        parts << QStringLiteral("已取消：读取了 %1 天中的 %2 天")
                     .arg(history.days)
                     .arg(history.daysRead);
    }
    if (history.problems.rows > 0) {
        parts << QStringLiteral("%1 行无法读取（第一处：%2 第 %3 行）")
                     .arg(history.problems.rows)
                     .arg(FromUtf8(history.problems.firstFile))
                     .arg(history.problems.firstLine);
    }
    if (!history.unreadable.empty()) {
        QStringList files;
        for (const std::string& file : history.unreadable) {
            files << FromUtf8(file);
        }
        parts << QStringLiteral("无法读取：%1").arg(files.join(QStringLiteral("、")));
    }
    if (history.eventsLeftOut > 0) {
        parts << QStringLiteral("另有 %1 条事件未显示").arg(history.eventsLeftOut);
    }
    if (history.series.Rows() == 0 && !history.cancelled) {
        parts << QStringLiteral("所选日期没有数据");
    }
    status_->setText(parts.join(QStringLiteral("；")));
    status_->setAccessibleDescription(status_->text());
}

void HistoryWindow::UpdateButtons() {
    const bool loading = load_ != nullptr;
    const bool exporting = export_ != nullptr;
    loadButton_->setEnabled(terminal_->count() > 0 && !exporting);
    cancel_->setEnabled(loading || exporting);
    progress_->setVisible(loading || exporting);
    for (QPushButton* button : exports_) {
        button->setEnabled(chart_->View() != nullptr);
    }
    // One progress bar and "取消" serve the load and the CSV export: one runs at a time.
    exports_.at(static_cast<std::size_t>(Export::Csv))
        ->setEnabled(chart_->View() != nullptr && !loading && !exporting);
}

void HistoryWindow::ChooseFolder() {
    if (chooser_ != nullptr) {
        chooser_->raise();
        return;
    }
    chooser_ = new QFileDialog(this, QStringLiteral("选择记录文件夹"),
                               Folder().isEmpty() ? QDir::homePath() : Folder());
    chooser_->setFileMode(QFileDialog::Directory);
    chooser_->setOption(QFileDialog::ShowDirsOnly);
    chooser_->setWindowModality(Qt::WindowModal);
    chooser_->setAttribute(Qt::WA_DeleteOnClose);
    connect(chooser_, &QFileDialog::fileSelected, this, &HistoryWindow::SetFolder);
    chooser_->open();
}

void HistoryWindow::ChooseExport(Export kind) {
    if (chooser_ != nullptr) {
        chooser_->raise();
        return;
    }
    const std::array<QString, 3> filters{QStringLiteral("CSV (*.csv)"),
                                         QStringLiteral("PNG (*.png)"),
                                         QStringLiteral("PDF (*.pdf)")};
    const std::array<QString, 3> suffixes{QStringLiteral("csv"), QStringLiteral("png"),
                                          QStringLiteral("pdf")};
    const auto index = static_cast<std::size_t>(kind);
    chooser_ = new QFileDialog(this, QStringLiteral("导出"), QDir::homePath(), filters.at(index));
    chooser_->setAcceptMode(QFileDialog::AcceptSave);
    chooser_->setDefaultSuffix(suffixes.at(index));
    chooser_->setWindowModality(Qt::WindowModal);
    chooser_->setAttribute(Qt::WA_DeleteOnClose);
    connect(chooser_, &QFileDialog::fileSelected, this, [this, kind](const QString& path) {
        if (const auto problem = ExportTo(kind, path)) {
            ShowMessage(*problem);
        }
    });
    chooser_->open();
}

std::optional<QString> HistoryWindow::ExportTo(Export kind, const QString& path) {
    const HistoryView* view = chart_->View();
    if (view == nullptr) {
        return QStringLiteral("没有可导出的数据。");
    }
    if (Inside(PathOf(path), loadedRoot_)) {
        return QStringLiteral("不能保存到记录文件夹中：%1").arg(QDir::toNativeSeparators(path));
    }
    if (kind == Export::Csv) {
        if (load_ != nullptr || export_ != nullptr) {
            return QStringLiteral("正在加载或导出，请稍后再导出 CSV。");
        }
        progress_->setValue(0);
        progress_->setAccessibleName(QStringLiteral("导出进度"));
        export_ = std::make_unique<CsvExport>(
            chart_->SharedView(), chart_->VisibleChannels(), chart_->VisibleFrom(),
            chart_->VisibleTo(), path,
            CsvExport::Handlers{.progress = [this](int permille) { progress_->setValue(permille); },
                                .done =
                                    [this](const std::optional<QString>& problem) {
                                        // This runs inside the export, whose thread has ended: it
                                        // goes once this returns.
                                        export_.release()->deleteLater();
                                        UpdateButtons();
                                        if (problem) {
                                            ShowMessage(*problem);
                                        }
                                    }});
        UpdateButtons();
        return std::nullopt;
    }
    bool written = false;
    if (kind == Export::Png) {
        written = chart_->savePng(path);
    } else {
        written = chart_->savePdf(path);
    }
    if (!written) {
        return QStringLiteral("无法写入：%1").arg(QDir::toNativeSeparators(path));
    }
    return std::nullopt;
}

void HistoryWindow::ShowMessage(const QString& text) {
    if (message_ == nullptr) {
        message_ =
            new QMessageBox(QMessageBox::Warning, windowTitle(), QString(), QMessageBox::Ok, this);
        message_->setTextFormat(Qt::PlainText);
        message_->setWindowModality(Qt::WindowModal);
        message_->setAttribute(Qt::WA_DeleteOnClose);
    }
    message_->setText(text);
    message_->open();
}

}  // namespace corvelle

#include "moc_history_window.cpp"  // NOLINT(bugprone-suspicious-include): moc output
