#pragma once

#include <cstdint>
#include <string>

namespace corvelle {

// What went wrong with a file or folder, in the terms the operator can act on; the system's own
// words (UTF-8 on every platform) for anything else.
enum class FileFault : std::uint8_t {
    DiskFull,
    NoPermission,
    NotFound,
    // Held by another program (Windows sharing violations, busy files).
    Busy,
    // Past the largest file allowed (a size limit of the process or the file system).
    TooLarge,
    // A file stands where a folder must, or the other way round.
    WrongKind,
    // The recording folder itself is gone.
    FolderRemoved,
    // Too little room left on the disk to go on writing safely.
    SpaceLow,
    // An earlier recording of this process still writes into the folder.
    StillWriting,
    Other,
};

struct FileError {
    FileFault fault = FileFault::Other;
    std::string systemText;
    // The file or folder concerned (UTF-8); empty where it goes without saying.
    std::string path;
};

// What went wrong, for the operator ("磁盘已满") and for logs and messages ("disk full"); the
// system's own words stand in for what has no words of ours.
std::string ChineseText(const FileError& error);
std::string EnglishText(const FileError& error);

}  // namespace corvelle
