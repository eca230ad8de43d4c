#include "profile/ui/channel_settings_dlg.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include "device/value_list.h"
#include "ui_channel_settings.h"

namespace corvelle {
namespace {

constexpr int kRefreshMs = 500;

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString NumberCell(double value) {
    return QString::fromStdString(NumberText(value));
}

QTableWidgetItem* Cell(const QString& text, bool editable) {
    auto* item = new QTableWidgetItem(text);
    if (!editable) {
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    }
    return item;
}

}  // namespace

ChannelSettingsDlg::ChannelSettingsDlg(TerminalProfiles& profiles, const DevicePage& page,
                                       const QString& terminal, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::ChannelSettingsDlg>()),
      profiles_(profiles),
      page_(page),
      terminal_(terminal.toStdString()) {
    ui_->setupUi(this);
    setWindowTitle(QStringLiteral("通道设置 - ") + terminal);
    ui_->labelTerminal->setText(terminal);

    QTableWidget& channels = *ui_->tableChannels;
    channels.setColumnCount(kColumnCount);
    channels.setRowCount(static_cast<int>(kProfileChannels));
    channels.setHorizontalHeaderLabels({QStringLiteral("名称"), QStringLiteral("单位"),
                                        QStringLiteral("原始低(V)"), QStringLiteral("原始高(V)"),
                                        QStringLiteral("量程低"), QStringLiteral("量程高"),
                                        QStringLiteral("小数位"), QStringLiteral("坐标轴"),
                                        QStringLiteral("当前电压"), QStringLiteral("当前值")});
    QTableWidget& switches = *ui_->tableSwitches;
    switches.setColumnCount(2);
    switches.setRowCount(static_cast<int>(kProfileSwitches));
    switches.setHorizontalHeaderLabels({QStringLiteral("光耦名称"), QStringLiteral("继电器名称")});
    switches.horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    for (int row = 0; row < static_cast<int>(kProfileChannels); ++row) {
        channels.setVerticalHeaderItem(row, Cell(QStringLiteral("AD%1").arg(row + 1), false));
        switches.setVerticalHeaderItem(row, Cell(QString::number(row + 1), false));
        auto* decimals = new QSpinBox;
        decimals->setRange(0, kMaxDecimals);
        channels.setCellWidget(row, kDecimals, decimals);
        auto* axis = new QComboBox;
        axis->addItems({QStringLiteral("左"), QStringLiteral("右")});
        channels.setCellWidget(row, kAxis, axis);
    }

    const bool decodable = !terminal.contains(QChar::ReplacementCharacter);
    Fill(decodable ? profiles_.Profiles().Find(terminal_).get() : nullptr);
    // The dialog is wide enough for every column to show its header and the current values.
    channels.horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    for (int row = 0; row < static_cast<int>(kProfileChannels); ++row) {
        connect(static_cast<QSpinBox*>(channels.cellWidget(row, kDecimals)),
                &QSpinBox::valueChanged, this, &ChannelSettingsDlg::ShowCurrentValues);
    }
    connect(&channels, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() < kRawNow) {
            ShowCurrentValues();
        }
    });
    ui_->buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    ui_->buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(ui_->buttons, &QDialogButtonBox::accepted, this, &ChannelSettingsDlg::accept);
    connect(ui_->buttons, &QDialogButtonBox::rejected, this, &ChannelSettingsDlg::reject);
    if (!decodable) {
        ui_->labelProblem->setText(QStringLiteral("终端名称无法解码，不能设置通道。"));
    } else if (!profiles_.CanSave()) {
        ui_->labelProblem->setText(
            QStringLiteral("终端配置文件有误，修改不能保存：请先改正文件。"));
    }
    ui_->buttons->button(QDialogButtonBox::Ok)->setEnabled(decodable && profiles_.CanSave());

    // The values beside the fields follow the terminal's replies.
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &ChannelSettingsDlg::ShowCurrentValues);
    refresh_.start();
    ShowCurrentValues();
}

ChannelSettingsDlg::~ChannelSettingsDlg() = default;

void ChannelSettingsDlg::Fill(const TerminalProfile* profile) {
    QTableWidget& channels = *ui_->tableChannels;
    const QSignalBlocker quiet(&channels);
    for (std::size_t i = 0; i < kProfileChannels; ++i) {
        const auto row = static_cast<int>(i);
        const ChannelProfile* channel =
            profile != nullptr && profile->channels[i] ? &*profile->channels[i] : nullptr;
        // A pointer, not a copy: GCC 12 at -O3 takes a copied optional's fields for uninitialised.
        const Scaling* scaling =
            channel != nullptr && channel->scaling ? &*channel->scaling : nullptr;
        channels.setItem(row, kName, Cell(channel ? Text(channel->name) : QString(), true));
        channels.setItem(row, kUnit, Cell(channel ? Text(channel->unit) : QString(), true));
        channels.setItem(row, kRawLow,
                         Cell(scaling ? NumberCell(scaling->rawLow) : QString(), true));
        channels.setItem(row, kRawHigh,
                         Cell(scaling ? NumberCell(scaling->rawHigh) : QString(), true));
        channels.setItem(row, kScaledLow,
                         Cell(scaling ? NumberCell(scaling->scaledLow) : QString(), true));
        channels.setItem(row, kScaledHigh,
                         Cell(scaling ? NumberCell(scaling->scaledHigh) : QString(), true));
        channels.setItem(row, kRawNow, Cell({}, false));
        channels.setItem(row, kValueNow, Cell({}, false));
        static_cast<QSpinBox*>(channels.cellWidget(row, kDecimals))
            ->setValue(channel ? channel->decimals : kDefaultDecimals);
        static_cast<QComboBox*>(channels.cellWidget(row, kAxis))
            ->setCurrentIndex(channel && channel->axis == Axis::Right ? 1 : 0);
        ui_->tableSwitches->setItem(
            row, 0, Cell(profile ? Text(profile->inputs[i].name) : QString(), true));
        ui_->tableSwitches->setItem(
            row, 1, Cell(profile ? Text(profile->relays[i].name) : QString(), true));
    }
    ui_->editDescription->setText(profile ? Text(profile->description) : QString());
}

