#include "app/acq_app.h"

#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QTcpServer>
#include <cstdio>
#include <variant>

#include "app/console_options.h"
#include "app/main_dlg.h"
#include "device/qt/device_name.h"
#include "history/ui/history_window.h"
#include "process/signals.h"
#include "record/platform/record_file.h"
#include "res/resources.h"
#include "settings/ui/settings_dlg.h"

namespace corvelle {
namespace {

bool NetworkingAvailable() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ||
           probe.serverError() != QAbstractSocket::UnsupportedSocketOperationError;
}

void Print(std::FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

}  // namespace

CAcqApp::CAcqApp(int& argc, char** argv) : QApplication(argc, argv) {
    // Message box captions carry the program's title: the program file's base name.
    setApplicationName(QFileInfo(applicationFilePath()).completeBaseName());
    setApplicationVersion(QStringLiteral(CORVELLE_VERSION));
    setWindowIcon(QIcon(QString::fromLatin1(res::kAppIcon)));
    setFont(res::DialogFont());
    // Checked at start, so that a missing decoder is reported once, before any name arrives.
    NameDecoderAvailable();
    KeepRunningPastFileSizeLimits();
}

int CAcqApp::RunHistoryOnly(const HistoryOptions& options) {
    auto* window = new HistoryWindow(options.folder);
    const bool found = options.terminal.isEmpty() || window->SelectTerminal(options.terminal);
    if (!found) {
        Print(stderr, QStringLiteral("%1: --terminal: no terminal named %2 in %3\n")
                          .arg(applicationName(), options.terminal, options.folder));
    }
    const QDate today = QDate::currentDate();
    window->SetDates(options.from.value_or(options.to.value_or(today)),
                     options.to.value_or(options.from.value_or(today)));
    window->show();
    if (options.Complete() && found) {
        window->Load();
    }
    return exec();
}

int CAcqApp::InitInstance() {
    auto parsed = ParseConsoleOptions(arguments());
    if (const auto* print = std::get_if<PrintAndExit>(&parsed)) {
        Print(stdout, print->text);
        return 0;
    }
    if (const auto* bad = std::get_if<BadOptions>(&parsed)) {
        Print(stderr, QStringLiteral("%1: %2\n").arg(applicationName(), bad->problem));
        return 2;
    }
    const auto& options = std::get<ConsoleOptions>(parsed);
    if (options.history) {
        return RunHistoryOnly(*options.history);
    }

    if (!NetworkingAvailable()) {
        QMessageBox box(QMessageBox::NoIcon, applicationName(),
                        QStringLiteral("Windows 通信端口初始化失败。"), QMessageBox::Ok);
        box.exec();
        return 1;
    }
    // The window's close starts an orderly stop, which ends the program when it is done.
    setQuitOnLastWindowClosed(false);
    CMainDlg mainWindow;
    connect(&mainWindow, &CMainDlg::stopped, this, [](int status) {
        QuitFinished();
        QCoreApplication::exit(status);
    });
    // Signals, and on Windows the end of the session, close it like its close box.
    HandleSignals({.quit = [&mainWindow] { mainWindow.close(); }, .reload = {}});
    connect(this, &QGuiApplication::commitDataRequest, &mainWindow, &QWidget::close);
    mainWindow.TabHost().Server().Apply(options.limits);
    mainWindow.Recorder().SetOptions({.keepDays = options.record.keepDays, .resumeAfterMs = 0});
    mainWindow.show();
    mainWindow.UseProfiles(options.profiles.file);
    if (options.mqtt.enabled) {
        mainWindow.StartPublishing(options.mqtt);
    }
    if (!options.record.folder.isEmpty()) {
        if (const auto refusal = mainWindow.Recorder().Start(options.record.folder)) {
            // The console runs on without recording.
            Print(stderr, QStringLiteral("%1: recording not started: %2\n")
                              .arg(applicationName(), refusal->LogText()));
            mainWindow.Settings().OnRecordingFailed(refusal->OperatorText());
        }
    }
    return exec();
}

}  // namespace corvelle

#include "moc_acq_app.cpp"  // NOLINT(bugprone-suspicious-include): moc output
