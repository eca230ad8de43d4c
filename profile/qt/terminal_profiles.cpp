#include "profile/qt/terminal_profiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <utility>

#include "device/qt/device_name.h"

namespace corvelle {

QString TerminalProfiles::DefaultFile() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
        .filePath(QStringLiteral("terminals.toml"));
}

std::optional<ProfileError> TerminalProfiles::Load(const QString& file) {
    file_ = file;
    auto read = ReadProfileFile(QFileInfo(file).filesystemAbsoluteFilePath());
    if (auto* error = std::get_if<ProfileError>(&read)) {
        broken_ = true;
        return std::move(*error);
    }
    broken_ = false;
    Replace(std::move(std::get<ProfileSet>(read)));
    return std::nullopt;
}

std::optional<QString> TerminalProfiles::Save(const TerminalProfile& profile) {
    if (broken_) {
        return QStringLiteral("配置文件有误，未保存");
    }
    ProfileSet profiles = *profiles_;
    profiles.terminals[profile.terminal] = std::make_shared<const TerminalProfile>(profile);
    const std::string text = FormatProfiles(profiles);
    if (!QDir().mkpath(QFileInfo(file_).absolutePath())) {
        return QStringLiteral("无法创建文件夹 %1").arg(QFileInfo(file_).absolutePath());
    }
    QSaveFile out(file_);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !out.commit()) {
        return out.errorString();
    }
    Replace(std::move(profiles));
    return std::nullopt;
}

void TerminalProfiles::Replace(ProfileSet profiles) {
    profiles_ = std::make_shared<const ProfileSet>(std::move(profiles));
    inUse_ = true;
    if (onChanged_) {
        onChanged_();
    }
}

std::shared_ptr<const TerminalProfile> TerminalProfiles::ProfileFor(
    std::span<const std::uint8_t> name) const {
    if (profiles_->terminals.empty()) {
        return nullptr;
    }
    const QString text = DeviceNameText(name);
    if (text.contains(QChar::ReplacementCharacter)) {
        return nullptr;
    }
    return profiles_->Find(text.toStdString());
}

}  // namespace corvelle
