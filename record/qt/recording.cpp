#include "record/qt/recording.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSysInfo>
#include <algorithm>

#include "device/qt/device_name.h"
#include "record/utf8_path.h"

namespace corvelle {
namespace {

constexpr int kReapPeriodMs = 200;

std::string DecodedName(std::span<const std::uint8_t> raw) {
    return DeviceNameText(raw).toStdString();
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// The same folder however it was written.
QString FolderKey(const QString& folder) {
    const QFileInfo info(folder);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

QString Where(const FileError& error) {
    return error.path.empty() ? QString() : Text(error.path);
}

}  // namespace

QString ProcessOwnerText() {
    return QStringLiteral("%1 %2@%3")
        .arg(QCoreApplication::applicationName())
        .arg(QCoreApplication::applicationPid())
        .arg(QSysInfo::machineHostName());
}

QString RecordingRefusal::OperatorText() const {
    if (heldBy) {
        return QStringLiteral("该文件夹正由另一个程序记录（%1）").arg(*heldBy);
    }
    const QString where = Where(error);
    const QString what = Text(ChineseText(error));
    return where.isEmpty() ? what : what + QStringLiteral("：") + where;
}

QString RecordingRefusal::LogText() const {
    if (heldBy) {
        return QStringLiteral("another program records into the folder (%1)").arg(*heldBy);
    }
    const QString where = Where(error);
    const QString what = Text(EnglishText(error));
    return where.isEmpty() ? what : what + QStringLiteral(": ") + where;
}

Recording::Recording(HostSinks& sinks, RecordingOptions options, QObject* parent)
    : QObject(parent),
      sinks_(sinks),
      options_(options),
      clock_(std::make_shared<SystemRecorderClock>()) {
    reaper_.setInterval(kReapPeriodMs);
    connect(&reaper_, &QTimer::timeout, this, [this] {
        std::erase_if(finishing_, [](const auto& entry) { return entry.second->Finished(); });
        if (finishing_.empty()) {
            reaper_.stop();
        }
    });
    ownResumeTimer_.setSingleShot(true);
    connect(&ownResumeTimer_, &QTimer::timeout, this, &Recording::Resume);
}

Recording::~Recording() {
    if (active_) {
        sinks_.Remove(active_.get());
    }
}

std::optional<RecordingRefusal> Recording::Start(const QString& folder) {
    Stop();
    std::error_code ec;
    const auto root = Utf8Path(folder.toStdString());
    std::filesystem::create_directories(root, ec);
    if (ec) {
        FileError error = ErrorOf(ec);
        error.path = folder.toStdString();
        return RecordingRefusal{error, std::nullopt};
    }
    const QString key = FolderKey(folder);
    CsvRecorderOptions options;
    options.writer.program = (QCoreApplication::applicationName() + QLatin1Char(' ') +
                              QCoreApplication::applicationVersion())
                                 .toStdString();
    options.writer.keepDays = options_.keepDays;
    // A recorder of this process that still writes into the folder keeps the folder's lock, and
    // the new one writes only after it.
    std::shared_ptr<const FolderLock> lock = locks_[key].lock();
    if (lock) {
        const auto predecessor =
            std::find_if(finishing_.rbegin(), finishing_.rend(),
                         [&](const auto& entry) { return entry.first == key; });
        if (predecessor != finishing_.rend()) {
            options.predecessor = predecessor->second->FinishedFlag();
        }
    } else {
        auto acquired = FolderLock::Acquire(root, ProcessOwnerText().toStdString());
        if (auto* held = std::get_if<FolderLock::Held>(&acquired)) {
            return RecordingRefusal{
                {FileFault::Busy, {}, folder.toStdString()},
                QString::fromUtf8(held->owner.data(), static_cast<qsizetype>(held->owner.size()))
                    .trimmed()};
        }
        if (auto* error = std::get_if<FileError>(&acquired)) {
            error->path = folder.toStdString();
            return RecordingRefusal{*error, std::nullopt};
        }
        lock = std::get<std::unique_ptr<FolderLock>>(std::move(acquired));
        locks_[key] = lock;
    }
    std::erase_if(locks_, [](const auto& entry) { return entry.second.expired(); });
    options.keepAlive = lock;
    auto recorder = std::make_unique<CsvRecorder>(folder.toStdString(), DecodedName, clock_,
                                                  std::move(options));
    const CsvRecorder* raw = recorder.get();
    const QPointer<Recording> self(this);
    recorder->SetFailureCallback([self, raw](const FileError& error, std::uint64_t dropped) {
        QMetaObject::invokeMethod(
            self, [self, raw, error, dropped] { self->OnFailure(raw, error, dropped); },
            Qt::QueuedConnection);
    });
    recorder->SetNewsCallback([self, raw](const AcquisitionEvent& event) {
        QMetaObject::invokeMethod(
            self,
            [self, raw, event] {
                self->sinks_.OnEventFrom(event, raw);
                emit self->recorderEvent(event);
            },
            Qt::QueuedConnection);
    });
    if (auto problem = recorder->Start()) {
        return RecordingRefusal{*problem, std::nullopt};
    }
    active_ = std::move(recorder);
    folder_ = folder;
    failedWhole_ = false;
    sinks_.Add(active_.get());
    emit stateChanged(true, folder_);
    return std::nullopt;
}

void Recording::Stop() {
    failedWhole_ = false;
    ownResumeTimer_.stop();
    if (resumeTimer_ != nullptr) {
        resumeTimer_->Stop();
    }
    if (!active_) {
        return;
    }
    active_->Stop();
    Retire();
    emit stateChanged(false, folder_);
}

void Recording::Resume() {
    if (!failedWhole_ || active_) {
        return;
    }
    if (Start(folder_)) {
        ScheduleResume();
    }
}

void Recording::ScheduleResume() {
    failedWhole_ = true;
    if (resumeTimer_ != nullptr) {
        resumeTimer_->Start(static_cast<std::uint32_t>(options_.resumeAfterMs));
    } else {
        ownResumeTimer_.start(options_.resumeAfterMs);
    }
}

bool Recording::AllWritten() const {
    return std::all_of(finishing_.begin(), finishing_.end(),
                       [](const auto& entry) { return entry.second->Finished(); });
}

void Recording::BeginDrain() {
    Stop();
}

bool Recording::Drained() const {
    return !active_ && AllWritten();
}

std::string Recording::Abandon() {
    std::uint64_t unwritten = 0;
    for (const auto& [folder, recorder] : finishing_) {
        if (!recorder->Finished()) {
            unwritten += recorder->Unwritten();
        }
    }
    const bool stuck = !AllWritten();
    finishing_.clear();
    reaper_.stop();
    if (!stuck) {
        return {};
    }
    return std::to_string(unwritten) + (unwritten == 1 ? " row" : " rows");
}

void Recording::OnFailure(const CsvRecorder* recorder, const FileError& error,
                          std::uint64_t dropped) {
    const RecordingRefusal problem{error, std::nullopt};
    if (active_.get() == recorder) {
        Retire();
        emit stateChanged(false, folder_);
        if (options_.resumeAfterMs > 0) {
            ScheduleResume();
        }
    }
    emit failed(problem.OperatorText(),
                dropped == 0
                    ? problem.LogText()
                    : problem.LogText() + QStringLiteral(" (%1 rows dropped)").arg(dropped));
}

void Recording::Retire() {
    sinks_.Remove(active_.get());
    finishing_.emplace_back(FolderKey(folder_), std::move(active_));
    reaper_.start();
}

}  // namespace corvelle

#include "moc_recording.cpp"  // NOLINT(bugprone-suspicious-include): moc output
