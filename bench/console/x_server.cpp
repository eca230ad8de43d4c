#include "bench/console/x_server.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStringList>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "bench/console/harness.h"

namespace corvelle::bench {
namespace {

constexpr const char* kPidVariable = "CORVELLE_BENCH_X_SERVER_PID";

// "key=value" pairs of a summary line, in their order.
std::vector<std::pair<std::string, std::string>> Figures(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> figures;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos) {
            figures.emplace_back(word.substr(0, equals), word.substr(equals + 1));
        }
    }
    return figures;
}

void Print(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

}  // namespace

bool RunningOnX() {
    return qEnvironmentVariableIsSet(kPidVariable);
}

double XServerCpuSeconds() {
    const QByteArray pid = qgetenv(kPidVariable);
    if (pid.isEmpty()) {
        return 0;
    }
    std::ifstream file("/proc/" + pid.toStdString() + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The fields after the command name, which ends with the last ')': state first, then
    // utime and stime as the 12th and 13th.
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string field;
    double ticks = 0;
    for (int i = 0; i < 13 && fields >> field; ++i) {
        ticks += i >= 11 ? std::stod(field) : 0;
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int RunAgainOnX(int argc, char** argv, const std::string& scenario,
                const std::string& offscreenFigures) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) {
        std::printf("\nXvfb is not installed: no run under X\n");
        return 0;
    }
    // Xvfb takes the first free display and writes its number to the descriptor named.
    QProcess server;
    server.start(xvfb,
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QString::fromLatin1(kXScreen), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp")});
    if (!server.waitForStarted() || !server.waitForReadyRead(10000)) {
        std::printf("\nXvfb did not start: no run under X\n");
        return 1;
    }
    const QString display = QStringLiteral(":") + QString::fromLatin1(server.readLine().trimmed());

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QString::fromLatin1(kPidVariable), QString::number(server.processId()));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    std::printf("\n==== %s again under X (Xvfb %s, %s)\n", scenario.c_str(),
                display.toLocal8Bit().constData(), kXScreen);
    std::fflush(stdout);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    QByteArray output;
    while (child.state() != QProcess::NotRunning) {
        child.waitForReadyRead(1000);
        const QByteArray bytes = child.readAllStandardOutput();
        Print(bytes);
        output += bytes;
    }
    const QByteArray rest = child.readAllStandardOutput();
    Print(rest);
    output += rest;
    server.terminate();
    server.waitForFinished(3000);

    std::string xFigures;
    const qsizetype summary = output.lastIndexOf("\n== ");
    if (summary >= 0) {
        const QByteArray line = output.mid(summary + 1).split('\n').front();
        const qsizetype figures = line.indexOf("  ");
        xFigures = figures >= 0 ? line.mid(figures + 2).toStdString() : std::string();
    }
    std::map<std::string, std::string> onX;
    for (const auto& [key, value] : Figures(xFigures)) {
        onX[key] = value;
    }
    Table table("Offscreen and under X: " + scenario, {"figure", "offscreen", "X"});
    for (const auto& [key, value] : Figures(offscreenFigures)) {
        table.Row({key, value, onX.count(key) > 0 ? onX[key] : "-"});
        onX.erase(key);
    }
    for (const auto& [key, value] : onX) {
        table.Row({key, "-", value});
    }
    const bool finished = child.exitStatus() == QProcess::NormalExit;
    return finished ? child.exitCode() : 1;
}

}  // namespace corvelle::bench
