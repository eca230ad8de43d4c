#pragma once

#include <QString>
#include <cstdio>
#include <string_view>

#include "device/acquisition_sink.h"
#include "device/slot_tables.h"
#include "profile/profile.h"
#include "server/host_ports.h"

namespace corvelle {

enum class Verbosity { Quiet, Normal, Verbose };

// The service's log: one line per event on a stream (standard error), plain text:
// "2026-12-08 10:15:30.123 slot 3 "一号泵站" 192.0.2.7:40000 registered into slot 3".
// Quiet keeps errors only; Verbose adds every frame in both directions.
class ServiceLog final : public AcquisitionSink, public FrameTap {
  public:
    ServiceLog(std::FILE* stream, Verbosity verbosity, const SlotTables& tables);

    void OnReading(const Reading&) override {}
    void OnEvent(const AcquisitionEvent& event) override;
    void OnFrame(const ClientRecord& record, bool received,
                 std::span<const std::uint8_t> bytes) override;

    // Where the "identified" line finds the names and units of the terminal's channels.
    void SetProfiles(const ProfileLookup* profiles) { profiles_ = profiles; }
    void Info(const QString& message);
    void Error(const QString& message);
    Verbosity Level() const { return verbosity_; }

  private:
    void Line(int slot, std::span<const std::uint8_t> name, std::string_view peer,
              const QString& what);

    std::FILE* stream_;
    Verbosity verbosity_;
    const SlotTables& tables_;
    const ProfileLookup* profiles_ = nullptr;
};

// A device name for a log line: as the tabs show it, quoted, with quotes and backslashes
// escaped so that the line stays one unambiguous line.
QString QuotedName(std::span<const std::uint8_t> name);

}  // namespace corvelle
