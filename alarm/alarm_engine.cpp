#include "alarm/alarm_engine.h"

#include <array>
#include <charconv>

namespace corvelle {
namespace {

constexpr std::int64_t kSilentMarginMs = 10000;
constexpr std::int64_t kSilentPolls = 3;

std::string Bytes(std::span<const std::uint8_t> name) {
    return {name.begin(), name.end()};
}

bool IsHigh(LimitKind kind) {
    return kind == LimitKind::HighHigh || kind == LimitKind::High;
}

std::int64_t Ms(double seconds) {
    return static_cast<std::int64_t>(seconds * 1000);
}

const char* LimitText(LimitKind kind) {
    switch (kind) {
        case LimitKind::HighHigh:
            return "高高限";
        case LimitKind::LowLow:
            return "低低限";
        case LimitKind::High:
            return "高限";
        case LimitKind::Low:
            return "低限";
    }
    return "";
}

// Six significant digits: what a log line and an events row need of a measured value.
std::string ValueText(double value) {
    std::array<char, 32> text{};
    const auto result =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::general, 6);
    return {text.data(), result.ptr};
}

}  // namespace

// A crossing of one limit, held through the delays.
struct LimitWatch {
    bool crossed = false;
    bool held = false;
    std::int64_t sinceMs = 0;
};

struct AlarmEngine::ChannelWatch {
    ChannelAlarms definition;
    std::optional<Scaling> scaling;
    AlarmPoint point;
    std::array<LimitWatch, kLimitKinds> limits{};
    // Unset until the first reading.
    std::optional<double> value;

    // The value against every limit; with deadband and delays, the most severe held wins.
    void Evaluate(double newValue, std::int64_t nowMs, const LocalDateTime& now,
                  std::vector<AlarmTransition>& out) {
        value = newValue;
        AlarmCondition condition;
        for (std::size_t k = 0; k < kLimitKinds; ++k) {
            const auto& limit = definition.limits[k];
            if (!limit) {
                continue;
            }
            LimitWatch& watch = limits[k];
            const double back = watch.crossed ? definition.deadband : 0;
            const bool crossed = IsHigh(static_cast<LimitKind>(k)) ? newValue > limit->limit - back
                                                                   : newValue < limit->limit + back;
            if (crossed != watch.crossed) {
                watch.crossed = crossed;
                watch.sinceMs = nowMs;
            }
            if (watch.held != crossed &&
                nowMs - watch.sinceMs >= Ms(crossed ? definition.onDelay : definition.offDelay)) {
                watch.held = crossed;
            }
            if (watch.held && !condition.active) {
                condition = {true, limit->priority, static_cast<LimitKind>(k), limit->limit};
            }
        }
        point.Update(condition, newValue, nowMs, now, out);
    }
};

struct AlarmEngine::Terminal {
    std::vector<std::uint8_t> name;
    int slot = 0;
    bool attached = false;
    std::int64_t lastReplyMs = 0;
    std::shared_ptr<const TerminalProfile> profile;
    std::array<std::unique_ptr<ChannelWatch>, kProfileChannels> channels;
    std::array<std::unique_ptr<AlarmPoint>, kProfileSwitches> inputs;
    std::unique_ptr<AlarmPoint> link;
    bool linkDown = false;
};

AlarmEngine::AlarmEngine(const AlarmClock& clock, EventOut out)
    : clock_(clock), out_(std::move(out)) {}

AlarmEngine::~AlarmEngine() = default;

