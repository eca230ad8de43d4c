#pragma once

#include <QApplication>

namespace corvelle {

struct HistoryOptions;

// The application: prepares fonts and networking, then runs the main window.
class CAcqApp final : public QApplication {
    Q_OBJECT

  public:
    CAcqApp(int& argc, char** argv);
    // Returns the process exit code once the main window has closed.
    int InitInstance();

  private:
    // The history window alone, without the main window or a server; ends when it closes.
    int RunHistoryOnly(const HistoryOptions& options);
};

}  // namespace corvelle
