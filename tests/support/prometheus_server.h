#pragma once

#include <QtCore/qtestsupport_core.h>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrlQuery>
#include <optional>

namespace corvelle::test {

// Debian's prometheus on a loopback port, scraping one target every second, with its storage in
// a temporary folder; asked through its HTTP API.
class PrometheusServer {
  public:
    PrometheusServer(quint16 port, quint16 targetPort) : port_(port), targetPort_(targetPort) {}
    ~PrometheusServer() {
        process_.terminate();
        process_.waitForFinished(5000);
    }
    PrometheusServer(const PrometheusServer&) = delete;
    PrometheusServer& operator=(const PrometheusServer&) = delete;

    // Whether it answers its readiness check within 20 s.
    bool Start() {
        const QString config = dir_.filePath(QStringLiteral("prometheus.yml"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) {
            return false;
        }
        file.write(QStringLiteral("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                                  "scrape_configs:\n  - job_name: corvelled\n"
                                  "    static_configs:\n      - targets: ['127.0.0.1:%1']\n")
                       .arg(targetPort_)
                       .toUtf8());
        file.close();
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(dir_.filePath(QStringLiteral("log")));
        process_.start(
            QStringLiteral("/usr/bin/prometheus"),
            {QStringLiteral("--config.file=") + config,
             QStringLiteral("--storage.tsdb.path=") + dir_.filePath(QStringLiteral("data")),
             QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port_)});
        return QTest::qWaitFor([this] { return Get(QStringLiteral("/-/ready")).has_value(); },
                               20000);
    }

    // The value of an instant query with one result; nothing when there is none (yet).
    std::optional<double> Value(const QString& query) {
        QUrlQuery parameters;
        parameters.addQueryItem(QStringLiteral("query"), query);
        const auto body =
            Get(QStringLiteral("/api/v1/query?") + parameters.toString(QUrl::FullyEncoded));
        if (!body) {
            return std::nullopt;
        }
        const QJsonArray result = QJsonDocument::fromJson(*body)
                                      .object()[QStringLiteral("data")][QStringLiteral("result")]
                                      .toArray();
        if (result.size() != 1) {
            return std::nullopt;
        }
        return result.first()[QStringLiteral("value")].toArray().at(1).toString().toDouble();
    }

    // Waits up to 15 s, as scrapes come once a second, for the query to give expected.
    bool WaitFor(const QString& query, double expected) {
        return QTest::qWaitFor([&] { return Value(query) == expected; }, 15000);
    }

  private:
    std::optional<QByteArray> Get(const QString& pathAndQuery) {
        QNetworkRequest request(
            QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(pathAndQuery)));
        request.setTransferTimeout(2000);
        QNetworkReply* reply = network_.get(request);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) {
            return std::nullopt;
        }
        return reply->readAll();
    }

    QTemporaryDir dir_;
    quint16 port_;
    quint16 targetPort_;
    QProcess process_;
    QNetworkAccessManager network_;
};

}  // namespace corvelle::test
