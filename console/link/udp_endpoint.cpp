#include "console/link/udp_endpoint.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kavro::console {

namespace {

bool fill_address(sockaddr_in& address, std::uint16_t port, const char* dotted) {
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (dotted == nullptr) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return inet_pton(AF_INET, dotted, &address.sin_addr) == 1;
}

std::uint16_t bound_port(int fd) {
    if (fd < 0) return 0;
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    return ntohs(address.sin_port);
}

// poll() that resumes after signals; >0 readable, 0 timeout, <0 error.
int wait_for_input(int fd, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        int r = ::poll(&p, 1, timeout_ms);
        if (r < 0 && errno == EINTR) continue;
        return r;
    }
}

} // namespace

void format_dotted(const std::uint8_t bytes[4], char out[16]) {
    std::snprintf(out, 16, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
}

UdpEndpoint::~UdpEndpoint() { close(); }

bool UdpEndpoint::create() {
    close();
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    length_ = 0;
    return fd_ >= 0;
}

bool UdpEndpoint::open_towards(std::uint16_t port, const char* dotted_address) {
    sockaddr_in peer{};
    if (dotted_address == nullptr || !fill_address(peer, port, dotted_address)) return false;
    if (!create()) return false;
    peer_ = peer;
    return true;
}

bool UdpEndpoint::open_bound(std::uint16_t port, const char* local_address) {
    sockaddr_in local{};
    if (!fill_address(local, port, local_address)) return false;
    if (!create()) return false;
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        close();
        return false;
    }
    fill_address(peer_, 0, nullptr);
    return true;
}

int UdpEndpoint::receive(long seconds, long microseconds) {
    if (fd_ < 0) return -1;
    long long timeout_ms = seconds * 1000LL + microseconds / 1000;
    if (microseconds % 1000 != 0) ++timeout_ms; // never wait less than asked
    int ready = wait_for_input(fd_, static_cast<int>(timeout_ms));
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    char incoming[kBufferSize];
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    ssize_t n = ::recvfrom(fd_, incoming, sizeof incoming, 0, reinterpret_cast<sockaddr*>(&from), &from_size);
    if (n < 0) return -1;
    std::memcpy(buffer_, incoming, static_cast<std::size_t>(n));
    buffer_[n] = '\0';
    length_ = static_cast<int>(n);
    peer_ = from;
    return length_;
}

int UdpEndpoint::send(const void* bytes, int length) {
    if (fd_ < 0 || length < 0) return -1;
    ssize_t n = ::sendto(fd_, bytes, static_cast<std::size_t>(length), MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_);
    return static_cast<int>(n);
}

void UdpEndpoint::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::uint16_t UdpEndpoint::local_port() const { return bound_port(fd_); }

TcpConnection::~TcpConnection() { close(); }

long TcpConnection::receive(void* buffer, std::size_t size, int flags) {
    if (fd_ < 0) return -1;
    return static_cast<long>(::recv(fd_, buffer, size, flags));
}

long TcpConnection::send(const void* bytes, std::size_t length, int flags) {
    if (fd_ < 0) return -1;
    return static_cast<long>(::send(fd_, bytes, length, flags | MSG_NOSIGNAL));
}

bool TcpConnection::wait_readable(int timeout_ms) const {
    if (fd_ < 0) return true; // the next receive reports the error at once
    return wait_for_input(fd_, timeout_ms) != 0;
}

bool TcpConnection::wait_peer_closed(int timeout_ms) const {
    if (fd_ < 0) return true;
    pollfd p{fd_, POLLRDHUP, 0};
    return ::poll(&p, 1, timeout_ms) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void TcpConnection::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    fd_copy_ = -1;
}

TcpListener::~TcpListener() { close(); }

bool TcpListener::bind(std::uint16_t port, const char* local_address) {
    close();
    sockaddr_in local{};
    if (!fill_address(local, port, local_address)) return false;
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    // A restarted console must get its port back at once, not after the old connections' TIME_WAIT.
    int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        close();
        return false;
    }
    return true;
}

bool TcpListener::listen(int backlog) { return fd_ >= 0 && ::listen(fd_, backlog) == 0; }

bool TcpListener::accept(TcpConnection& connection, int timeout_ms) {
    if (fd_ < 0) return false;
    if (timeout_ms >= 0 && wait_for_input(fd_, timeout_ms) <= 0) return false;
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&from), &from_size, SOCK_CLOEXEC);
    if (fd < 0) return false;
    connection.close();
    connection.fd_ = fd;
    connection.fd_copy_ = fd;
    for (auto& c : connection.counters_) c = 0;
    const auto* b = reinterpret_cast<const std::uint8_t*>(&from.sin_addr.s_addr);
    std::printf("%d.%d.%d.%d is Connecting\n", b[0], b[1], b[2], b[3]);
    std::fflush(stdout);
    return true;
}

void TcpListener::close() {
    if (fd_ != -1) ::close(fd_);
    fd_ = -1;
}

std::uint16_t TcpListener::local_port() const { return bound_port(fd_); }

} // namespace kavro::console
