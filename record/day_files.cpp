#include "record/day_files.h"

#include <algorithm>
#include <system_error>

namespace corvelle {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";
// Room for the service's 256 slots and the events, so that no row has to reopen its file, yet
// with the connections well below the usual limit of 1024 descriptors; a stream of new names
// only makes the least recently used file close.
constexpr std::size_t kMaxOpenFiles = 320;

std::string Failure(const fs::path& path, std::string_view what) {
    return PathText(path) + ": " + std::string(what);
}

}  // namespace

fs::path Utf8Path(std::string_view text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string PathText(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

DayFiles::DayFiles(fs::path root) : root_(std::move(root)) {}

std::optional<std::string> DayFiles::Append(const std::string& subfolder,
                                            const std::string& fileName, const std::string& date,
                                            std::string_view header, std::string_view line) {
    if (date > latestDate_) {
        latestDate_ = date;
        for (auto it = files_.begin(); it != files_.end();) {
            if (it->second.date < date) {
                if (auto error = Close(it++)) {
                    return error;
                }
            } else {
                ++it;
            }
        }
    }
    const std::string key = subfolder + '/' + fileName;
    auto it = files_.find(key);
    if (it == files_.end()) {
        if (files_.size() >= kMaxOpenFiles) {
            const auto oldest = std::min_element(
                files_.begin(), files_.end(),
                [](auto& a, auto& b) { return a.second.lastUse < b.second.lastUse; });
            if (auto error = Close(oldest)) {
                return error;
            }
        }
        File file;
        file.date = date;
        if (auto error = Open(subfolder, fileName, header, file)) {
            return error;
        }
        it = files_.emplace(key, std::move(file)).first;
    }
    File& file = it->second;
    file.stream.write(line.data(), static_cast<std::streamsize>(line.size()));
    file.stream.write(kLineEnd.data(), static_cast<std::streamsize>(kLineEnd.size()));
    file.unflushed = true;
    file.lastUse = ++appends_;
    if (!file.stream) {
        return Failure(file.path, "cannot write");
    }
    return std::nullopt;
}

std::optional<std::string> DayFiles::Open(const std::string& subfolder, const std::string& fileName,
                                          std::string_view header, File& file) {
    std::error_code ec;
    fs::path folder = root_;
    if (!subfolder.empty()) {
        folder /= Utf8Path(subfolder);
        fs::create_directory(folder, ec);
        if (ec) {
            return Failure(folder, ec.message());
        }
    }
    file.path = folder / Utf8Path(fileName);
    std::uintmax_t size = 0;
    char last = '\n';
    if (fs::exists(file.path, ec)) {
        size = fs::file_size(file.path, ec);
        if (!ec && size > 0) {
            std::ifstream in(file.path, std::ios::binary);
            if (!in.seekg(-1, std::ios::end) || !in.get(last)) {
                return Failure(file.path, "cannot read");
            }
        }
    }
    if (ec) {
        return Failure(file.path, ec.message());
    }
    file.stream.open(file.path, std::ios::binary | std::ios::app);
    if (!file.stream) {
        return Failure(file.path, "cannot open");
    }
    if (size == 0) {
        file.stream << kByteOrderMark << header << kLineEnd;
    } else if (last != '\n') {
        // A crash or power loss cut the last row short; it stays as it is, on a line of its own.
        file.stream << kLineEnd;
    }
    return std::nullopt;
}

std::optional<std::string> DayFiles::Close(Files::iterator it) {
    File& file = it->second;
    file.stream.close();
    const bool failed = !file.stream;
    const fs::path path = std::move(file.path);
    files_.erase(it);
    if (failed) {
        return Failure(path, "cannot write");
    }
    return std::nullopt;
}

std::optional<std::string> DayFiles::FlushAndCheck() {
    std::error_code ec;
    if (!fs::is_directory(root_, ec)) {
        return Failure(root_, "folder removed while recording");
    }
    for (auto& [key, file] : files_) {
        if (file.unflushed && !file.stream.flush()) {
            return Failure(file.path, "cannot write");
        }
        file.unflushed = false;
        // On Linux, writes to a removed file succeed and go nowhere.
        if (!fs::exists(file.path, ec)) {
            return Failure(file.path, "file removed while recording");
        }
    }
    return std::nullopt;
}

std::optional<std::string> DayFiles::CloseAll() {
    std::optional<std::string> firstError;
    while (!files_.empty()) {
        auto error = Close(files_.begin());
        if (error && !firstError) {
            firstError = std::move(error);
        }
    }
    return firstError;
}

}  // namespace corvelle
