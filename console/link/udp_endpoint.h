// The console's socket wrappers: one UDP endpoint (robot commands, mixer link, remote control) and a TCP
// listener with its accepted connection (map feed). POSIX sockets, IPv4 only.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

namespace kavro::console {

class UdpEndpoint {
public:
    static constexpr int kBufferSize = 1000;

    UdpEndpoint() = default;
    ~UdpEndpoint();
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    // Creates the socket and sets the peer; nothing is sent. False when the address is not dotted IPv4 text
    // or the socket cannot be created.
    bool open_towards(std::uint16_t port, const char* dotted_address);
    // Creates the socket and binds it to the port on every local address (or on `local_address` when given);
    // the peer starts as the any-address. Port 0 picks a free port (see local_port).
    bool open_bound(std::uint16_t port, const char* local_address = nullptr);

    // Waits up to the timeout for a datagram. 0 on timeout; otherwise stores at most 1000 bytes, takes the
    // sender as the new peer, terminates the text with a zero and returns the length. A receive error returns
    // a negative value and leaves the buffer as it was.
    int receive(long seconds, long microseconds);
    // One datagram of exactly `length` bytes to the peer: the byte count, or a negative value.
    int send(const void* bytes, int length);
    void close();

    bool is_open() const { return fd_ >= 0; }
    int handle() const { return fd_; }
    std::uint16_t local_port() const;
    const char* buffer() const { return buffer_; }
    int length() const { return length_; }
    const sockaddr_in& peer() const { return peer_; }
    void set_peer(const sockaddr_in& peer) { peer_ = peer; }

private:
    bool create();

    int fd_ = -1;
    char buffer_[kBufferSize + 1] = {};
    int length_ = 0;
    sockaddr_in peer_{};
};

class TcpConnection {
public:
    TcpConnection() = default;
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // One to one with recv/send on the accepted socket.
    long receive(void* buffer, std::size_t size, int flags = 0);
    long send(const void* bytes, std::size_t length, int flags = 0);
    // Waits until the connection is readable (data, end or error); false on timeout.
    bool wait_readable(int timeout_ms) const;
    // Waits up to `timeout_ms` for the peer to close its side (or the connection to fail); bytes it sent
    // before are left to read. True when it has.
    bool wait_peer_closed(int timeout_ms) const;
    void close();
    bool is_open() const { return fd_ >= 0; }

private:
    friend class TcpListener;
    int fd_ = -1;
    int fd_copy_ = -1;
    // The original keeps a 64000-byte staging buffer with three counters that are only reset on accept.
    std::size_t counters_[3] = {};
};

class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Creates an IPv4 stream socket bound to the port on every local address (or `local_address`); on failure
    // the socket is closed and the result is false. Port 0 picks a free port.
    bool bind(std::uint16_t port, const char* local_address = nullptr);
    bool listen(int backlog = 32);
    // Accepts one client, prints "%d.%d.%d.%d is Connecting\n" on standard output and resets the connection's
    // counters. With a timeout (ms, -1 waits for ever) false is also returned when nobody connected in time.
    bool accept(TcpConnection& connection, int timeout_ms = -1);
    void close();
    bool is_open() const { return fd_ >= 0; }
    std::uint16_t local_port() const;

private:
    int fd_ = -1;
};

// "a.b.c.d" from four bytes in dotted order.
void format_dotted(const std::uint8_t bytes[4], char out[16]);

} // namespace kavro::console
