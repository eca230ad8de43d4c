// Misbehaving peers for the console benchmarks: a crowd that never registers, resets, silent
// and half-closed connections, a trickle, floods, hostile names and a burst of connections
// beyond the console's descriptor limit. Reads one command a line from its input and answers
// each with one line that starts with the command's name, so the console's process only has
// to read a few lines. Usage: bench_peers PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/registration.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

// A registration packet whose CRC is wrong: every console answers it with status 0.
const Bytes kBadPacket = {0x55, 0xAA, 0x00, 0x00, 0x12, 0x34, 0xAA, 0x55};

std::uint16_t g_port = 0;
// Connections kept open until released or the end: the crowd, silent peers, exhausting bursts.
std::vector<int> g_crowd;
std::vector<int> g_held;

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

long MsSince(SteadyClock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count());
}

int OpenSocket(bool blocking) {
    const int fd = socket(AF_INET, SOCK_STREAM | (blocking ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(g_port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const Bytes& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Ends a connection with a reset instead of an orderly close.
void Reset(int fd) {
    const linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(fd);
}

// Reads until a registration reply arrives (a module query may come first); its status, or
// nothing after timeoutMs or when the console closes.
std::optional<int> ReadStatus(int fd, int timeoutMs) {
    Bytes input;
    const auto start = SteadyClock::now();
    while (MsSince(start) < timeoutMs) {
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0) {
            continue;
        }
        std::uint8_t buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return std::nullopt;
        }
        input.insert(input.end(), buffer, buffer + n);
        for (std::size_t i = 0; i + corvelle::kRegistrationReplySize <= input.size(); ++i) {
            const auto status = corvelle::ParseRegistrationReply(
                std::span(input).subspan(i, corvelle::kRegistrationReplySize));
            if (status) {
                return *status;
            }
        }
    }
    return std::nullopt;
}

// A connection registered under name, or -1.
int Registered(const Bytes& name, int& status) {
    const int fd = OpenSocket(true);
    status = -1;
    if (fd < 0 || !SendAll(fd, corvelle::BuildRegistrationPacket(name))) {
        return -1;
    }
    status = ReadStatus(fd, 5000).value_or(-1);
    return fd;
}

Bytes Name(const std::string& text) {
    return {text.begin(), text.end()};
}

// Garbage that never starts a registration packet, whatever the read boundaries.
Bytes Garbage(std::size_t size) {
    Bytes bytes(size);
    std::uint32_t state = 12345;
    for (auto& byte : bytes) {
        state = state * 1103515245U + 12345U;
        byte = static_cast<std::uint8_t>(state >> 16);
        if (byte == 0x55) {
            byte = 0x54;
        }
    }
    return bytes;
}

void Crowd(int count) {
    const auto start = SteadyClock::now();
    int answered = 0;
    int rejected = 0;
    for (int i = 0; i < count; ++i) {
        const int fd = OpenSocket(true);
        if (fd < 0 || !SendAll(fd, kBadPacket)) {
            continue;
        }
        const auto status = ReadStatus(fd, 10000);
        answered += status ? 1 : 0;
        rejected += status == 0 ? 1 : 0;
        g_crowd.push_back(fd);
    }
    Say("crowd answered=" + std::to_string(answered) + " status0=" + std::to_string(rejected) +
        " of=" + std::to_string(count) + " ms=" + std::to_string(MsSince(start)));
}

void Release() {
    for (const int fd : g_crowd) {
        close(fd);
    }
    Say("release closed=" + std::to_string(g_crowd.size()));
    g_crowd.clear();
}

void ResetMidFrame(const std::string& name) {
    int status = -1;
    if (name.empty()) {
        const int fd = OpenSocket(true);
        const Bytes packet = corvelle::BuildRegistrationPacket(Name("HALF"));
        SendAll(fd, Bytes(packet.begin(), packet.begin() + 5));
        Reset(fd);
        Say("reset ok=1");
        return;
    }
    const int fd = Registered(Name(name), status);
    // Half a poll reply, then the reset.
    SendAll(fd, Name(":0A0424000"));
    Reset(fd);
    Say("reset status=" + std::to_string(status));
}

void Silent() {
    g_held.push_back(OpenSocket(true));
    Say("silent ok=1");
}

void HalfClose(const std::string& name) {
    int status = -1;
    const int fd = Registered(Name(name), status);
    shutdown(fd, SHUT_WR);
    const auto start = SteadyClock::now();
    bool closed = false;
    while (!closed && MsSince(start) < 5000) {
        pollfd waiting{fd, POLLIN, 0};
        std::uint8_t buffer[256];
        closed = poll(&waiting, 1, 50) > 0 && recv(fd, buffer, sizeof buffer, 0) <= 0;
    }
    Say("halfclose status=" + std::to_string(status) + " closed=" + std::to_string(closed) +
        " ms=" + std::to_string(MsSince(start)));
    close(fd);
}

void Slow(int bytes) {
    const int fd = OpenSocket(true);
    const Bytes packet = corvelle::BuildRegistrationPacket(Name("SLOW"));
    int answered = 0;
    for (int i = 0; i < bytes; ++i) {
        const auto start = SteadyClock::now();
        SendAll(fd, Bytes{packet[static_cast<std::size_t>(i) % packet.size()]});
        answered += ReadStatus(fd, 1000) == 0 ? 1 : 0;
        std::this_thread::sleep_until(start + std::chrono::seconds(1));
    }
    close(fd);
    Say("slow sent=" + std::to_string(bytes) + " status0=" + std::to_string(answered));
}

// Sends size bytes of garbage as fast as the console takes them, then half-closes and waits
// until the console, having read everything, closes too.
void Flood(std::size_t size, const std::string& name) {
    int status = -1;
    const int fd = name.empty() ? OpenSocket(true) : Registered(Name(name), status);
    const timeval patience{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    const Bytes garbage = Garbage(size);
    const auto start = SteadyClock::now();
    const bool sent = SendAll(fd, garbage);
    shutdown(fd, SHUT_WR);
    bool closed = false;
    while (!closed && MsSince(start) < 30000) {
        pollfd waiting{fd, POLLIN, 0};
        std::uint8_t buffer[4096];
        closed = poll(&waiting, 1, 50) > 0 && recv(fd, buffer, sizeof buffer, 0) <= 0;
    }
    close(fd);
    Say("flood status=" + std::to_string(status) + " sent=" + std::to_string(sent) +
        " closed=" + std::to_string(closed) + " mb=" + std::to_string(size / 1048576) +
        " ms=" + std::to_string(MsSince(start)));
}

void HostileName(const std::string& kind) {
    Bytes name;
    if (kind == "long") {
        // 8185 bytes, the most one read can carry: GB2312 pairs and one ASCII byte.
        for (int i = 0; i < 4092; ++i) {
            name.insert(name.end(), {0xB1, 0xC3});
        }
        name.push_back('N');
    } else {
        // Control characters, lone lead bytes, bytes no GB2312 table holds, markup.
        for (int i = 1; i < 0x20; ++i) {
            name.insert(name.end(), {static_cast<std::uint8_t>(i), 0xB0, 0xFF, 0x80, 0x7F});
        }
        for (const char c : std::string("<b>&amp;</b>\r\n")) {
            name.push_back(static_cast<std::uint8_t>(c));
        }
    }
    int status = -1;
    const int fd = Registered(name, status);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    close(fd);
    Say("name kind=" + kind + " bytes=" + std::to_string(name.size()) +
        " status=" + std::to_string(status));
}

void Exhaust(int count, int holdMs) {
    std::vector<int> burst;
    // Paced, so that the console meets every connection it can take instead of the kernel
    // turning the burst away at a full accept queue.
    for (int i = 0; i < count; ++i) {
        const int fd = OpenSocket(false);
        if (fd >= 0) {
            burst.push_back(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
    for (const int fd : burst) {
        close(fd);
    }
    Say("exhaust opened=" + std::to_string(burst.size()));
}

void Probe(int timeoutMs) {
    const auto start = SteadyClock::now();
    const int fd = OpenSocket(true);
    const bool sent = fd >= 0 && SendAll(fd, kBadPacket);
    const int status = sent ? ReadStatus(fd, timeoutMs).value_or(-1) : -1;
    if (fd >= 0) {
        close(fd);
    }
    Say("probe status=" + std::to_string(status) + " ms=" + std::to_string(MsSince(start)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_peers PORT\n");
        return 2;
    }
    g_port = static_cast<std::uint16_t>(std::strtol(argv[1], nullptr, 10));
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        std::string text;
        long number = 0;
        long second = 0;
        words >> command;
        if (command == "crowd" && words >> number) {
            Crowd(static_cast<int>(number));
        } else if (command == "release") {
            Release();
        } else if (command == "reset") {
            words >> text;
            ResetMidFrame(text);
        } else if (command == "silent") {
            Silent();
        } else if (command == "halfclose" && words >> text) {
            HalfClose(text);
        } else if (command == "slow" && words >> number) {
            Slow(static_cast<int>(number));
        } else if (command == "flood" && words >> number) {
            words >> text;
            Flood(static_cast<std::size_t>(number), text);
        } else if (command == "name" && words >> text) {
            HostileName(text);
        } else if (command == "exhaust" && words >> number >> second) {
            Exhaust(static_cast<int>(number), static_cast<int>(second));
        } else if (command == "probe" && words >> number) {
            Probe(static_cast<int>(number));
        } else if (command == "quit") {
            break;
        } else {
            Say(command + " error=unknown");
        }
    }
    for (const int fd : g_held) {
        close(fd);
    }
    Release();
    return 0;
}
