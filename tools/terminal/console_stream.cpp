#include "tools/terminal/console_stream.h"

#include <algorithm>

#include "protocol/module_frames.h"
#include "protocol/registration.h"

namespace corvelle::sim {
namespace {

constexpr std::uint8_t kColon = ':';
constexpr std::uint8_t kRegistrationHead = 0x55;
constexpr std::array<std::uint8_t, 4> kRegistrationPrefix = {0x55, 0xAA, 0x00, 0x01};

// True when the bytes so far agree with the start of pattern.
bool AgreesWith(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> pattern) {
    const std::size_t n = std::min(bytes.size(), pattern.size());
    return std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n),
                      pattern.begin());
}

bool CanStartItem(std::uint8_t b) {
    return b == kColon || b == ModuleQuery[0] || b == kRegistrationHead;
}

}  // namespace

void ConsoleStream::Append(std::span<const std::uint8_t> bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

ConsoleItem ConsoleStream::Take(ConsoleItemKind kind, std::size_t count) {
    const auto end = buffer_.begin() + static_cast<std::ptrdiff_t>(count);
    ConsoleItem item{kind, std::vector<std::uint8_t>(buffer_.begin(), end)};
    buffer_.erase(buffer_.begin(), end);
    return item;
}

std::optional<ConsoleItem> ConsoleStream::NextAscii() {
    const std::size_t size = buffer_.size();
    const auto at = [this](std::size_t i) {
        return buffer_.begin() + static_cast<std::ptrdiff_t>(i);
    };
    const auto cr =
        static_cast<std::size_t>(std::find(at(1), buffer_.end(), '\r') - buffer_.begin());
    const std::size_t scanEnd = std::min(cr, kMaxAsciiFrame + 1);
    // A colon always starts a new frame, so a frame cut short is abandoned at the next one.
    const auto colon =
        static_cast<std::size_t>(std::find(at(1), at(scanEnd), kColon) - buffer_.begin());
    if (colon < scanEnd) {
        return Take(ConsoleItemKind::Discarded, colon);
    }
    if (cr > kMaxAsciiFrame) {
        return Take(ConsoleItemKind::Discarded, scanEnd);
    }
    if (cr + 1 >= size) {
        return std::nullopt;
    }
    if (buffer_[cr + 1] != '\n') {
        return Take(ConsoleItemKind::Discarded, cr + 1);
    }
    return Take(ConsoleItemKind::AsciiFrame, cr + 2);
}

std::optional<ConsoleItem> ConsoleStream::Next() {
    if (buffer_.empty()) {
        return std::nullopt;
    }
    if (buffer_.front() == kColon) {
        return NextAscii();
    }
    if (AgreesWith(buffer_, ModuleQuery)) {
        if (buffer_.size() < ModuleQuery.size()) {
            return std::nullopt;
        }
        return Take(ConsoleItemKind::ModuleQuery, ModuleQuery.size());
    }
    if (AgreesWith(buffer_, kRegistrationPrefix)) {
        if (buffer_.size() < kRegistrationReplySize) {
            return std::nullopt;
        }
        if (ParseRegistrationReply(std::span(buffer_).first(kRegistrationReplySize))) {
            return Take(ConsoleItemKind::RegistrationReply, kRegistrationReplySize);
        }
    }
    const auto next = std::find_if(buffer_.begin() + 1, buffer_.end(), CanStartItem);
    return Take(ConsoleItemKind::Discarded, static_cast<std::size_t>(next - buffer_.begin()));
}

}  // namespace corvelle::sim
