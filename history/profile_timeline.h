#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "history/events_file.h"
#include "history/series.h"
#include "profile/profile.h"

namespace corvelle {

// Which profile was in force for each row of a history: the recorder writes the terminal's
// profile into the events file when recording starts, with the terminal's first row of each day
// and on every change, and it holds for the rows from its time on.
class ProfileTimeline {
  public:
    // Rows [begin, end) under one profile; none (volts) before the first, or after a detail that
    // could not be read.
    struct Stretch {
        std::size_t begin = 0;
        std::size_t end = 0;
        std::shared_ptr<const TerminalProfile> profile;
    };

    ProfileTimeline() = default;
    // From the events of terminal (by its name) in file order, over the rows of series.
    ProfileTimeline(std::span<const EventRecord> events, std::string_view terminal,
                    const Series& series);

    // In row order, covering every row.
    std::span<const Stretch> Stretches() const { return stretches_; }
    const TerminalProfile* At(std::size_t row) const;
    // The profile in force at the last row under any, which names the lines and the columns.
    const TerminalProfile* Latest() const { return latest_.get(); }
    // Details that were not a profile.
    std::size_t Refused() const { return refused_; }

  private:
    std::vector<Stretch> stretches_;
    std::shared_ptr<const TerminalProfile> latest_;
    std::size_t refused_ = 0;
};

// Volts as the recorder writes them.
inline constexpr int kVoltDecimals = 3;

// One analogue channel (0 to 11) as the history shows it under the profiles in force.
class ShownChannel {
  public:
    ShownChannel(const Series& series, const ProfileTimeline& profiles, std::size_t kept,
                 int channel);

    int Channel() const { return channel_; }
    std::size_t Kept() const { return kept_; }
    // The name and unit of the latest profile, else "ADk" and "V".
    const std::string& Name() const { return name_; }
    const std::string& Unit() const { return unit_; }
    int Decimals() const { return decimals_; }
    bool RightAxis() const { return right_; }
    // Whether a profile names or scales the channel anywhere in the rows.
    bool Profiled() const { return profiled_; }

    // The row's value scaled by the profile in force at it; NaN for an empty field.
    double Value(std::size_t row) const;
    // The unit and decimals of that value: the profile's at the row, else volts to the
    // millivolt.
    const std::string& UnitAt(std::size_t row) const;
    int DecimalsAt(std::size_t row) const;
    // The true range of the scaled values of rows [begin, end), from the pyramids, split where
    // the profile changes (a scaling running downwards swaps minimum and maximum).
    ValueRange Range(std::size_t begin, std::size_t end) const;
    // See Series::Fetch.
    void Fetch(std::size_t row) const { series_->Fetch(kept_, row); }

  private:
    const ChannelProfile* ProfileOf(const TerminalProfile* profile) const;
    static const std::string& UnitOf(const ChannelProfile* profile);

    const Series* series_;
    const ProfileTimeline* profiles_;
    std::size_t kept_;
    int channel_;
    std::string name_;
    std::string unit_;
    int decimals_ = kVoltDecimals;
    bool right_ = false;
    bool profiled_ = false;
};

// The name of input or relay k (1 to 12) in the latest profile, else "光耦k" or "继电器k".
std::string SwitchName(const ProfileTimeline& profiles, bool relay, int k);

}  // namespace corvelle
