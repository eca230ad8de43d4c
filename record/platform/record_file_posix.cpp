// The recording's files on POSIX systems.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include "record/platform/record_file.h"

namespace corvelle {
namespace {

FileError ErrorOf(int code) {
    FileError error;
    switch (code) {
        case ENOSPC:
        case EDQUOT:
            error.fault = FileFault::DiskFull;
            break;
        case EACCES:
        case EPERM:
        case EROFS:
            error.fault = FileFault::NoPermission;
            break;
        case ENOENT:
            error.fault = FileFault::NotFound;
            break;
        case ETXTBSY:
        case EBUSY:
            error.fault = FileFault::Busy;
            break;
        case EFBIG:
            error.fault = FileFault::TooLarge;
            break;
        case EISDIR:
        case ENOTDIR:
        case EEXIST:
            error.fault = FileFault::WrongKind;
            break;
        default:
            error.fault = FileFault::Other;
    }
    std::array<char, 256> text{};
    // The GNU variant returns its text, which need not be in the buffer.
    error.systemText = strerror_r(code, text.data(), text.size());
    return error;
}

// Retries what a signal interrupted.
template <typename Call>
auto Retried(const Call& call) {
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR) {
            return result;
        }
    }
}

class PosixFile final : public AppendFile {
  public:
    PosixFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    ~PosixFile() override { ::close(fd_); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    std::uint64_t InitialSize() const override { return size_; }

    std::optional<FileError> Write(std::string_view bytes, std::size_t& written) override {
        written = 0;
        while (written < bytes.size()) {
            const ssize_t n = Retried(
                [&] { return ::write(fd_, bytes.data() + written, bytes.size() - written); });
            if (n < 0) {
                return ErrorOf(errno);
            }
            written += static_cast<std::size_t>(n);
        }
        return std::nullopt;
    }

    std::optional<FileError> Sync() override {
        if (Retried([&] { return ::fsync(fd_); }) != 0) {
            return ErrorOf(errno);
        }
        return std::nullopt;
    }

    std::optional<FileIdentity> Identity() const override {
        struct stat info {};
        if (::fstat(fd_, &info) != 0) {
            return std::nullopt;
        }
        return FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                            static_cast<std::uint64_t>(info.st_ino)};
    }

  private:
    int fd_;
    std::uint64_t size_;
};

class PosixLock final : public FolderLock {
  public:
    explicit PosixLock(int fd) : fd_(fd) {}
    ~PosixLock() override { ::close(fd_); }
    PosixLock(const PosixLock&) = delete;
    PosixLock& operator=(const PosixLock&) = delete;

  private:
    int fd_;
};

}  // namespace

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                        static_cast<std::uint64_t>(info.st_ino)};
}

std::variant<std::unique_ptr<AppendFile>, FileError> AppendFile::Open(
    const std::filesystem::path& path) {
    const int fd = Retried(
        [&] { return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644); });
    if (fd < 0) {
        return ErrorOf(errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int code = errno;
        ::close(fd);
        return S_ISREG(info.st_mode) ? ErrorOf(code) : ErrorOf(EISDIR);
    }
    return std::make_unique<PosixFile>(fd, static_cast<std::uint64_t>(info.st_size));
}

std::variant<std::unique_ptr<FolderLock>, FolderLock::Held, FileError> FolderLock::Acquire(
    const std::filesystem::path& folder, std::string_view owner) {
    const std::filesystem::path path = folder / kFileName;
    const int fd =
        Retried([&] { return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644); });
    if (fd < 0) {
        return ErrorOf(errno);
    }
    // A lock of the open file itself: another open of it, in this process too, is refused.
    if (Retried([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
        const int code = errno;
        std::array<char, 256> text{};
        const ssize_t n = Retried([&] { return ::pread(fd, text.data(), text.size(), 0); });
        ::close(fd);
        if (code != EWOULDBLOCK) {
            return ErrorOf(code);
        }
        return Held{std::string(text.data(), n > 0 ? static_cast<std::size_t>(n) : 0)};
    }
    if (::ftruncate(fd, 0) != 0 ||
        Retried([&] { return ::pwrite(fd, owner.data(), owner.size(), 0); }) < 0) {
        const int code = errno;
        ::close(fd);
        return ErrorOf(code);
    }
    return std::make_unique<PosixLock>(fd);
}

FileError ErrorOf(const std::error_code& code) {
    if (code.category() == std::generic_category() || code.category() == std::system_category()) {
        return ErrorOf(code.value());
    }
    return {FileFault::Other, code.message(), {}};
}

LocalDateTime LocalNow() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    return {local.tm_year + 1900,
            local.tm_mon + 1,
            local.tm_mday,
            local.tm_hour,
            local.tm_min,
            local.tm_sec,
            static_cast<int>(now.tv_nsec / 1000000),
            static_cast<int>(local.tm_gmtoff)};
}

void KeepRunningPastFileSizeLimits() {
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace corvelle
