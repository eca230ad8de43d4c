#include "record/qt/recording.h"

#include <QPointer>
#include <algorithm>

#include "device/qt/device_name.h"

namespace corvelle {
namespace {

constexpr int kReapPeriodMs = 200;

std::string DecodedName(std::span<const std::uint8_t> raw) {
    return DeviceNameText(raw).toStdString();
}

}  // namespace

Recording::Recording(HostSinks& sinks, QObject* parent) : QObject(parent), sinks_(sinks) {
    reaper_.setInterval(kReapPeriodMs);
    connect(&reaper_, &QTimer::timeout, this, [this] {
        std::erase_if(finishing_, [](const auto& recorder) { return recorder->Finished(); });
        if (finishing_.empty()) {
            reaper_.stop();
        }
    });
}

Recording::~Recording() {
    if (active_) {
        sinks_.Remove(active_.get());
    }
}

std::optional<QString> Recording::Start(const QString& folder) {
    Stop();
    auto recorder = std::make_unique<CsvRecorder>(folder.toStdString(), DecodedName);
    const CsvRecorder* raw = recorder.get();
    recorder->SetFailureCallback([self = QPointer<Recording>(this), raw](const std::string& why) {
        const QString reason = QString::fromStdString(why);
        QMetaObject::invokeMethod(
            self, [self, raw, reason] { self->OnFailure(raw, reason); }, Qt::QueuedConnection);
    });
    if (const auto problem = recorder->Start()) {
        return QString::fromStdString(*problem);
    }
    active_ = std::move(recorder);
    folder_ = folder;
    sinks_.Add(active_.get());
    emit stateChanged(true, folder_);
    return std::nullopt;
}

void Recording::Stop() {
    if (!active_) {
        return;
    }
    active_->Stop();
    Retire();
    emit stateChanged(false, folder_);
}

bool Recording::AllWritten() const {
    return std::all_of(finishing_.begin(), finishing_.end(),
                       [](const auto& recorder) { return recorder->Finished(); });
}

void Recording::OnFailure(const CsvRecorder* recorder, const QString& reason) {
    if (active_.get() != recorder) {
        return;
    }
    Retire();
    emit stateChanged(false, folder_);
    emit failed(reason);
}

void Recording::Retire() {
    sinks_.Remove(active_.get());
    finishing_.push_back(std::move(active_));
    reaper_.start();
}

}  // namespace corvelle
