#include "service/service.h"

#include "process/descriptor_limit.h"
#include "service/platform/supervisor.h"

#include <utility>

namespace corvelle {

namespace {

// After a failure of the whole recording the service tries the folder again this often.
constexpr int kRecordingResumeMs = 30000;
// Descriptors besides connections and day files: the listening sockets, the broker's, the
// log, Qt's and the system's own.
constexpr std::uint64_t kDescriptorMargin = 64;

}  // namespace

Service::Service(ServiceOptions options)
    : options_(std::move(options)),
      tables_(options_.slotCount),
      log_(stderr, options_.verbosity, tables_, StandardErrorIsJournal()),
      view_(tables_,
            [this](std::string_view message) {
                // Until listening starts, Start reports the problem itself.
                if (started_) {
                    log_.Error(
                        QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())));
                }
            }),
      server_(tables_, view_),
      sinks_([this](AcquisitionSink* sink) { server_.Host().SetSink(sink); }),
      alarms_(sinks_),
      recording_(sinks_,
                 {.keepDays = options_.recordKeepDays, .resumeAfterMs = kRecordingResumeMs}) {
    tables_.acquisitionIntervalMs = options_.intervalMs;
    alarms_.SetPollInterval(options_.intervalMs);
    QObject::connect(&recording_, &Recording::failed, &recording_,
                     [this](const QString&, const QString& logText) {
                         lostAtStop_ = lostAtStop_ || stopping_;
                         log_.Error(QStringLiteral("recording: %1").arg(logText));
                     });
    QObject::connect(&recording_, &Recording::stateChanged, &recording_,
                     [this](bool recording, const QString& folder) {
                         if (recording && started_) {
                             log_.Info(QStringLiteral("recording again into %1").arg(folder));
                         }
                     });
}

Service::~Service() = default;

std::optional<Service::StartFailure> Service::Start() {
    if (auto problem = CheckDescriptors()) {
        return problem;
    }
    DeviceTabHost& host = server_.Host();
    view_.SetSender(host);
    host.Initialise();
    if (!options_.configFile.isEmpty()) {
        if (const auto error = profiles_.Load(options_.configFile)) {
            return StartFailure{QString::fromStdString(error->EnglishText()), kExitBadOptions};
        }
        host.SetProfiles(&profiles_);
        log_.SetProfiles(&profiles_);
        alarms_.SetProfiles(&profiles_);
        log_.Info(QStringLiteral("terminal profiles from %1: %2")
                      .arg(options_.configFile)
                      .arg(profiles_.Profiles().terminals.size()));
    }
    sinks_.Add(&log_);
    if (!options_.recordFolder.isEmpty()) {
        if (const auto refusal = recording_.Start(options_.recordFolder)) {
            return StartFailure{QStringLiteral("cannot record into %1: %2")
                                    .arg(options_.recordFolder, refusal->LogText()),
                                refusal->heldBy ? kExitHeldElsewhere : kExitBadOptions};
        }
    }
    if (options_.verbosity == Verbosity::Verbose) {
        host.SetFrameTap(&log_);
    }
    server_.Apply(options_.limits);
    server_.ListenSocket().SetAddress(options_.listen);
    host.ToggleListening(options_.port);
    if (!host.IsListening()) {
        return StartFailure{QStringLiteral("cannot listen on %1 port %2: %3")
                                .arg(options_.listen.toString())
                                .arg(options_.port)
                                .arg(server_.ListenSocket().ErrorString()),
                            kExitHeldElsewhere};
    }
    started_ = true;
    if (options_.mqtt.enabled) {
        publishing_ = std::make_unique<Publishing>(options_.mqtt, sinks_, host);
        QObject::connect(publishing_.get(), &Publishing::stateChanged, publishing_.get(),
                         [this](const QString& message, bool problem) {
                             if (problem) {
                                 log_.Error(message);
                             } else {
                                 log_.Info(message);
                             }
                         });
        QObject::connect(publishing_.get(), &Publishing::logLine, publishing_.get(),
                         [this](const QString& line) { log_.Warning(line); });
        publishing_->SetAlarmAcknowledge(
            [this](std::span<const std::uint8_t> name, AlarmSource source, const std::string& by) {
                return alarms_.Engine().Acknowledge(name, source, by);
            });
        publishing_->Start();
    }
    if (!options_.metricsAddress.empty()) {
        metrics_ = std::make_unique<MetricsEndpoint>(tables_, host, recording_, alarms_.Engine(),
                                                     [this] { return publishing_.get(); });
        if (const auto problem = metrics_->Start(options_.metricsAddress)) {
            return StartFailure{QStringLiteral("cannot serve metrics on %1: %2")
                                    .arg(QString::fromStdString(options_.metricsAddress), *problem),
                                kExitHeldElsewhere};
        }
        log_.Info(QStringLiteral("serving metrics at http://%1/metrics")
                      .arg(QString::fromStdString(options_.metricsAddress)));
    }
    log_.Info(QStringLiteral("listening on %1 port %2 with %3 slots, polling every %4 ms")
                  .arg(options_.listen == QHostAddress(QHostAddress::Any)
                           ? QStringLiteral("all interfaces (IPv4 and IPv6)")
                           : options_.listen.toString())
                  .arg(options_.port)
                  .arg(options_.slotCount)
                  .arg(options_.intervalMs));
    return std::nullopt;
}