std::optional<double> ChannelSettingsDlg::NumberIn(int row, Column column, bool& bad) const {
    const QString text = ui_->tableChannels->item(row, column)->text().trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok) {
        bad = true;
        return std::nullopt;
    }
    return value;
}

std::variant<TerminalProfile, QString> ChannelSettingsDlg::EditedProfile() const {
    TerminalProfile profile;
    profile.terminal = terminal_;
    profile.description = ui_->editDescription->text().toStdString();
    // The alarm definitions are not edited here: they stay as the file has them.
    const auto held = profiles_.Profiles().Find(terminal_);
    if (held) {
        profile.silentAfter = held->silentAfter;
    }
    QTableWidget& channels = *ui_->tableChannels;
    for (std::size_t i = 0; i < kProfileChannels; ++i) {
        const auto row = static_cast<int>(i);
        ChannelProfile channel;
        channel.name = channels.item(row, kName)->text().trimmed().toStdString();
        channel.unit = channels.item(row, kUnit)->text().trimmed().toStdString();
        channel.decimals = static_cast<QSpinBox*>(channels.cellWidget(row, kDecimals))->value();
        channel.axis = static_cast<QComboBox*>(channels.cellWidget(row, kAxis))->currentIndex() == 1
                           ? Axis::Right
                           : Axis::Left;
        bool bad = false;
        const std::array<std::optional<double>, 4> points = {
            NumberIn(row, kRawLow, bad), NumberIn(row, kRawHigh, bad),
            NumberIn(row, kScaledLow, bad), NumberIn(row, kScaledHigh, bad)};
        const auto given = std::count_if(points.begin(), points.end(),
                                         [](const auto& point) { return point.has_value(); });
        if (bad) {
            return QStringLiteral("AD%1：原始值和量程须为数字").arg(row + 1);
        }
        if (given != 0 && given != 4) {
            return QStringLiteral("AD%1：原始低、原始高、量程低、量程高须全部填写，或全部留空")
                .arg(row + 1);
        }
        if (given == 4) {
            channel.scaling = Scaling{*points[0], *points[1], *points[2], *points[3]};
        }
        if (held && held->channels[i]) {
            channel.alarms = held->channels[i]->alarms;
        }
        if (channel != ChannelProfile{}) {
            profile.channels[i] = std::move(channel);
        }
        profile.inputs[i].name = ui_->tableSwitches->item(row, 0)->text().trimmed().toStdString();
        if (held) {
            profile.inputs[i].alarm = held->inputs[i].alarm;
        }
        profile.relays[i].name = ui_->tableSwitches->item(row, 1)->text().trimmed().toStdString();
    }
    if (const auto error = CheckProfile(profile)) {
        return QString::fromStdString(error->ChineseText());
    }
    return profile;
}

void ChannelSettingsDlg::ShowCurrentValues() {
    QTableWidget& channels = *ui_->tableChannels;
    const QSignalBlocker quiet(&channels);
    const auto edited = EditedProfile();
    const auto* profile = std::get_if<TerminalProfile>(&edited);
    const auto& millivolts = page_.ChannelMillivolts();
    for (std::size_t i = 0; i < kProfileChannels; ++i) {
        const auto row = static_cast<int>(i);
        const bool shown = i < page_.ChannelCount();
        channels.item(row, kRawNow)
            ->setText(shown ? Text(FixedPointText(millivolts[i], 1000, 3, "V")) : QString());
        QString value;
        if (shown && profile != nullptr && profile->channels[i] && profile->channels[i]->scaling) {
            const ChannelProfile& channel = *profile->channels[i];
            value = Text(ValueText(ChannelValue(profile, i, millivolts[i] / 1000.0),
                                   channel.decimals, channel.unit));
        }
        channels.item(row, kValueNow)->setText(value);
    }
}

void ChannelSettingsDlg::accept() {
    auto edited = EditedProfile();
    if (const auto* problem = std::get_if<QString>(&edited)) {
        ui_->labelProblem->setText(*problem);
        return;
    }
    if (const auto problem = profiles_.Save(std::get<TerminalProfile>(edited))) {
        ui_->labelProblem->setText(QStringLiteral("无法保存终端配置文件：") + *problem);
        return;
    }
    QDialog::accept();
}

}  // namespace corvelle

#include "moc_channel_settings_dlg.cpp"  // NOLINT(bugprone-suspicious-include): moc output
