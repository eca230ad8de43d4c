#include "settings/ui/settings_dlg.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <algorithm>

#include "res/resources.h"
#include "ui_settings_104.h"

namespace corvelle {
namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool IsTypedNonDigit(const QKeyEvent& key) {
    if (key.modifiers().testAnyFlags(Qt::ControlModifier | Qt::MetaModifier)) {
        return false;  // shortcuts such as paste
    }
    const QString text = key.text();
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.isPrint() && (c < u'0' || c > u'9'); });
}

}  // namespace

CSettingsDlg::CSettingsDlg(std::uint32_t& acquisitionIntervalMs, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::SettingsDlg>()),
      panel_(*this, acquisitionIntervalMs) {
    ui_->setupUi(this);
    setFont(res::DialogFont());
    // The template's lamp is a scaled default rendering; draw it for this control and screen.
    SetLampLit(false);
    for (QLineEdit* edit : {ui_->ctl1005, ui_->ctl1007}) {
        edit->installEventFilter(this);
    }
    connect(ui_->ctl1005, &QLineEdit::textChanged, this, [this] { panel_.OnPortChanged(); });
    connect(ui_->ctl1007, &QLineEdit::textChanged, this, [this] { panel_.OnIntervalChanged(); });
    connect(ui_->button1006, &QPushButton::clicked, this, [this] { panel_.OnListenClicked(); });
    connect(ui_->button1009, &QPushButton::clicked, this, [this] { panel_.OnSetClicked(); });
    connect(ui_->buttonRecord, &QPushButton::clicked, this, [this] { panel_.OnRecordClicked(); });
    connect(ui_->buttonHistory, &QPushButton::clicked, this, &CSettingsDlg::historyRequested);
    SetRecordLampLit(false);
    panel_.Initialise();
}

CSettingsDlg::~CSettingsDlg() = default;

void CSettingsDlg::SetListenToggler(ListenToggler* toggler) {
    panel_.SetListenToggler(toggler);
}

void CSettingsDlg::OnListenState(int state) {
    panel_.OnListenState(state);
}

void CSettingsDlg::SetRecordingControl(RecordingControl* control) {
    panel_.SetRecordingControl(control);
}

void CSettingsDlg::OnRecordingState(bool recording, const QString& folder) {
    panel_.OnRecordingState(recording, folder.toStdString());
}

void CSettingsDlg::OnRecordingFailed(const QString& reason) {
    panel_.OnRecordingFailed(reason.toStdString());
}

void CSettingsDlg::OnRecordingWarning(const QString& warning) {
    panel_.OnRecordingWarning(warning.toStdString());
}

bool CSettingsDlg::eventFilter(QObject* watched, QEvent* event) {
    // The edits take only digits from the keyboard; pasted text gets in and is judged when read.
    if (event->type() == QEvent::KeyPress && (watched == ui_->ctl1005 || watched == ui_->ctl1007) &&
        IsTypedNonDigit(*static_cast<QKeyEvent*>(event))) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CSettingsDlg::keyPressEvent(QKeyEvent* event) {
    // Left to the main window, Enter and Esc would end it: the panel keeps them.
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            break;
        default:
            QWidget::keyPressEvent(event);
            break;
    }
}

std::string CSettingsDlg::FieldText(SettingsField field) const {
    return Edit(field)->text().toStdString();
}

void CSettingsDlg::SetFieldText(SettingsField field, std::string_view text) {
    Edit(field)->setText(FromUtf8(text));
}

void CSettingsDlg::PromptInvalidInteger(SettingsField field) {
    // Failures while a prompt is up would only repeat it.
    if (prompt_ != nullptr && prompt_->isVisible()) {
        return;
    }
    const char* text = field == SettingsField::Port ? "请输入一个整数。" : "请输入一个非负整数。";
    prompt_ = new QMessageBox(QMessageBox::Warning, QCoreApplication::applicationName(),
                              QString::fromUtf8(text), QMessageBox::Ok, this);
    prompt_->setWindowModality(Qt::WindowModal);
    prompt_->setAttribute(Qt::WA_DeleteOnClose);
    prompt_->open();
}

