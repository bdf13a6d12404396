// A TCP service that hands out mesh topology snapshots the way the routing daemon's topology plug-in does,
// for the mesh filter to be developed, tested and demonstrated against.
//
// Stream mode (the daemon's behaviour): one client at a time. A client receives the current snapshot at once
// and then every new one on the same connection, never closed by the service. Queued bytes go out at the
// plug-in's write-timer ticks, so one receive can hold several snapshots. A connection that arrives while a
// client is served, or within the lockout after a client left (the daemon only notices a departed client at
// its next failed send), is accepted and closed with no byte sent.
// Close mode: every connection receives the current snapshot and is then closed; several may be served at once.
//
// Everything is bounded: a client that does not read has at most `max_pending` bytes queued (later snapshots
// are skipped until it reads), a close-mode client that does not take its snapshot within 10 s is dropped,
// and whatever a client sends is read and thrown away.
#pragma once

#include "tools/kavro-topology-service/sources.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kavro::topology {

enum class Mode { stream, close };

struct ServiceSettings {
    std::string address = "127.0.0.1";
    std::uint16_t port = 2004;                  // 0: any free port (see TopologyService::port)
    Mode mode = Mode::stream;
    std::chrono::milliseconds write_tick{100};  // queued bytes are sent at these ticks, the first one after connect
    std::chrono::milliseconds repeat{1000};     // stream: an unchanged topology is sent again after this (0: never)
    std::chrono::milliseconds lockout_min{350}; // stream: after a client left, connections get 0 bytes for a time
    std::chrono::milliseconds lockout_max{900}; //   drawn evenly from [min, max]
    std::size_t max_pending = 64 * 1024;        // bytes queued for one client at most
    std::size_t max_clients = 8;                // close mode: connections served at once
    int send_buffer = 0;                        // SO_SNDBUF of client sockets; 0 keeps the system's
    bool verbose = false;                       // one line per connection on stderr
};

// Counters for logs and tests; written by the service's thread only.
struct ServiceCounters {
    std::atomic<std::uint64_t> served{0};            // connections that were sent snapshots
    std::atomic<std::uint64_t> turned_away{0};       // connections closed with no byte
    std::atomic<std::uint64_t> snapshots_queued{0};
    std::atomic<std::uint64_t> snapshots_skipped{0}; // not queued because the client had not read enough
    std::atomic<std::size_t> peak_pending{0};        // most bytes ever queued for one client
};

class TopologyService {
public:
    TopologyService(SnapshotSource& source, ServiceSettings settings);
    ~TopologyService();
    TopologyService(const TopologyService&) = delete;
    TopologyService& operator=(const TopologyService&) = delete;

    // Binds and listens. False with a message when the address is not IPv4 or cannot be bound.
    bool open(std::string& error);
    // The bound port (the chosen one when the settings asked for 0).
    std::uint16_t port() const { return port_; }
    // Serves until stop is set; the source is updated from this thread only.
    void run(const std::atomic<bool>& stop);
    const ServiceCounters& counters() const { return counters_; }

private:
    struct Client {
        int fd = -1;
        std::string pending;
        std::size_t sent = 0;
        Clock::time_point next_flush, last_queued, deadline;
    };

    void accept_all(Clock::time_point now);
    void queue(Client& c, const std::string& snapshot, Clock::time_point now);
    bool flush(Client& c, Clock::time_point now); // false: the client is gone
    bool drain(Client& c);                        // false: the client closed or failed
    void drop(std::size_t index, Clock::time_point now, const char* why);
    int poll_timeout(Clock::time_point now) const;

    SnapshotSource& source_;
    ServiceSettings settings_;
    int listen_fd_ = -1;
    std::uint16_t port_ = 0;
    std::vector<Client> clients_;
    Clock::time_point lockout_until_{};
    std::mt19937 random_;
    ServiceCounters counters_;
};

} // namespace kavro::topology
