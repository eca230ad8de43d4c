#include "alarm/ui/alarm_list_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>

#include "alarm/alarm_engine.h"
#include "device/qt/device_name.h"
#include "device/time_text.h"

namespace corvelle {
namespace {

enum Column { kTime, kTerminal, kSource, kCondition, kValue, kPriority, kState, kColumns };
constexpr int kNameRole = Qt::UserRole;
constexpr int kSourceRole = Qt::UserRole + 1;
constexpr int kUnackedRole = Qt::UserRole + 2;
constexpr int kPriorityRole = Qt::UserRole + 3;

QColor PriorityColour(AlarmPriority priority) {
    switch (priority) {
        case AlarmPriority::Urgent:
            return {0xF4, 0x8A, 0x8A};
        case AlarmPriority::High:
            return {0xF8, 0xC0, 0x7A};
        case AlarmPriority::Low:
            break;
    }
    return {0xF2, 0xE4, 0x8C};
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

AlarmListPanel::AlarmListPanel(QWidget* parent) : QGroupBox(QStringLiteral("报警"), parent) {
    table_ = new QTableWidget(0, kColumns, this);
    table_->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("终端"),
                                       QStringLiteral("来源"), QStringLiteral("限值/内容"),
                                       QStringLiteral("数值"), QStringLiteral("优先级"),
                                       QStringLiteral("状态")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    for (const auto& [column, width] : {std::pair{kTime, 130},
                                        {kTerminal, 150},
                                        {kSource, 130},
                                        {kCondition, 150},
                                        {kValue, 80},
                                        {kPriority, 60}}) {
        table_->setColumnWidth(column, width);
    }
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    table_->setAccessibleName(QStringLiteral("报警列表"));
    connect(table_, &QWidget::customContextMenuRequested, this, &AlarmListPanel::OfferShelving);

    acknowledge_ = new QPushButton(QStringLiteral("确认"), this);
    acknowledgeAll_ = new QPushButton(QStringLiteral("全部确认"), this);
    sound_ = new QCheckBox(QStringLiteral("报警声音"), this);
    connect(acknowledge_, &QPushButton::clicked, this, &AlarmListPanel::AcknowledgeSelected);
    connect(acknowledgeAll_, &QPushButton::clicked, this, &AlarmListPanel::acknowledgeAllRequested);
    connect(sound_, &QCheckBox::toggled, this, &AlarmListPanel::UpdateSound);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(acknowledge_);
    buttons->addWidget(acknowledgeAll_);
    buttons->addStretch();
    buttons->addWidget(sound_);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 6);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);

    blink_.setInterval(kBlinkMs);
    connect(&blink_, &QTimer::timeout, this, [this] {
        blinkOn_ = !blinkOn_;
        Paint();
    });
    rebuild_.setSingleShot(true);
    rebuild_.setInterval(0);
    connect(&rebuild_, &QTimer::timeout, this, [this] {
        Rebuild();
        emit changed();
    });
    beep_.setInterval(kBeepMs);
    connect(&beep_, &QTimer::timeout, this, [] { QApplication::beep(); });
}

void AlarmListPanel::OnEvent(const AcquisitionEvent& event) {
    if (board_.Take(event)) {
        rebuild_.start();
    }
}

void AlarmListPanel::Rebuild() {
    // The selection survives by alarm, not by row.
    QSet<QString> selected;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        selected.insert(index.data(kNameRole).toByteArray().toHex() +
                        index.data(kSourceRole).toString());
    }
    const auto rows = board_.Rows();
    table_->setRowCount(static_cast<int>(rows.size()));
    for (int row = 0; row < table_->rowCount(); ++row) {
        const AlarmSnapshot& alarm = *rows[static_cast<std::size_t>(row)];
        const QString source = Text(alarm.source.Id());
        QString state = QString::fromUtf8(StateText(alarm));
        if (alarm.chattering) {
            state += QStringLiteral("（频繁）");
        }
        const QString texts[kColumns] = {
            Text(FormatDateTime(alarm.raisedAt)),
            DeviceNameText(alarm.name),
            alarm.label.empty() ? source : source + QLatin1Char(' ') + Text(alarm.label),
            Text(ConditionText(alarm)),
            Text(AlarmValueText(alarm)),
            QString::fromUtf8(PriorityText(alarm.condition.priority)),
            state,
        };
        const QByteArray name(reinterpret_cast<const char*>(alarm.name.data()),
                              static_cast<qsizetype>(alarm.name.size()));
        for (int column = 0; column < kColumns; ++column) {
            auto* item = new QTableWidgetItem(texts[column]);
            item->setData(kNameRole, name);
            item->setData(kSourceRole, source);
            item->setData(kUnackedRole, IsUnacked(alarm));
            item->setData(kPriorityRole, static_cast<int>(alarm.condition.priority));
            if (column == kState && IsUnacked(alarm)) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            table_->setItem(row, column, item);
        }
        if (selected.contains(name.toHex() + source)) {
            table_->selectionModel()->select(
                table_->model()->index(row, 0),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    const bool unacked = board_.UnackedCount() > 0;
    if (unacked && !blink_.isActive()) {
        blinkOn_ = true;
        blink_.start();
    } else if (!unacked) {
        blink_.stop();
    }
    Paint();
    UpdateSound();
}

void AlarmListPanel::Paint() {
    for (int row = 0; row < table_->rowCount(); ++row) {
        const QTableWidgetItem* first = table_->item(row, 0);
        const bool unacked = first->data(kUnackedRole).toBool();
        const auto priority = static_cast<AlarmPriority>(first->data(kPriorityRole).toInt());
        // Acknowledged rows keep their colour steady; unacknowledged ones blink.
        const QBrush brush =
            !unacked || blinkOn_ ? QBrush(PriorityColour(priority)) : QBrush(Qt::NoBrush);
        for (int column = 0; column < kColumns; ++column) {
            table_->item(row, column)->setBackground(brush);
        }
    }
}

void AlarmListPanel::UpdateSound() {
    const bool wanted = sound_->isChecked() && board_.UnackedCount() > 0;
    if (wanted && !beep_.isActive()) {
        QApplication::beep();
        beep_.start();
    } else if (!wanted) {
        beep_.stop();
    }
}

void AlarmListPanel::AcknowledgeSelected() {
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        emit acknowledgeRequested(index.data(kNameRole).toByteArray(),
                                  index.data(kSourceRole).toString());
    }
}

void AlarmListPanel::OfferShelving(QPoint pos) {
    const QTableWidgetItem* item = table_->itemAt(pos);
    if (item == nullptr) {
        return;
    }
    const QByteArray name = item->data(kNameRole).toByteArray();
    const QString source = item->data(kSourceRole).toString();
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("搁置 1 小时"), this,
                    [this, name, source] { emit shelveRequested(name, source); });
    menu->popup(table_->viewport()->mapToGlobal(pos));
}

}  // namespace corvelle

#include "moc_alarm_list_panel.cpp"  // NOLINT(bugprone-suspicious-include): moc output
