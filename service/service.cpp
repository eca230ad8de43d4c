#include "service/service.h"

#include <utility>

namespace corvelle {

Service::Service(ServiceOptions options)
    : options_(std::move(options)),
      tables_(options_.slotCount),
      log_(stderr, options_.verbosity, tables_),
      view_(tables_,
            [this](std::string_view message) {
                // Until listening starts, Start reports the problem itself.
                if (started_) {
                    log_.Error(
                        QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())));
                }
            }),
      server_(tables_, view_),
      sinks_(server_.Host()),
      recording_(sinks_) {
    tables_.acquisitionIntervalMs = options_.intervalMs;
    QObject::connect(&recording_, &Recording::failed, &recording_, [this](const QString& reason) {
        log_.Error(QStringLiteral("recording stopped: %1").arg(reason));
    });
    stopWait_.setInterval(20);
    QObject::connect(&stopWait_, &QTimer::timeout, &stopWait_, [this] {
        if (recording_.AllWritten() || stopClock_.elapsed() >= kStopWaitMs) {
            stopWait_.stop();
            if (!recording_.AllWritten()) {
                log_.Error(QStringLiteral("recording not completely written"));
            }
            done_();
        }
    });
}

Service::~Service() = default;

std::optional<QString> Service::Start() {
    DeviceTabHost& host = server_.Host();
    view_.SetSender(host);
    host.Initialise();
    sinks_.Add(&log_);
    if (!options_.recordFolder.isEmpty()) {
        if (const auto problem = recording_.Start(options_.recordFolder)) {
            return QStringLiteral("cannot record into %1: %2").arg(options_.recordFolder, *problem);
        }
    }
    if (options_.verbosity == Verbosity::Verbose) {
        host.SetFrameTap(&log_);
    }
    server_.Apply(options_.limits);
    server_.ListenSocket().SetAddress(options_.listen);
    host.ToggleListening(options_.port);
    if (!host.IsListening()) {
        return QStringLiteral("cannot listen on %1 port %2: %3")
            .arg(options_.listen.toString())
            .arg(options_.port)
            .arg(server_.ListenSocket().ErrorString());
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
                         [this](const QString& line) { log_.Info(line); });
        publishing_->Start();
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

void Service::Stop(std::function<void()> done) {
    DeviceTabHost& host = server_.Host();
    if (host.IsListening()) {
        host.ToggleListening(options_.port);
        log_.Info(QStringLiteral("stopped listening; every connection closed"));
    }
    recording_.Stop();
    if (publishing_) {
        publishing_->Stop();
    }
    done_ = std::move(done);
    stopClock_.start();
    stopWait_.start();
}

}  // namespace corvelle
