// The status listener: one thread that listens on every status port the channel records name, takes the
// status datagrams of the robots (and base station) those records name, and stores them in the table.
#pragma once

#include "outside/capteur/channels.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <thread>

namespace capteur {

struct ListenerOptions {
    // Local address the status ports are bound on, in dotted order; 0.0.0.0 = every local address.
    Address bind_address{0, 0, 0, 0};
    // How often a port that could not be bound is tried again.
    std::chrono::milliseconds retry_period{1000};
};

class StatusListener {
public:
    StatusListener(ChannelTable& table, ListenerOptions options = {});
    ~StatusListener(); // stops and joins the thread
    StatusListener(const StatusListener&) = delete;
    StatusListener& operator=(const StatusListener&) = delete;

    // False when the thread or its wake-up descriptor could not be made (a message on stderr).
    bool start();
    void stop();
    // The records changed: look at the ports again now rather than at the next wake-up.
    void wake();

    // Datagrams taken and refused (malformed, from an address no record names, too long): for tests.
    long taken() const { return taken_.load(std::memory_order_relaxed); }
    long refused() const { return refused_.load(std::memory_order_relaxed); }
    // Ports currently bound (from the listener thread's last rebinding).
    int bound_ports() const { return bound_.load(std::memory_order_relaxed); }

private:
    void run();
    void rebind();
    void drain(int fd, std::uint16_t port);

    ChannelTable& table_;
    const ListenerOptions options_;
    int wake_fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    // Listener thread only.
    std::map<std::uint16_t, int> sockets_;       // port -> socket
    std::map<std::uint16_t, Clock::time_point> failed_; // port -> last failed bind
    unsigned seen_generation_ = ~0u;
    std::atomic<long> taken_{0};
    std::atomic<long> refused_{0};
    std::atomic<int> bound_{0};
};

} // namespace capteur
