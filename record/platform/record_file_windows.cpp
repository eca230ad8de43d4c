// The recording's files on Windows.
#include <windows.h>

#include <algorithm>
#include <array>
#include <utility>

#include "record/platform/record_file.h"

namespace corvelle {
namespace {

// The system's message for code in UTF-8, whatever the local code page.
std::string SystemText(DWORD code) {
    std::array<wchar_t, 512> text{};
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       text.data(), static_cast<DWORD>(text.size()), nullptr);
    if (length == 0) {
        return "Windows error " + std::to_string(code);
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(length),
                                          nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(length), utf8.data(), bytes,
                        nullptr, nullptr);
    while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ')) {
        utf8.pop_back();
    }
    return utf8;
}

FileError ErrorOf(DWORD code) {
    FileError error;
    switch (code) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            error.fault = FileFault::DiskFull;
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            error.fault = FileFault::NoPermission;
            break;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            error.fault = FileFault::NotFound;
            break;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            error.fault = FileFault::Busy;
            break;
        case ERROR_FILE_TOO_LARGE:
            error.fault = FileFault::TooLarge;
            break;
        case ERROR_DIRECTORY:
        case ERROR_ALREADY_EXISTS:
            error.fault = FileFault::WrongKind;
            break;
        default:
            error.fault = FileFault::Other;
    }
    error.systemText = SystemText(code);
    return error;
}

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        return std::nullopt;
    }
    return FileIdentity{
        info.dwVolumeSerialNumber,
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

class WindowsFile final : public AppendFile {
  public:
    WindowsFile(HANDLE handle, std::uint64_t size) : handle_(handle), size_(size) {}
    ~WindowsFile() override { CloseHandle(handle_); }
    WindowsFile(const WindowsFile&) = delete;
    WindowsFile& operator=(const WindowsFile&) = delete;

    std::uint64_t InitialSize() const override { return size_; }

    std::optional<FileError> Write(std::string_view bytes, std::size_t& written) override {
        written = 0;
        while (written < bytes.size()) {
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1U << 30));
            DWORD done = 0;
            if (!WriteFile(handle_, bytes.data() + written, chunk, &done, nullptr)) {
                return ErrorOf(GetLastError());
            }
            written += done;
        }
        return std::nullopt;
    }

    std::optional<FileError> Sync() override {
        if (!FlushFileBuffers(handle_)) {
            return ErrorOf(GetLastError());
        }
        return std::nullopt;
    }

    std::optional<FileIdentity> Identity() const override { return IdentityOfHandle(handle_); }

  private:
    HANDLE handle_;
    std::uint64_t size_;
};

class WindowsLock final : public FolderLock {
  public:
    explicit WindowsLock(HANDLE handle) : handle_(handle) {}
    ~WindowsLock() override { CloseHandle(handle_); }
    WindowsLock(const WindowsLock&) = delete;
    WindowsLock& operator=(const WindowsLock&) = delete;

  private:
    HANDLE handle_;
};

// The lock covers one byte far past the owner's text, so that others can still read the text.
constexpr DWORD kLockOffsetHigh = 1;

}  // namespace

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) {
    // No access rights are needed to ask which file it is; folders need the backup flag.
    const HANDLE handle =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    const auto identity = IdentityOfHandle(handle);
    CloseHandle(handle);
    return identity;
}

std::variant<std::unique_ptr<AppendFile>, FileError> AppendFile::Open(
    const std::filesystem::path& path) {
    // Others may read, and rename or delete it, as they may on Linux; the writer notices.
    const HANDLE handle = CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return ErrorOf(GetLastError());
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size)) {
        const DWORD code = GetLastError();
        CloseHandle(handle);
        return ErrorOf(code);
    }
    return std::make_unique<WindowsFile>(handle, static_cast<std::uint64_t>(size.QuadPart));
}

std::variant<std::unique_ptr<FolderLock>, FolderLock::Held, FileError> FolderLock::Acquire(
    const std::filesystem::path& folder, std::string_view owner) {
    const std::filesystem::path path = folder / std::filesystem::path(kFileName);
    const HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return ErrorOf(GetLastError());
    }
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD code = GetLastError();
        std::array<char, 256> text{};
        DWORD read = 0;
        ReadFile(handle, text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
        CloseHandle(handle);
        if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) {
            return ErrorOf(code);
        }
        return Held{std::string(text.data(), read)};
    }
    DWORD written = 0;
    if (!SetEndOfFile(handle) ||
        !WriteFile(handle, owner.data(), static_cast<DWORD>(owner.size()), &written, nullptr)) {
        const DWORD code = GetLastError();
        CloseHandle(handle);
        return ErrorOf(code);
    }
    return std::make_unique<WindowsLock>(handle);
}

FileError ErrorOf(const std::error_code& code) {
    if (code.category() == std::system_category()) {
        return ErrorOf(static_cast<DWORD>(code.value()));
    }
    // The C library's numbers, as std::filesystem reports some errors.
    const std::pair<std::errc, FileFault> kFaults[] = {
        {std::errc::no_space_on_device, FileFault::DiskFull},
        {std::errc::permission_denied, FileFault::NoPermission},
        {std::errc::operation_not_permitted, FileFault::NoPermission},
        {std::errc::read_only_file_system, FileFault::NoPermission},
        {std::errc::no_such_file_or_directory, FileFault::NotFound},
        {std::errc::file_too_large, FileFault::TooLarge},
        {std::errc::device_or_resource_busy, FileFault::Busy},
        {std::errc::is_a_directory, FileFault::WrongKind},
        {std::errc::not_a_directory, FileFault::WrongKind},
        {std::errc::file_exists, FileFault::WrongKind},
    };
    for (const auto& [errc, fault] : kFaults) {
        if (code == errc) {
            return {fault, std::make_error_code(errc).message(), {}};
        }
    }
    return {FileFault::Other, "error " + std::to_string(code.value()), {}};
}

LocalDateTime LocalNow() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    TIME_ZONE_INFORMATION zone{};
    const DWORD mode = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;
    if (mode == TIME_ZONE_ID_DAYLIGHT) {
        bias += zone.DaylightBias;
    } else if (mode == TIME_ZONE_ID_STANDARD) {
        bias += zone.StandardBias;
    }
    return {local.wYear,   local.wMonth,  local.wDay,          local.wHour,
            local.wMinute, local.wSecond, local.wMilliseconds, static_cast<int>(-bias * 60)};
}

void KeepRunningPastFileSizeLimits() {
    // Windows has no signal for it: a write past a limit just fails.
}

}  // namespace corvelle
