#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

#include "record/csv_recorder.h"
#include "server/device_tab_host.h"

namespace corvelle {

// Recording as the console and the service run it: a CsvRecorder that takes the readings and
// events of the connection server while it runs, names decoded as the tabs show them, and a
// failure on the writer thread reported on this object's thread.
class Recording final : public QObject {
    Q_OBJECT

  public:
    explicit Recording(HostSinks& sinks, QObject* parent = nullptr);
    // Stops recording and waits until everything queued is written.
    ~Recording() override;
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Starts recording into folder (created when missing), stopping a recording that runs; the
    // reason for the operator when it cannot start.
    std::optional<QString> Start(const QString& folder);
    // Stops taking readings; what is queued is still written, in the background.
    void Stop();
    bool IsRecording() const { return active_ != nullptr; }
    QString Folder() const { return folder_; }
    // Whether every recorder, the running one excepted, has written and closed its files.
    bool AllWritten() const;
    const CsvRecorder* Recorder() const { return active_.get(); }

  signals:
    void stateChanged(bool recording, const QString& folder);
    // Recording stopped because writing failed; reason says why.
    void failed(const QString& reason);

  private:
    void OnFailure(const CsvRecorder* recorder, const QString& reason);
    void Retire();

    HostSinks& sinks_;
    std::unique_ptr<CsvRecorder> active_;
    // Stopped recorders still writing out their queues.
    std::vector<std::unique_ptr<CsvRecorder>> finishing_;
    QTimer reaper_;
    QString folder_;
};

}  // namespace corvelle
