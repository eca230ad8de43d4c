#include "device/acquisition_sink.h"

#include <algorithm>

namespace corvelle {
namespace {

std::string CloseReasonText(CloseReason reason) {
    switch (reason) {
        case CloseReason::TakenOver:
            return "taken over by a newer connection of the same name";
        case CloseReason::WriteBacklog:
            return "write backlog";
        case CloseReason::RegistrationTimeout:
            return "registration timeout";
        case CloseReason::NotAllowed:
            return "address not allowed";
        case CloseReason::UnregisteredLimit:
            return "too many unregistered connections";
        case CloseReason::SilentTimeout:
            return "no valid reply for too long";
        case CloseReason::InvalidRegistration:
            return "not a valid registration";
        case CloseReason::NoFreeSlot:
            return "no free slot";
    }
    return "unknown reason";
}

// The reasons of refused connections, as a summary line says them.
std::string RefusalText(CloseReason reason) {
    switch (reason) {
        case CloseReason::NotAllowed:
            return "not allowed";
        case CloseReason::RegistrationTimeout:
            return "registration timeout";
        case CloseReason::UnregisteredLimit:
            return "too many unregistered";
        case CloseReason::TakenOver:
        case CloseReason::WriteBacklog:
        case CloseReason::SilentTimeout:
        case CloseReason::InvalidRegistration:
        case CloseReason::NoFreeSlot:
            break;
    }
    return CloseReasonText(reason);
}

std::string Because(const AcquisitionEvent& event) {
    return event.error ? " (" + EnglishText(*event.error) + ")" : std::string();
}

}  // namespace

void SinkFanout::Add(AcquisitionSink* sink) {
    if (std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end()) {
        sinks_.push_back(sink);
    }
}

void SinkFanout::Remove(AcquisitionSink* sink) {
    sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

void SinkFanout::OnReading(const Reading& reading) {
    for (AcquisitionSink* sink : sinks_) {
        sink->OnReading(reading);
    }
}

void SinkFanout::OnEvent(const AcquisitionEvent& event) {
    OnEventFrom(event, nullptr);
}

void SinkFanout::OnEventFrom(const AcquisitionEvent& event, const AcquisitionSink* source) {
    for (AcquisitionSink* sink : sinks_) {
        if (sink != source) {
            sink->OnEvent(event);
        }
    }
}

std::string DescribeEvent(const AcquisitionEvent& event) {
    const std::string value = std::to_string(event.value);
    switch (event.kind) {
        case EventKind::Connected:
            return "connected";
        case EventKind::Registered:
            return "registered into slot " + std::to_string(event.slot);
        case EventKind::Refused:
            return std::string("registration refused: ") +
                   (event.value == 2 ? "no free slot" : "not a valid registration") + " (status " +
                   value + ")";
        case EventKind::Identified:
            return "identified with " + value + " channels";
        case EventKind::Detached:
            return "detached";
        case EventKind::RelayEcho:
            return "relay " + value + (event.on ? " on" : " off");
        case EventKind::ClosedByConsole:
            return "closed by the console: " + CloseReasonText(event.reason);
        case EventKind::ConnectionsRefused:
            return "refused " + value + (event.value == 1 ? " connection" : " connections") +
                   " from " + event.peer + " (" + RefusalText(event.reason) + ")";
        case EventKind::ReadingsDropped:
            return value + " readings dropped";
        case EventKind::RecordingStarted:
            return "recording started in " + event.detail;
        case EventKind::RecordingStopped:
            return "recording stopped" + Because(event) + ": " + value + " rows written, " +
                   event.detail + " dropped";
        case EventKind::TerminalRecordingFailed:
            return "recording of " + event.detail + " failed" + Because(event) +
                   "; its rows are dropped until it can be written";
        case EventKind::TerminalRecordingResumed:
            return "recording of " + event.detail + " resumed; " + value + " rows were dropped";
        case EventKind::RecordingSpaceLow:
            return "little space left for recording: " + std::to_string(event.value >> 20) +
                   " MiB free";
        case EventKind::RecordingFileRemoved:
            return "old day file removed: " + event.detail;
        case EventKind::RecordingFileReopened:
            return "day file replaced or removed while recording; writing on in " + event.detail;
        case EventKind::AlarmRaised:
            return "alarm raised: " + event.detail;
        case EventKind::AlarmAcknowledged:
            return "alarm acknowledged: " + event.detail;
        case EventKind::AlarmCleared:
            return "alarm cleared: " + event.detail;
        case EventKind::AlarmShelved:
            return "alarm shelved for an hour: " + event.detail;
        case EventKind::AlarmUnshelved:
            return "alarm no longer shelved: " + event.detail;
        case EventKind::ProfileInForce:
            return "profile in force: " + event.detail;
    }
    return "unknown event";
}

}  // namespace corvelle