void AlarmEngine::OnReading(const Reading& reading) {
    const auto slot = static_cast<std::size_t>(reading.slot);
    Terminal* terminal = slot < bySlot_.size() ? bySlot_[slot] : nullptr;
    if (terminal == nullptr) {
        // A terminal that identified before the engine listened: its reading says as much.
        AcquisitionEvent identified;
        identified.time = reading.time;
        identified.slot = reading.slot;
        identified.name = reading.name;
        Attach(identified);
        terminal = bySlot_[slot];
    }
    if (!terminal->link) {
        return;
    }
    const std::int64_t nowMs = clock_.MonotonicMs();
    terminal->lastReplyMs = nowMs;
    if (terminal->linkDown) {
        terminal->linkDown = false;
        terminal->link->Update({}, 0, nowMs, reading.time, pending_);
    }
    const std::size_t channels = std::min<std::size_t>(reading.channelCount, kProfileChannels);
    for (std::size_t i = 0; i < channels; ++i) {
        if (ChannelWatch* watch = terminal->channels[i].get()) {
            // As the page scaled it, once for every listener.
            watch->Evaluate(reading.values[i], nowMs, reading.time, pending_);
        }
    }
    for (std::size_t i = 0; i < kProfileSwitches; ++i) {
        if (AlarmPoint* point = terminal->inputs[i].get()) {
            const bool on = reading.inputs[i] != 0;
            const InputAlarm& alarm = *terminal->profile->inputs[i].alarm;
            point->Update({on == alarm.whenOn, alarm.priority, std::nullopt, 0}, on ? 1 : 0, nowMs,
                          reading.time, pending_);
        }
    }
    Flush();
}

void AlarmEngine::OnEvent(const AcquisitionEvent& event) {
    if (event.kind == EventKind::Identified) {
        Attach(event);
    } else if (event.kind == EventKind::Detached) {
        Detach(event);
    }
}

void AlarmEngine::Attach(const AcquisitionEvent& event) {
    auto& entry = terminals_[Bytes(event.name)];
    if (!entry) {
        entry = std::make_unique<Terminal>();
        entry->name = event.name;
        entry->slot = event.slot;
        Define(*entry, Lookup(event.name));
    }
    Terminal& terminal = *entry;
    if (terminal.attached && terminal.slot != event.slot &&
        static_cast<std::size_t>(terminal.slot) < bySlot_.size()) {
        bySlot_[static_cast<std::size_t>(terminal.slot)] = nullptr;
    }
    terminal.slot = event.slot;
    terminal.attached = true;
    terminal.lastReplyMs = clock_.MonotonicMs();
    const auto slot = static_cast<std::size_t>(event.slot);
    if (slot >= bySlot_.size()) {
        bySlot_.resize(slot + 1, nullptr);
    }
    bySlot_[slot] = &terminal;
    if (terminal.link && terminal.linkDown) {
        terminal.linkDown = false;
        terminal.link->Update({}, 0, terminal.lastReplyMs, event.time, pending_);
    }
    Flush();
}

void AlarmEngine::Detach(const AcquisitionEvent& event) {
    Terminal* terminal = Find(event.name);
    if (terminal == nullptr || !terminal->attached || terminal->slot != event.slot) {
        return;
    }
    terminal->attached = false;
    bySlot_[static_cast<std::size_t>(terminal->slot)] = nullptr;
    if (terminal->link && !terminal->linkDown) {
        terminal->linkDown = true;
        terminal->link->Update({true, AlarmPriority::High, std::nullopt, 0}, 0,
                               clock_.MonotonicMs(), event.time, pending_);
    }
    Flush();
}

void AlarmEngine::Tick() {
    const std::int64_t nowMs = clock_.MonotonicMs();
    const LocalDateTime now = clock_.Now();
    for (auto& [key, terminal] : terminals_) {
        if (!terminal->link) {
            continue;
        }
        if (terminal->attached && !terminal->linkDown &&
            nowMs - terminal->lastReplyMs >= SilentAfterMs(*terminal)) {
            terminal->linkDown = true;
            terminal->link->Update({true, AlarmPriority::High, std::nullopt, 0}, 0, nowMs, now,
                                   pending_);
        }
        terminal->link->Tick(nowMs, now, pending_);
        for (auto& watch : terminal->channels) {
            if (watch) {
                // Delays run out between readings too, while readings come.
                if (terminal->attached && watch->value) {
                    watch->Evaluate(*watch->value, nowMs, now, pending_);
                }
                watch->point.Tick(nowMs, now, pending_);
            }
        }
        for (auto& point : terminal->inputs) {
            if (point) {
                point->Tick(nowMs, now, pending_);
            }
        }
    }
    Flush();
}

