// Ports on 127.0.0.1 that nothing holds right now, for servers and listeners started by a test.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace kavro::test {

// Binds a socket of `type` to port 0 and answers the port the system chose (0 when it could not); the socket is
// closed again, so another program could take the port in between: good enough for loopback tests.
inline std::uint16_t free_loopback_port(int type) {
    const int fd = ::socket(AF_INET, type, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

inline std::uint16_t free_udp_port() { return free_loopback_port(SOCK_DGRAM); }
inline std::uint16_t free_tcp_port() { return free_loopback_port(SOCK_STREAM); }

} // namespace kavro::test
