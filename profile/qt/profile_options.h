#pragma once

#include <QCommandLineParser>
#include <QString>
#include <variant>

namespace corvelle {

struct ProfileOptions {
    // --config FILE; empty when not given.
    QString file;
};

void AddProfileOptions(QCommandLineParser& parser, const QString& configHelp);
// The options, or what is wrong with them.
std::variant<ProfileOptions, QString> ReadProfileOptions(const QCommandLineParser& parser);

}  // namespace corvelle
