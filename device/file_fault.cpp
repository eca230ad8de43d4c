#include "device/file_fault.h"

namespace corvelle {
namespace {

struct Texts {
    const char* chinese;
    const char* english;
};

Texts TextsOf(FileFault fault) {
    switch (fault) {
        case FileFault::DiskFull:
            return {"磁盘已满", "disk full"};
        case FileFault::NoPermission:
            return {"没有写入权限", "no permission to write"};
        case FileFault::NotFound:
            return {"文件或文件夹不存在", "no such file or folder"};
        case FileFault::Busy:
            return {"文件被其他程序占用", "held by another program"};
        case FileFault::TooLarge:
            return {"文件超过允许的大小", "file too large"};
        case FileFault::WrongKind:
            return {"同名的文件或文件夹挡住了它", "a file or folder of that name is in the way"};
        case FileFault::FolderRemoved:
            return {"文件夹已被删除", "folder removed"};
        case FileFault::SpaceLow:
            return {"磁盘剩余空间不足 64 MB", "less than 64 MiB left on the disk"};
        case FileFault::StillWriting:
            return {"上一次记录仍在写入该文件夹",
                    "the previous recording still writes into the folder"};
        case FileFault::Other:
            break;
    }
    return {"写入失败", "cannot write"};
}

}  // namespace

std::string ChineseText(const FileError& error) {
    std::string text = TextsOf(error.fault).chinese;
    if (error.fault == FileFault::Other && !error.systemText.empty()) {
        text += "（" + error.systemText + "）";
    }
    return text;
}

std::string EnglishText(const FileError& error) {
    std::string text = TextsOf(error.fault).english;
    if (error.fault == FileFault::Other && !error.systemText.empty()) {
        text += " (" + error.systemText + ")";
    }
    return text;
}

}  // namespace corvelle
