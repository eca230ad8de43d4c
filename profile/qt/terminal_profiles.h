#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "profile/profile.h"
#include "profile/profile_file.h"

namespace corvelle {

// The profiles a console or service uses: the file they come from, what was read from it, and
// a terminal's profile found by its decoded name. Without a file it holds none and finds none.
class TerminalProfiles final : public ProfileLookup {
  public:
    // The console's own file when no other is named: terminals.toml in the per-user
    // configuration folder.
    static QString DefaultFile();

    // Where saves go; nothing is read.
    void SetFile(const QString& file) { file_ = file; }
    const QString& File() const { return file_; }

    // Reads the file. On a fault nothing of it is applied: the profiles held stay as they were,
    // and saving is refused until a read succeeds, so a broken file is never overwritten.
    std::optional<ProfileError> Load(const QString& file);

    // Makes profile its terminal's (replacing what it had) and rewrites the whole file through a
    // temporary file renamed over it. Returns what went wrong, in the operator's words; nothing
    // changes then.
    std::optional<QString> Save(const TerminalProfile& profile);
    bool CanSave() const { return !broken_; }

    // A file was read or saved: alarms and lists that exist only with profiles show.
    bool InUse() const { return inUse_; }
    const ProfileSet& Profiles() const { return *profiles_; }
    // Called after every change of the profiles held (a load or a save).
    void SetOnChanged(std::function<void()> onChanged) { onChanged_ = std::move(onChanged); }

    // The decoded name's profile; a name that does not decode cleanly has none.
    std::shared_ptr<const TerminalProfile> ProfileFor(
        std::span<const std::uint8_t> name) const override;

  private:
    void Replace(ProfileSet profiles);

    QString file_;
    std::shared_ptr<const ProfileSet> profiles_ = std::make_shared<ProfileSet>();
    bool broken_ = false;
    bool inUse_ = false;
    std::function<void()> onChanged_;
};

}  // namespace corvelle
