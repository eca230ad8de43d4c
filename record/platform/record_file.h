#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>

#include "device/file_fault.h"
#include "device/page_ports.h"

namespace corvelle {

// Which file a path or an open file is: device and inode, or volume and file index on Windows.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// What a path names now, following symbolic links; nothing when it names nothing.
std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);

// One file opened for appending, unbuffered: the caller collects what it writes.
class AppendFile {
  public:
    // Opens path for appending, creating it when missing.
    static std::variant<std::unique_ptr<AppendFile>, FileError> Open(
        const std::filesystem::path& path);
    virtual ~AppendFile() = default;

    // Size at the time it was opened.
    virtual std::uint64_t InitialSize() const = 0;
    // written: how much of bytes is in the file, also when an error comes back.
    virtual std::optional<FileError> Write(std::string_view bytes, std::size_t& written) = 0;
    // To the disk itself, not only the system's cache.
    virtual std::optional<FileError> Sync() = 0;
    virtual std::optional<FileIdentity> Identity() const = 0;
};

// The one process that records into a folder holds this for as long as it writes there. The
// system drops it with the process, so a crash never leaves it stuck.
class FolderLock {
  public:
    // The lock file's name in the folder.
    static constexpr std::string_view kFileName = ".corvelle-lock";

    // owner says who holds it ("corvelled 1234@host"). When another holds it: what it wrote.
    struct Held {
        std::string owner;
    };
    static std::variant<std::unique_ptr<FolderLock>, Held, FileError> Acquire(
        const std::filesystem::path& folder, std::string_view owner);
    virtual ~FolderLock() = default;
};

// A std::filesystem error in the same terms, its system text in UTF-8.
FileError ErrorOf(const std::error_code& code);

// The local date and time now.
LocalDateTime LocalNow();

// Makes a write past a file size limit fail with an error instead of ending the process.
void KeepRunningPastFileSizeLimits();

}  // namespace corvelle
