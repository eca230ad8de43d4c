#pragma once

#include <QByteArray>
#include <QGroupBox>
#include <QString>
#include <QTimer>

#include "alarm/alarm_board.h"

class QCheckBox;
class QPushButton;
class QTableWidget;

namespace corvelle {

// The operator's alarm list ("报警"): one row per alarm that is neither normal nor shelved,
// newest first; unacknowledged rows coloured by priority, blinking once a second, and saying
// so in their state column. "确认" acknowledges the selected rows, "全部确认" all; a row's
// context menu shelves it for an hour. "报警声音" beeps every 10 s while anything is
// unacknowledged; it starts off.
class AlarmListPanel final : public QGroupBox {
    Q_OBJECT

  public:
    static constexpr int kBlinkMs = 1000;
    static constexpr int kBeepMs = 10000;

    explicit AlarmListPanel(QWidget* parent = nullptr);

    // Alarm events change the list; others are ignored.
    void OnEvent(const AcquisitionEvent& event);
    const AlarmBoard& Board() const { return board_; }
    QTableWidget& Table() const { return *table_; }

  signals:
    // name as received, source as "AD3", "IN1", "link".
    void acknowledgeRequested(const QByteArray& name, const QString& source);
    void acknowledgeAllRequested();
    void shelveRequested(const QByteArray& name, const QString& source);
    // What is shown changed: marks and the window title follow.
    void changed();

  private:
    void Rebuild();
    void Paint();
    void UpdateSound();
    void AcknowledgeSelected();
    void OfferShelving(QPoint pos);

    AlarmBoard board_;
    QTableWidget* table_ = nullptr;
    QPushButton* acknowledge_ = nullptr;
    QPushButton* acknowledgeAll_ = nullptr;
    QCheckBox* sound_ = nullptr;
    QTimer blink_;
    QTimer beep_;
    // A burst of events (a reload, a terminal's return) rebuilds the list once.
    QTimer rebuild_;
    bool blinkOn_ = true;
};

}  // namespace corvelle