void Service::Stop(std::function<void(int)> done) {
    if (stopping_) {
        return;
    }
    stopping_ = true;
    DeviceTabHost& host = server_.Host();
    if (host.IsListening()) {
        // Every terminal's detach reaches the recording and the publishing before they end.
        host.ToggleListening(options_.port);
        log_.Info(QStringLiteral("stopped listening; every connection closed"));
    }
    std::vector<Drain*> drains{&recording_};
    if (publishing_) {
        drains.push_back(publishing_.get());
    }
    stop_.Run(std::move(drains), [this,
                                  done = std::move(done)](const std::vector<std::string>& left) {
        for (const std::string& what : left) {
            log_.Error(QStringLiteral("not written at stop: %1").arg(QString::fromStdString(what)));
        }
        done(left.empty() && !lostAtStop_ ? kExitClean : kExitUnwritten);
    });
}

std::optional<Service::StartFailure> Service::CheckDescriptors() const {
    const auto limit = RaiseDescriptorLimit();
    if (!limit) {
        return std::nullopt;
    }
    const std::uint64_t slotCount = options_.slotCount;
    const std::uint64_t waiting = options_.limits.limits.maxUnregistered.value_or(0);
    // A day file per terminal, the events file and the folder's lock.
    const std::uint64_t files = options_.recordFolder.isEmpty() ? 0 : slotCount + 2;
    const std::uint64_t needed = slotCount + waiting + files + kDescriptorMargin;
    if (needed <= *limit) {
        return std::nullopt;
    }
    return StartFailure{
        QStringLiteral("needs %1 file descriptors (%2 slots, %3 waiting connections, %4 recording "
                       "files and %5 for the rest) but may open %6; raise the limit "
                       "(LimitNOFILE in the unit) or lower --slots or --max-unregistered")
            .arg(needed)
            .arg(slotCount)
            .arg(waiting)
            .arg(files)
            .arg(kDescriptorMargin)
            .arg(*limit),
        kExitBadOptions};
}

void Service::Reload() {
    if (options_.configFile.isEmpty()) {
        log_.Info(QStringLiteral("SIGHUP: there is no configuration to reload"));
        return;
    }
    if (const auto error = profiles_.Load(options_.configFile)) {
        log_.Error(
            QStringLiteral("SIGHUP: terminal profiles not reloaded, the ones in use stay: %1")
                .arg(QString::fromStdString(error->EnglishText())));
        return;
    }
    server_.Host().SetProfiles(&profiles_);
    alarms_.SetProfiles(&profiles_);
    log_.Info(QStringLiteral("SIGHUP: terminal profiles reloaded from %1: %2")
                  .arg(options_.configFile)
                  .arg(profiles_.Profiles().terminals.size()));
}

}  // namespace corvelle
