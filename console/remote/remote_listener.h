// RemoteControlListener: the thread serving the remote-control port for the console's whole life.
#pragma once

#include "console/remote/remote_commands.h"
#include "console/window/subsystems.h"

#include <atomic>
#include <cstdint>
#include <thread>

namespace kavro::console {

class RemoteControlListener : public RemoteControl {
public:
    // `quit` is the console's quit flag; the thread ends within a second of it (or of the destructor).
    RemoteControlListener(RemoteCommandTarget& target, const std::atomic<bool>& quit,
                          std::uint16_t port = kRemoteControlPort);
    ~RemoteControlListener() override;

    void start_listener() override;
    // Blocks until the port is bound (or failed to bind); answers the bound port, 0 on failure.
    std::uint16_t wait_bound();
    // Datagrams handled so far.
    long handled() const { return handled_.load(std::memory_order_acquire); }

private:
    void run();

    RemoteCommandTarget& target_;
    const std::atomic<bool>& quit_;
    std::uint16_t port_;
    std::atomic<bool> stop_{false};
    std::atomic<int> bound_{-1};  // -1 not yet, 0 failed, else the port
    std::atomic<long> handled_{0};
    LogLimit refusals_;  // the listener thread's lines about refused datagrams
    std::thread thread_;
};

} // namespace kavro::console
