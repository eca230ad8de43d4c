#include "record/csv_rows.h"

#include <algorithm>

#include "device/time_text.h"
#include "device/value_list.h"

namespace corvelle {
namespace {

std::string Flags(const std::array<std::uint8_t, kChannelCount>& flags) {
    std::string text(kChannelCount, '0');
    for (std::size_t i = 0; i < kChannelCount; ++i) {
        if (flags[i] != 0) {
            text[i] = '1';
        }
    }
    return text;
}

std::string CloseReasonText(CloseReason reason) {
    switch (reason) {
        case CloseReason::TakenOver:
            return "被同名的新连接取代";
        case CloseReason::WriteBacklog:
            return "发送积压";
        case CloseReason::RegistrationTimeout:
            return "注册超时";
        case CloseReason::NotAllowed:
            return "地址不允许";
        case CloseReason::UnregisteredLimit:
            return "未注册连接过多";
        case CloseReason::SilentTimeout:
            return "长时间无有效应答";
        case CloseReason::InvalidRegistration:
            return "注册无效";
        case CloseReason::NoFreeSlot:
            return "没有空闲槽位";
    }
    return "?";
}

bool FormulaLike(std::string_view name) {
    return !name.empty() && std::string_view("=+-@\t\r").find(name[0]) != std::string_view::npos;
}

}  // namespace

std::string EventNameText(std::string_view name) {
    return FormulaLike(name) ? "'" + std::string(name) : std::string(name);
}

std::string_view NameOfEventText(std::string_view text) {
    return text.starts_with('\'') && FormulaLike(text.substr(1)) ? text.substr(1) : text;
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string field = "\"";
    for (const char c : text) {
        field += c;
        if (c == '"') {
            field += '"';
        }
    }
    field += '"';
    return field;
}

std::string ReadingRow(const Reading& reading) {
    std::string row = FormatDateTimeMs(reading.time);
    const std::size_t channels = std::min<std::size_t>(reading.channelCount, kChannelCount);
    for (std::size_t i = 0; i < kChannelCount; ++i) {
        row += ',';
        if (i < channels) {
            row += FixedPointText(reading.channelMillivolts[i], 1000, 3);
        }
    }
    row += ',' + FixedPointText(reading.temperatureCentidegrees, 100, 2);
    row += ',' + FixedPointText(reading.referenceMillivolts, 1000, 3);
    row += ',' + FixedPointText(reading.supplyCentivolts, 100, 2);
    row += ',' + std::to_string(reading.signalValue);
    row += ',' + Flags(reading.inputs);
    row += ',' + Flags(reading.relays);
    return row;
}

bool IsRecorded(const AcquisitionEvent& event) {
    return event.kind != EventKind::Connected && event.kind != EventKind::Refused &&
           !IsRegistrationRefusal(event);
}

std::string_view EventName(EventKind kind) {
    switch (kind) {
        case EventKind::Connected:
        case EventKind::Refused:
            return {};
        case EventKind::Registered:
            return "注册";
        case EventKind::Identified:
            return "已连接";
        case EventKind::Detached:
            return "已断开";
        case EventKind::RelayEcho:
            return "继电器";
        case EventKind::ClosedByConsole:
            return "关闭连接";
        case EventKind::ConnectionsRefused:
            return "拒绝连接";
        case EventKind::ReadingsDropped:
            return "数据丢弃";
        case EventKind::RecordingStarted:
            return "开始记录";
        case EventKind::RecordingStopped:
            return "停止记录";
        case EventKind::TerminalRecordingFailed:
            return "记录失败";
        case EventKind::TerminalRecordingResumed:
            return "恢复记录";
        case EventKind::RecordingSpaceLow:
            return "磁盘空间不足";
        case EventKind::RecordingFileRemoved:
            return "删除旧文件";
        case EventKind::RecordingFileReopened:
            return "重新打开文件";
        case EventKind::AlarmRaised:
            return "报警";
        case EventKind::AlarmAcknowledged:
            return "报警确认";
        case EventKind::AlarmCleared:
            return "报警恢复";
        case EventKind::AlarmShelved:
        case EventKind::AlarmUnshelved:
            return "报警搁置";
        case EventKind::ProfileInForce:
            return "终端配置";
    }
    return {};
}

std::optional<std::string> EventRow(const AcquisitionEvent& event, std::string_view name,
                                    std::string_view program) {
    if (!IsRecorded(event)) {
        return std::nullopt;
    }
    const std::string value = std::to_string(event.value);
    std::string detail;
    switch (event.kind) {
        case EventKind::Connected:
        case EventKind::Refused:
            return std::nullopt;
        case EventKind::Registered:
            detail = event.peer;
            break;
        case EventKind::Identified:
            detail = value + "通道";
            break;
        case EventKind::Detached:
            break;
        case EventKind::RelayEcho:
            detail = "继电器" + value + (event.on ? " 开" : " 关");
            break;
        case EventKind::ClosedByConsole:
            detail = CloseReasonText(event.reason) + " " + event.peer;
            break;
        case EventKind::ConnectionsRefused:
            detail = CloseReasonText(event.reason) + " " + event.peer + "：" + value + "次";
            break;
        case EventKind::ReadingsDropped:
            detail = value + "行";
            break;
        case EventKind::RecordingStarted:
            detail = event.detail + "（" + std::string(program) + "）";
            break;
        case EventKind::RecordingStopped:
            detail = "写入" + value + "行，丢弃" + event.detail + "行";
            if (event.error) {
                detail += "；" + ChineseText(*event.error);
            }
            break;
        case EventKind::TerminalRecordingFailed:
            detail = ChineseText(event.error.value_or(FileError{})) + "：" + event.detail +
                     "；数据行将被丢弃，直到可以写入";
            break;
        case EventKind::TerminalRecordingResumed:
            detail = event.detail + "；期间丢弃" + value + "行";
            break;
        case EventKind::RecordingSpaceLow:
            detail = "剩余" + std::to_string(event.value >> 20) + " MB";
            break;
        case EventKind::RecordingFileRemoved:
        case EventKind::AlarmRaised:
        case EventKind::AlarmAcknowledged:
        case EventKind::AlarmCleared:
        case EventKind::AlarmShelved:
            detail = event.detail;
            break;
        case EventKind::AlarmUnshelved:
            detail = event.detail + "（搁置到期）";
            break;
        case EventKind::RecordingFileReopened:
            detail = event.detail + "（文件被替换或删除）";
            break;
        case EventKind::ProfileInForce:
            detail = event.detail;
            break;
    }
    return FormatDateTimeMs(event.time) + ',' + (event.slot > 0 ? std::to_string(event.slot) : "") +
           ',' + CsvField(EventNameText(name)) + ',' + std::string(EventName(event.kind)) + ',' +
           CsvField(detail);
}

}  // namespace corvelle
