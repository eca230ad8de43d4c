#include "app/acq_app.h"

#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QTcpServer>

#include "app/main_dlg.h"
#include "device/qt/device_name.h"
#include "res/resources.h"

namespace corvelle {
namespace {

bool NetworkingAvailable() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ||
           probe.serverError() != QAbstractSocket::UnsupportedSocketOperationError;
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
}

int CAcqApp::InitInstance() {
    if (!NetworkingAvailable()) {
        QMessageBox box(QMessageBox::NoIcon, applicationName(),
                        QStringLiteral("Windows 通信端口初始化失败。"), QMessageBox::Ok);
        box.exec();
        return 1;
    }
    CMainDlg mainWindow;
    mainWindow.show();
    return exec();
}

}  // namespace corvelle
