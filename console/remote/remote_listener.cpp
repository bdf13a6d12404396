#include "console/remote/remote_listener.h"

#include "console/link/udp_endpoint.h"

#include <chrono>
#include <cstdio>

namespace kavro::console {

RemoteControlListener::RemoteControlListener(RemoteCommandTarget& target, const std::atomic<bool>& quit,
                                             std::uint16_t port)
    : target_(target), quit_(quit), port_(port) {}

RemoteControlListener::~RemoteControlListener() {
    stop_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) thread_.join();
}

void RemoteControlListener::start_listener() {
    if (thread_.joinable()) return;
    thread_ = std::thread([this] { run(); });
}

std::uint16_t RemoteControlListener::wait_bound() {
    while (bound_.load(std::memory_order_acquire) < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return std::uint16_t(bound_.load(std::memory_order_acquire));
}

void RemoteControlListener::run() {
    UdpEndpoint endpoint;
    if (!endpoint.open_bound(port_)) {
        std::fprintf(stderr, "InterfaceKAVRO: remote control: cannot listen on UDP port %u\n", unsigned(port_));
        bound_.store(0, std::memory_order_release);
        return;
    }
    bound_.store(endpoint.local_port(), std::memory_order_release);
    auto ending = [this] {
        return quit_.load(std::memory_order_relaxed) || stop_.load(std::memory_order_relaxed);
    };
    while (!ending()) {
        const int n = endpoint.receive(1, 0);
        if (n <= 0 || ending()) continue;
        handle_remote_datagram(endpoint.buffer(), std::size_t(n), target_, refusals_);
        handled_.fetch_add(1, std::memory_order_release);  // what the command did is seen with the count
    }
    endpoint.close();
}

} // namespace kavro::console
