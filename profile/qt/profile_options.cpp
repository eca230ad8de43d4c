#include "profile/qt/profile_options.h"

namespace corvelle {
namespace {

const QString kConfig = QStringLiteral("config");

}  // namespace

void AddProfileOptions(QCommandLineParser& parser, const QString& configHelp) {
    parser.addOption({kConfig, configHelp, QStringLiteral("FILE")});
}

std::variant<ProfileOptions, QString> ReadProfileOptions(const QCommandLineParser& parser) {
    ProfileOptions options;
    if (parser.isSet(kConfig)) {
        options.file = parser.value(kConfig);
        if (options.file.trimmed().isEmpty()) {
            return QStringLiteral("--config: no file given");
        }
    }
    return options;
}

}  // namespace corvelle
