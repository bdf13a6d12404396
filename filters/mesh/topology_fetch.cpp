#include "filters/mesh/topology_fetch.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mesh {

namespace {

using Clock = std::chrono::steady_clock;

int left_ms(Clock::time_point deadline) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return ms < 0 ? 0 : int(ms);
}

bool resolve(const std::string& address, in_addr* out) {
    if (inet_pton(AF_INET, address.c_str(), out) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    *out = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

// A connected socket, or -1.
int connect_to(const in_addr& address, std::uint16_t port, std::chrono::milliseconds limit) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr = address;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) return fd;
    if (errno == EINPROGRESS) {
        pollfd pf{fd, POLLOUT, 0};
        int error = 0;
        socklen_t len = sizeof error;
        if (::poll(&pf, 1, int(limit.count())) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 &&
            error == 0)
            return fd;
    }
    ::close(fd);
    return -1;
}

// Reads into buffer until the first graph is complete, the peer closes, the buffer is full or the deadline.
std::size_t read_graph(int fd, char* buffer, std::size_t room, Clock::time_point deadline) {
    std::size_t length = 0;
    while (length < room) {
        pollfd pf{fd, POLLIN, 0};
        const int ready = ::poll(&pf, 1, left_ms(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t got = ::recv(fd, buffer + length, room - length, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) break;
        length += std::size_t(got);
        if (first_graph_end(buffer, length) != 0) break;
    }
    return length;
}

} // namespace

std::size_t first_graph_end(const char* text, std::size_t length) {
    int depth = 0;
    bool quoted = false;
    bool opened = false;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '\\' && i + 1 < length)
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '{') {
            ++depth;
            opened = true;
        } else if (c == '}' && depth > 0) {
            if (--depth == 0 && opened) return i + 1;
        }
    }
    return 0;
}

FetchResult fetch_topology(const std::string& address, std::uint16_t port, char* buffer, std::size_t capacity,
                           const FetchTiming& timing, StopSignal& stop) {
    FetchResult result;
    if (capacity == 0) return result;
    buffer[0] = '\0';
    in_addr to{};
    if (!resolve(address, &to)) return result;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0 && !stop.sleep(timing.retry_pause)) {
            result.status = FetchStatus::Stopped;
            return result;
        }
        const int fd = connect_to(to, port, timing.connect_limit);
        if (fd < 0) {
            result.status = FetchStatus::NoConnection;
            return result;
        }
        ++result.attempts;
        if (!stop.sleep(timing.settle)) {
            ::close(fd);
            result.status = FetchStatus::Stopped;
            return result;
        }
        std::size_t length = read_graph(fd, buffer, capacity - 1, Clock::now() + timing.read_limit);
        ::close(fd);
        if (const std::size_t end = first_graph_end(buffer, length)) length = end;
        buffer[length] = '\0';
        result.bytes = length;
        if (length > 0) {
            result.status = FetchStatus::Ok;
            return result;
        }
        result.status = FetchStatus::Empty;
    }
    return result;
}

} // namespace mesh
