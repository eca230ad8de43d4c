#include "history/profile_timeline.h"

#include <algorithm>

#include "profile/meta_json_reader.h"
#include "record/csv_rows.h"

namespace corvelle {
namespace {

// The first row from `from` on whose time is time or later, in row order; series.Rows() when
// there is none. Events come in time order, so each search starts where the last one ended.
std::size_t FirstRowFrom(const Series& series, RowTime time, std::size_t from) {
    for (const Piece& piece : series.Pieces()) {
        if (piece.end <= from) {
            continue;
        }
        const std::size_t row = std::max(series.Find(piece, time), from);
        if (row < piece.end) {
            return row;
        }
    }
    return series.Rows();
}

bool Same(const std::shared_ptr<const TerminalProfile>& a,
          const std::shared_ptr<const TerminalProfile>& b) {
    return a == b || (a != nullptr && b != nullptr && *a == *b);
}

}  // namespace

ProfileTimeline::ProfileTimeline(std::span<const EventRecord> events, std::string_view terminal,
                                 const Series& series) {
    const std::size_t rows = series.Rows();
    stretches_.push_back({0, rows, nullptr});
    std::size_t from = 0;
    for (const EventRecord& event : events) {
        if (event.event != EventName(EventKind::ProfileInForce) || event.name != terminal) {
            continue;
        }
        std::shared_ptr<const TerminalProfile> profile;
        if (auto read = ReadMetaJson(event.detail)) {
            profile = std::make_shared<const TerminalProfile>(std::move(*read));
        } else {
            ++refused_;
        }
        from = FirstRowFrom(series, event.time, from);
        if (from == rows || Same(stretches_.back().profile, profile)) {
            continue;
        }
        if (stretches_.back().begin == from) {
            stretches_.back().profile = std::move(profile);
            // The one before may now be the same: one stretch for both.
            if (stretches_.size() > 1 &&
                Same(stretches_[stretches_.size() - 2].profile, stretches_.back().profile)) {
                stretches_.pop_back();
                stretches_.back().end = rows;
            }
            continue;
        }
        stretches_.back().end = from;
        stretches_.push_back({from, rows, std::move(profile)});
    }
    for (auto it = stretches_.rbegin(); it != stretches_.rend() && latest_ == nullptr; ++it) {
        if (it->begin < it->end) {
            latest_ = it->profile;
        }
    }
}

const TerminalProfile* ProfileTimeline::At(std::size_t row) const {
    const auto it = std::upper_bound(stretches_.begin(), stretches_.end(), row,
                                     [](std::size_t r, const Stretch& s) { return r < s.begin; });
    return it == stretches_.begin() ? nullptr : std::prev(it)->profile.get();
}

ShownChannel::ShownChannel(const Series& series, const ProfileTimeline& profiles, std::size_t kept,
                           int channel)
    : series_(&series),
      profiles_(&profiles),
      kept_(kept),
      channel_(channel),
      name_("AD" + std::to_string(channel + 1)),
      unit_(UnitOf(nullptr)) {
    for (const auto& stretch : profiles.Stretches()) {
        profiled_ = profiled_ || ProfileOf(stretch.profile.get()) != nullptr;
    }
    if (const ChannelProfile* profile = ProfileOf(profiles.Latest())) {
        if (!profile->name.empty()) {
            name_ = profile->name;
        }
        unit_ = UnitOf(profile);
        decimals_ = profile->decimals;
        right_ = profile->axis == Axis::Right;
    }
}

const ChannelProfile* ShownChannel::ProfileOf(const TerminalProfile* profile) const {
    if (profile == nullptr) {
        return nullptr;
    }
    const auto& channel = profile->channels.at(static_cast<std::size_t>(channel_));
    return channel ? &*channel : nullptr;
}

const std::string& ShownChannel::UnitOf(const ChannelProfile* profile) {
    static const std::string kVolts = "V";
    // A profile that only names a channel leaves it in volts.
    return profile != nullptr && (!profile->unit.empty() || profile->scaling) ? profile->unit
                                                                              : kVolts;
}

const std::string& ShownChannel::UnitAt(std::size_t row) const {
    return UnitOf(ProfileOf(profiles_->At(row)));
}

int ShownChannel::DecimalsAt(std::size_t row) const {
    const ChannelProfile* profile = ProfileOf(profiles_->At(row));
    return profile != nullptr ? profile->decimals : kVoltDecimals;
}

double ShownChannel::Value(std::size_t row) const {
    const double volts = series_->Value(kept_, row);
    const ChannelProfile* profile = ProfileOf(profiles_->At(row));
    return profile != nullptr && profile->scaling ? profile->scaling->Apply(volts) : volts;
}

ValueRange ShownChannel::Range(std::size_t begin, std::size_t end) const {
    ValueRange range;
    const auto stretches = profiles_->Stretches();
    auto it = std::upper_bound(stretches.begin(), stretches.end(), begin,
                               [](std::size_t r, const auto& s) { return r < s.begin; });
    for (it = it == stretches.begin() ? it : std::prev(it);
         it != stretches.end() && it->begin < end; ++it) {
        const ValueRange volts =
            series_->Range(kept_, std::max(begin, it->begin), std::min(end, it->end));
        if (volts.Empty()) {
            continue;
        }
        const ChannelProfile* profile = ProfileOf(it->profile.get());
        if (profile == nullptr || !profile->scaling) {
            range.Add(volts);
            continue;
        }
        range.Add(static_cast<float>(profile->scaling->Apply(volts.min)));
        range.Add(static_cast<float>(profile->scaling->Apply(volts.max)));
    }
    return range;
}

std::string SwitchName(const ProfileTimeline& profiles, bool relay, int k) {
    if (const TerminalProfile* profile = profiles.Latest()) {
        const auto& items = relay ? profile->relays : profile->inputs;
        const std::string& name = items.at(static_cast<std::size_t>(k - 1)).name;
        if (!name.empty()) {
            return name;
        }
    }
    return (relay ? "继电器" : "光耦") + std::to_string(k);
}

}  // namespace corvelle