void AlarmEngine::SetProfiles(const ProfileLookup* profiles) {
    profiles_ = profiles;
    for (auto& [key, terminal] : terminals_) {
        Define(*terminal, Lookup(terminal->name));
    }
    Flush();
}

std::shared_ptr<const TerminalProfile> AlarmEngine::Lookup(
    std::span<const std::uint8_t> name) const {
    return profiles_ != nullptr ? profiles_->ProfileFor(name) : nullptr;
}

void AlarmEngine::Define(Terminal& terminal, std::shared_ptr<const TerminalProfile> profile) {
    const auto identity = [&terminal](AlarmSource source, std::string label, std::string text) {
        AlarmSnapshot alarm;
        alarm.name = terminal.name;
        alarm.slot = terminal.slot;
        alarm.source = source;
        alarm.label = std::move(label);
        alarm.text = std::move(text);
        return alarm;
    };
    for (std::size_t i = 0; i < kProfileChannels; ++i) {
        auto& watch = terminal.channels[i];
        const ChannelProfile* channel =
            profile && profile->channels[i] && profile->channels[i]->alarms.Any()
                ? &*profile->channels[i]
                : nullptr;
        if (watch && channel && watch->definition == channel->alarms &&
            watch->scaling == channel->scaling) {
            watch->point.Snapshot().label = channel->name;
            continue;
        }
        if (watch) {
            watch->point.Reset(pending_);
            watch.reset();
        }
        if (channel) {
            watch = std::make_unique<ChannelWatch>(ChannelWatch{
                channel->alarms,
                channel->scaling,
                AlarmPoint(identity({AlarmSource::Kind::Channel, static_cast<std::uint8_t>(i)},
                                    channel->name, {})),
                {},
                std::nullopt});
        }
    }
    for (std::size_t i = 0; i < kProfileSwitches; ++i) {
        auto& point = terminal.inputs[i];
        const SwitchProfile* input =
            profile && profile->inputs[i].alarm ? &profile->inputs[i] : nullptr;
        if (point && input && terminal.profile->inputs[i].alarm == input->alarm) {
            point->Snapshot().label = input->name;
            continue;
        }
        if (point) {
            point->Reset(pending_);
            point.reset();
        }
        if (input) {
            point = std::make_unique<AlarmPoint>(
                identity({AlarmSource::Kind::Input, static_cast<std::uint8_t>(i)}, input->name,
                         input->alarm->text));
        }
    }
    if (!profile && terminal.link) {
        terminal.link->Reset(pending_);
        terminal.link.reset();
        terminal.linkDown = false;
    } else if (profile && !terminal.link) {
        terminal.link = std::make_unique<AlarmPoint>(identity({}, {}, kLinkText));
    }
    terminal.profile = std::move(profile);
}

std::int64_t AlarmEngine::SilentAfterMs(const Terminal& terminal) const {
    if (terminal.profile->silentAfter) {
        return Ms(*terminal.profile->silentAfter);
    }
    return kSilentPolls * pollIntervalMs_ + kSilentMarginMs;
}

AlarmEngine::Terminal* AlarmEngine::Find(std::span<const std::uint8_t> name) const {
    const auto found =
        terminals_.find(std::string_view(reinterpret_cast<const char*>(name.data()), name.size()));
    return found == terminals_.end() ? nullptr : found->second.get();
}

AlarmPoint* AlarmEngine::FindPoint(std::span<const std::uint8_t> name, AlarmSource source) const {
    Terminal* terminal = Find(name);
    if (terminal == nullptr) {
        return nullptr;
    }
    switch (source.kind) {
        case AlarmSource::Kind::Channel:
            if (source.index < kProfileChannels && terminal->channels[source.index]) {
                return &terminal->channels[source.index]->point;
            }
            return nullptr;
        case AlarmSource::Kind::Input:
            return source.index < kProfileSwitches ? terminal->inputs[source.index].get() : nullptr;
        case AlarmSource::Kind::Link:
            break;
    }
    return terminal->link.get();
}

