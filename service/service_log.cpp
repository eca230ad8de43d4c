#include "service/service_log.h"

#include <QDateTime>

#include "alarm/alarm_state.h"
#include "device/device_page.h"
#include "device/qt/device_name.h"
#include "device/time_text.h"
#include "protocol/frame_text.h"
#include "server/client_record.h"

namespace corvelle {

namespace {

// What an operator watching warnings must see: refusals, forced closes, lost rows.
ServiceLog::Priority PriorityOf(const AcquisitionEvent& event) {
    switch (event.kind) {
        case EventKind::RecordingStopped:
            return event.error ? ServiceLog::Priority::Error : ServiceLog::Priority::Info;
        case EventKind::ClosedByConsole:
            return event.reason == CloseReason::TakenOver ? ServiceLog::Priority::Info
                                                          : ServiceLog::Priority::Warning;
        case EventKind::Refused:
        case EventKind::ConnectionsRefused:
        case EventKind::ReadingsDropped:
        case EventKind::TerminalRecordingFailed:
        case EventKind::RecordingSpaceLow:
        case EventKind::RecordingFileReopened:
            return ServiceLog::Priority::Warning;
        default:
            return ServiceLog::Priority::Info;
    }
}

}  // namespace

QString QuotedName(std::span<const std::uint8_t> name) {
    QString text = DeviceNameText(name);
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

ServiceLog::ServiceLog(std::FILE* stream, Verbosity verbosity, const SlotTables& tables,
                       bool priorities)
    : stream_(stream), verbosity_(verbosity), tables_(tables), priorities_(priorities) {}

void ServiceLog::OnEvent(const AcquisitionEvent& event) {
    if (IsAlarm(event.kind) && event.alarm) {
        // Urgent alarms are errors, so that even a quiet log keeps them; the others warnings.
        const bool urgent = event.alarm->alarm.condition.priority == AlarmPriority::Urgent;
        if (urgent || verbosity_ != Verbosity::Quiet) {
            Line(urgent ? Priority::Error : Priority::Warning, event.slot, event.name, {},
                 QLatin1String(urgent ? "error: " : "warning: ") +
                     QString::fromStdString(DescribeEvent(event)));
        }
        return;
    }
    // Anyone who reaches the port can open connections by the thousand; a terminal's address
    // is in its registration's line anyway.
    if (verbosity_ == Verbosity::Quiet ||
        (event.kind == EventKind::Connected && verbosity_ != Verbosity::Verbose)) {
        return;
    }
    // A refusal summary names its address itself.
    const std::string_view peer =
        event.kind == EventKind::ConnectionsRefused ? std::string_view() : event.peer;
    std::string what = DescribeEvent(event);
    if (event.kind == EventKind::Identified && profiles_ != nullptr) {
        if (const auto profile = profiles_->ProfileFor(event.name)) {
            what += ChannelSummary(*profile, static_cast<std::size_t>(event.value));
        }
    }
    Line(PriorityOf(event), event.slot, event.name, peer, QString::fromStdString(what));
}

void ServiceLog::OnFrame(const ClientRecord& record, bool received,
                         std::span<const std::uint8_t> bytes) {
    if (verbosity_ != Verbosity::Verbose) {
        return;
    }
    int slot = 0;
    std::span<const std::uint8_t> name;
    if (record.registered == 1) {
        slot = record.pageWindow->Slot() + 1;
        name = tables_.deviceNames[static_cast<std::size_t>(slot - 1)];
    }
    Line(Priority::Debug, slot, name, record.socket->PeerAddress(),
         QLatin1String(received ? "rx " : "tx ") + QString::fromStdString(DescribeFrame(bytes)));
}

void ServiceLog::Info(const QString& message) {
    if (verbosity_ != Verbosity::Quiet) {
        Line(Priority::Info, 0, {}, {}, message);
    }
}

void ServiceLog::Warning(const QString& message) {
    if (verbosity_ != Verbosity::Quiet) {
        Line(Priority::Warning, 0, {}, {}, message);
    }
}

void ServiceLog::Error(const QString& message) {
    Line(Priority::Error, 0, {}, {}, QStringLiteral("error: ") + message);
}

void ServiceLog::Line(Priority priority, int slot, std::span<const std::uint8_t> name,
                      std::string_view peer, const QString& what) {
    const QDateTime now = QDateTime::currentDateTime();
    QString line;
    if (priorities_) {
        line = QStringLiteral("<%1>").arg(static_cast<int>(priority));
    }
    line += now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) +
            QString::fromStdString(FormatUtcOffset(now.offsetFromUtc()));
    if (slot > 0) {
        line += QStringLiteral(" slot %1").arg(slot);
    }
    // A refused terminal has a name but no slot: whoever is locked out is named.
    if (!name.empty()) {
        line += QLatin1Char(' ') + QuotedName(name);
    }
    if (!peer.empty()) {
        line +=
            QLatin1Char(' ') + QString::fromUtf8(peer.data(), static_cast<qsizetype>(peer.size()));
    }
    line += QLatin1Char(' ') + what + QLatin1Char('\n');
    std::fputs(line.toUtf8().constData(), stream_);
    std::fflush(stream_);
}

}  // namespace corvelle
