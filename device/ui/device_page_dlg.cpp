#include "device/ui/device_page_dlg.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QIcon>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>
#include <utility>

#include "chart/ct_chart.h"
#include "device/ui/value_cell_delegate.h"
#include "res/resources.h"
#include "ui_page_105.h"

namespace corvelle {
namespace {

// Control IDs of the lamps and buttons, in the order of inputs and relays 1 to 12.
constexpr std::array<int, kRelayCount> kInputLampIds = {1003, 1004, 1005, 1010, 1006, 1007,
                                                        1008, 1009, 1028, 1029, 1030, 1031};
constexpr std::array<int, kRelayCount> kRelayLampIds = {1019, 1020, 1021, 1026, 1022, 1023,
                                                        1024, 1025, 1032, 1033, 1034, 1035};
constexpr std::array<int, kRelayCount> kRelayButtonIds = {1011, 1012, 1013, 1014, 1015, 1016,
                                                          1017, 1018, 1036, 1037, 1038, 1039};

template <typename Widget>
Widget* Control(QWidget& page, const char* prefix, int id) {
    auto* widget = page.findChild<Widget*>(QString::fromLatin1(prefix) + QString::number(id));
    Q_ASSERT(widget != nullptr);
    return widget;
}

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CDevicePageDlg::CDevicePageDlg(int slot, SlotTables& tables, DeviceSender& sender, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::DevicePageDlg>()),
      chart_(new CTChart),
      pollTimer_([this] { page_.OnTimer(DevicePage::kPollTimerId); }),
      page_(slot, tables, sender, pollTimer_, clock_, *this, *chart_) {
    ui_->setupUi(this);
    auto* chartLayout = new QVBoxLayout(ui_->ctl1001);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->addWidget(chart_);
    chart_->setAccessibleName(QStringLiteral("数据采集曲线"));
    ui_->ctl1027->setTextFormat(Qt::PlainText);

    const QSize lampSize(30, 30);
    lampOn_ = QIcon(QString::fromLatin1(res::kLampOnIcon)).pixmap(lampSize, devicePixelRatio());
    lampOff_ = QIcon(QString::fromLatin1(res::kLampOffIcon)).pixmap(lampSize, devicePixelRatio());
    for (std::size_t i = 0; i < kRelayCount; ++i) {
        inputLamps_[i] = Control<QLabel>(*this, "lamp", kInputLampIds[i]);
        relayLamps_[i] = Control<QLabel>(*this, "lamp", kRelayLampIds[i]);
        relayButtons_[i] = Control<QPushButton>(*this, "button", kRelayButtonIds[i]);
        connect(relayButtons_[i], &QPushButton::clicked, this,
                [this, relay = i + 1] { page_.OnRelayButton(relay); });
        ShowLamp(*inputLamps_[i], inputLit_[i], false);
        ShowLamp(*relayLamps_[i], relayLit_[i], false);
    }
    PrepareValueList();
    connect(ui_->buttonChannelSettings, &QPushButton::clicked, this,
            &CDevicePageDlg::channelSettingsRequested);
    page_.Initialise();
}

CDevicePageDlg::~CDevicePageDlg() = default;

QTableWidget& CDevicePageDlg::ValueList() {
    WritePendingRows();
    return *ui_->ctl1002;
}

QPushButton& CDevicePageDlg::ChannelSettingsButton() const {
    return *ui_->buttonChannelSettings;
}

QLabel& CDevicePageDlg::StatusLabel() const {
    return *ui_->ctl1027;
}

void CDevicePageDlg::PrepareValueList() {
    QTableWidget& list = *ui_->ctl1002;
    list.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A Song face like the dialogs' own; the Ming face stands in where SimSun is missing
    // because some sans CJK fonts draw an empty degree-Celsius sign.
    QFont font;
    font.setFamilies({QStringLiteral("宋体_GB2312"), QStringLiteral("SimSun"),
                      QStringLiteral("宋体"), QStringLiteral("AR PL UMing CN"),
                      res::DialogFont().family()});
    font.setPixelSize(16);
    font.setBold(true);
    list.setFont(font);
    list.verticalHeader()->hide();
    list.verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 6);
    list.setShowGrid(true);
    list.setSelectionBehavior(QAbstractItemView::SelectRows);
    list.setSelectionMode(QAbstractItemView::SingleSelection);
    // Replies rewrite the cells whenever their values change, so an edit could not last.
    list.setEditTriggers(QAbstractItemView::NoEditTriggers);
    list.setItemDelegate(new ValueCellDelegate(&list));
    list.setColumnCount(3);
    list.setHorizontalHeaderLabels(
        {QStringLiteral("序号"), QStringLiteral("AD序号"), QStringLiteral("电压值")});
    const int third = list.viewport()->width() / 3;
    list.setColumnWidth(0, third - 15);
    list.setColumnWidth(1, third);
    list.setColumnWidth(2, third);
    list.horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
}

void CDevicePageDlg::SetStatusText(std::string_view text) {
    const QString status = Text(text);
    ui_->ctl1027->setText(status);
    // The accessible name says what the label is; the description carries what it says.
    ui_->ctl1027->setAccessibleDescription(status);
}

void CDevicePageDlg::SetValueRows(std::span<const ValueRow> rows) {
    // Behind another tab nobody sees the cells, and writing a dozen of them into the table for
    // each reply of seven hidden pages costs more than the shown page's: the latest rows wait,
    // and showing the page writes them before it paints.
    rowsPending_ = !ui_->ctl1002->isVisible();
    if (rowsPending_) {
        pendingRows_.assign(rows.begin(), rows.end());
    } else {
        WriteValueRows(rows);
    }
    emit valueRowsSet(rows);
}

void CDevicePageDlg::showEvent(QShowEvent* event) {
    WritePendingRows();
    QWidget::showEvent(event);
}

void CDevicePageDlg::WritePendingRows() {
    if (std::exchange(rowsPending_, false)) {
        WriteValueRows(pendingRows_);
    }
}

void CDevicePageDlg::WriteValueRows(std::span<const ValueRow> rows) {
    static constexpr std::array<std::string ValueRow::*, 3> kColumns = {
        &ValueRow::number, &ValueRow::label, &ValueRow::value};
    QTableWidget& list = *ui_->ctl1002;
    if (list.rowCount() != static_cast<int>(rows.size())) {
        list.setRowCount(static_cast<int>(rows.size()));
    }
    shownRows_.resize(rows.size());
    // Asked for behind another tab, the cells are written without the model's signal per cell
    // (to the view, accessibility and item listeners); showing the page paints them all.
    const QSignalBlocker unseen(list.isVisible() ? nullptr : list.model());
    // Only cells whose text changed are written, so a reply repaints just those cells.
    for (std::size_t r = 0; r < rows.size(); ++r) {
        bool created = false;
        for (int c = 0; c < 3; ++c) {
            const std::string& text = rows[r].*kColumns[static_cast<std::size_t>(c)];
            std::string& shown = shownRows_[r].*kColumns[static_cast<std::size_t>(c)];
            QTableWidgetItem* item = list.item(static_cast<int>(r), c);
            if (item != nullptr && shown == text) {
                continue;
            }
            if (item == nullptr) {
                item = new QTableWidgetItem;
                item->setTextAlignment(Qt::AlignCenter);
                list.setItem(static_cast<int>(r), c, item);
                created = true;
            }
            item->setText(Text(text));
            shown = text;
        }
        if (created ? !rows[r].detail.empty() : shownRows_[r].detail != rows[r].detail) {
            // The raw volts of a scaled channel, where pointing and screen readers find them.
            const QString text = Text(rows[r].detail);
            for (int c = 1; c < 3; ++c) {
                QTableWidgetItem* item = list.item(static_cast<int>(r), c);
                item->setToolTip(text);
                item->setData(Qt::AccessibleDescriptionRole, text);
            }
        }
        shownRows_[r].detail = rows[r].detail;
    }
}

void CDevicePageDlg::SetSwitchName(bool relay, std::size_t index, std::string_view name) {
    const QString text = Text(name);
    const QString number = QString::number(index + 1);
    auto* caption = findChild<QLabel*>(
        (relay ? QStringLiteral("captionRelay") : QStringLiteral("captionInput")) + number);
    // Names come from a file anyone may have written: never rich text.
    caption->setTextFormat(Qt::PlainText);
    caption->setText(text);
    caption->setToolTip(text);
    (relay ? relayLamps_ : inputLamps_).at(index)->setAccessibleName(text);
    if (relay) {
        relayButtons_.at(index)->setAccessibleDescription(text);
    }
}

void CDevicePageDlg::ShowLamp(QLabel& lamp, std::optional<bool>& shown, bool lit) {
    if (shown == lit) {
        return;
    }
    lamp.setPixmap(lit ? lampOn_ : lampOff_);
    lamp.setAccessibleDescription(res::LampDescription(lit));
    shown = lit;
}

void CDevicePageDlg::SetInputLamp(std::size_t index, bool lit) {
    ShowLamp(*inputLamps_.at(index), inputLit_.at(index), lit);
}

void CDevicePageDlg::SetRelay(std::size_t index, bool lit, std::string_view caption) {
    ShowLamp(*relayLamps_.at(index), relayLit_.at(index), lit);
    std::string& shown = captions_.at(index);
    if (shown != caption) {
        relayButtons_.at(index)->setText(Text(caption));
        shown = caption;
    }
}

}  // namespace corvelle

#include "moc_device_page_dlg.cpp"  // NOLINT(bugprone-suspicious-include): moc output