void CSettingsDlg::SetListenButtonText(std::string_view text) {
    ui_->button1006->setText(FromUtf8(text));
}

void CSettingsDlg::SetLampLit(bool lit) {
    ShowLamp(*ui_->lamp1008, lit);
}

void CSettingsDlg::ShowLamp(QLabel& lamp, bool lit) {
    const QIcon icon(QString::fromLatin1(lit ? res::kLampOnIcon : res::kLampOffIcon));
    lamp.setPixmap(icon.pixmap(lamp.size(), devicePixelRatio()));
    lamp.setAccessibleDescription(res::LampDescription(lit));
}

void CSettingsDlg::ChooseFolder(std::string_view startFolder) {
    if (chooser_ != nullptr) {
        chooser_->raise();
        return;
    }
    const QString start = startFolder.empty() ? QDir::homePath() : FromUtf8(startFolder);
    chooser_ = new QFileDialog(this, QStringLiteral("选择记录文件夹"), start);
    chooser_->setFileMode(QFileDialog::Directory);
    chooser_->setOption(QFileDialog::ShowDirsOnly);
    chooser_->setWindowModality(Qt::WindowModal);
    chooser_->setAttribute(Qt::WA_DeleteOnClose);
    connect(chooser_, &QFileDialog::fileSelected, this,
            [this](const QString& folder) { panel_.OnFolderChosen(folder.toStdString()); });
    chooser_->open();
}

void CSettingsDlg::SetRecordButtonText(std::string_view text) {
    ui_->buttonRecord->setText(FromUtf8(text));
}

void CSettingsDlg::SetRecordLampLit(bool lit) {
    ShowLamp(*ui_->lampRecord, lit);
}

void CSettingsDlg::SetRecordFolder(std::string_view folder) {
    recordFolder_ = QDir::toNativeSeparators(FromUtf8(folder));
    ShowRecordRow();
}

void CSettingsDlg::SetRecordNote(std::string_view note) {
    recordNote_ = FromUtf8(note);
    ShowRecordRow();
}

void CSettingsDlg::ShowRecordRow() {
    QLabel& label = *ui_->labelRecordFolder;
    // A warning takes the row, in colour and in words; the folder stays in the tool tip.
    const QString shown = recordNote_.isEmpty() ? recordFolder_ : recordNote_;
    label.setText(QFontMetrics(label.font()).elidedText(shown, Qt::ElideMiddle, label.width()));
    label.setStyleSheet(recordNote_.isEmpty() ? QString() : QStringLiteral("color: #b00000;"));
    const QString full =
        recordNote_.isEmpty() ? recordFolder_ : recordNote_ + QLatin1Char('\n') + recordFolder_;
    label.setToolTip(full);
    label.setAccessibleDescription(full);
}

void CSettingsDlg::ShowRecordingFailure(std::string_view text) {
    // A second failure while the first is still shown only replaces its text.
    if (recordingFailure_ == nullptr) {
        recordingFailure_ =
            new QMessageBox(QMessageBox::Warning, QCoreApplication::applicationName(), QString(),
                            QMessageBox::Ok, this);
        recordingFailure_->setTextFormat(Qt::PlainText);
        recordingFailure_->setWindowModality(Qt::WindowModal);
        recordingFailure_->setAttribute(Qt::WA_DeleteOnClose);
    }
    recordingFailure_->setText(FromUtf8(text));
    recordingFailure_->open();
}

QLineEdit* CSettingsDlg::Edit(SettingsField field) const {
    return field == SettingsField::Port ? ui_->ctl1005 : ui_->ctl1007;
}

}  // namespace corvelle

#include "moc_settings_dlg.cpp"  // NOLINT(bugprone-suspicious-include): moc output