bool AlarmEngine::Acknowledge(std::span<const std::uint8_t> name, AlarmSource source,
                              const std::string& by) {
    AlarmPoint* point = FindPoint(name, source);
    const bool done = point != nullptr && point->Acknowledge(by, clock_.Now(), pending_);
    Flush();
    return done;
}

std::size_t AlarmEngine::AcknowledgeAll(const std::string& by) {
    const LocalDateTime now = clock_.Now();
    std::size_t count = 0;
    for (const AlarmSnapshot& alarm : Alarms()) {
        AlarmPoint* point = FindPoint(alarm.name, alarm.source);
        count +=
            point != nullptr && !alarm.shelved && point->Acknowledge(by, now, pending_) ? 1 : 0;
    }
    Flush();
    return count;
}

bool AlarmEngine::Shelve(std::span<const std::uint8_t> name, AlarmSource source) {
    AlarmPoint* point = FindPoint(name, source);
    const bool done = point != nullptr && point->Shelve(clock_.MonotonicMs(), pending_);
    Flush();
    return done;
}

std::vector<AlarmSnapshot> AlarmEngine::Alarms() const {
    std::vector<AlarmSnapshot> alarms;
    int slot = 0;
    const auto add = [&alarms, &slot](const AlarmPoint* point) {
        if (point != nullptr && point->Snapshot().state != AlarmState::Normal) {
            alarms.push_back(point->Snapshot());
            alarms.back().slot = slot;
        }
    };
    for (const auto& [key, terminal] : terminals_) {
        slot = terminal->slot;
        add(terminal->link.get());
        for (const auto& watch : terminal->channels) {
            add(watch ? &watch->point : nullptr);
        }
        for (const auto& point : terminal->inputs) {
            add(point.get());
        }
    }
    return alarms;
}

void AlarmEngine::Flush() {
    if (pending_.empty()) {
        return;
    }
    // A transition may lead a sink to act on the engine again; what it adds goes out next.
    std::vector<AlarmTransition> transitions;
    transitions.swap(pending_);
    const LocalDateTime now = clock_.Now();
    for (AlarmTransition& transition : transitions) {
        const Terminal* terminal = Find(transition.alarm.name);
        transition.alarm.slot = terminal != nullptr ? terminal->slot : transition.alarm.slot;
        out_(AlarmEvent(transition, now));
    }
}

AcquisitionEvent AlarmEvent(const AlarmTransition& transition, const LocalDateTime& time) {
    static constexpr std::array kKinds{EventKind::AlarmRaised, EventKind::AlarmAcknowledged,
                                       EventKind::AlarmCleared, EventKind::AlarmShelved,
                                       EventKind::AlarmUnshelved};
    AcquisitionEvent event;
    event.time = time;
    event.kind = kKinds.at(static_cast<std::size_t>(transition.change));
    event.slot = transition.alarm.slot;
    event.name = transition.alarm.name;
    event.detail = AlarmDetail(transition.alarm);
    if (transition.change == AlarmChange::Acknowledged) {
        event.detail += " 确认人 " + transition.alarm.ackedBy;
    }
    event.alarm = std::make_shared<const AlarmTransition>(transition);
    return event;
}

std::string ConditionText(const AlarmSnapshot& alarm) {
    if (alarm.condition.limitKind) {
        return std::string(LimitText(*alarm.condition.limitKind)) + " " +
               ValueText(alarm.condition.limit);
    }
    return alarm.text;
}

std::string AlarmValueText(const AlarmSnapshot& alarm) {
    return alarm.source.kind == AlarmSource::Kind::Link ? std::string() : ValueText(alarm.value);
}

std::string AlarmDetail(const AlarmSnapshot& alarm) {
    std::string detail = alarm.source.Id();
    for (const std::string& part : {alarm.label, ConditionText(alarm)}) {
        if (!part.empty()) {
            detail += " " + part;
        }
    }
    if (const std::string value = AlarmValueText(alarm); !value.empty()) {
        detail += " 值 " + value;
    }
    detail += std::string(" ") + PriorityText(alarm.condition.priority);
    if (alarm.chattering) {
        detail += " 频繁";
    }
    return detail;
}

}  // namespace corvelle
