#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "device/acquisition_sink.h"
#include "device/page_ports.h"
#include "process/orderly_stop.h"
#include "record/csv_recorder.h"

namespace corvelle {

struct RecordingOptions {
    // Day files older than this many days are removed; 0 keeps everything.
    int keepDays = 0;
    // After a failure of the whole recording, try the same folder again this often; 0: never.
    int resumeAfterMs = 0;
};

// Why recording cannot start: what is wrong with the folder, or who else records there.
struct RecordingRefusal {
    FileError error;
    // Set when another program records into the folder: "corvelled 1234@host".
    std::optional<QString> heldBy;

    // "该文件夹正由另一个程序记录（corvelled 1234@host）", "磁盘已满：/data/rec", ...
    QString OperatorText() const;
    // The same for the service's log.
    QString LogText() const;
};

// Recording as the console and the service run it: a CsvRecorder that takes the readings and
// events of the connection server while it runs, names decoded as the tabs show them, one
// program at a time per folder, and what the writer says reported on this object's thread.
class Recording final : public QObject, public Drain {
    Q_OBJECT

  public:
    Recording(HostSinks& sinks, RecordingOptions options = {}, QObject* parent = nullptr);
    // Gives up on writers that have not finished; see Drain.
    ~Recording() override;
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // After a failure of the whole recording (with a resume period set), this timer's expiry
    // calls Resume. Set before recording starts; without it, a Qt timer does.
    void SetResumeTimer(OneShotTimer* timer) { resumeTimer_ = timer; }
    // For the recordings started from now on.
    void SetOptions(const RecordingOptions& options) { options_ = options; }

    // Starts recording into folder (created when missing), stopping a recording that runs.
    std::optional<RecordingRefusal> Start(const QString& folder);
    // Stops taking readings; what is queued is still written, in the background.
    void Stop();
    // Tries the folder of a recording that failed again.
    void Resume();
    bool IsRecording() const { return active_ != nullptr; }
    QString Folder() const { return folder_; }
    // Whether every recorder, the running one excepted, has written and closed its files.
    bool AllWritten() const;
    const CsvRecorder* Recorder() const { return active_.get(); }

    void BeginDrain() override;
    bool Drained() const override;
    std::string Abandon() override;

  signals:
    void stateChanged(bool recording, const QString& folder);
    // Writing failed: the whole recording stopped, or something could not be written as a
    // recording ended.
    void failed(const QString& operatorText, const QString& logText);
    // An event the writer wrote on its own account (already handed to the other sinks).
    void recorderEvent(const corvelle::AcquisitionEvent& event);

  private:
    void OnFailure(const CsvRecorder* recorder, const FileError& error, std::uint64_t dropped);
    void Retire();
    void ScheduleResume();

    HostSinks& sinks_;
    RecordingOptions options_;
    std::shared_ptr<const RecorderClock> clock_;
    std::unique_ptr<CsvRecorder> active_;
    // The locks of folders recorded into, by folder; each recorder of a folder holds its lock
    // until it has finished, so a restart into the same folder takes it over.
    std::map<QString, std::weak_ptr<const FolderLock>> locks_;
    // Stopped recorders still writing out their queues, with their folders.
    std::vector<std::pair<QString, std::unique_ptr<CsvRecorder>>> finishing_;
    QTimer reaper_;
    QTimer ownResumeTimer_;
    OneShotTimer* resumeTimer_ = nullptr;
    QString folder_;
    // Set after a failure, until recording starts again or is stopped.
    bool failedWhole_ = false;
};

// "corvelled 1234@host": this process, for the folder lock and the start mark.
QString ProcessOwnerText();

}  // namespace corvelle
