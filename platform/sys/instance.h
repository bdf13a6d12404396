// The named instance block: 4 bytes (a program's main window handle) under a name such as "InterfaceKAVRO" or
// "KAVRO", visible to every program on this machine, whatever its user, exactly as long as the owning process
// lives, however it ends (also kill -9). It is an abstract-namespace Unix socket held by the owner: the kernel
// drops the name with the last descriptor. A probe connects, reads the 4 bytes and may ask the owner to bring
// its window to the front; the owner does so only for its own user or root, and serves at most a few probes a
// second (the others are closed unanswered). Network namespaces separate the names, as separate machines would.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kavro::sys {

inline constexpr const char* kConsoleInstance = "InterfaceKAVRO";
inline constexpr const char* kMixerInstance = "KAVRO";

class InstanceBlock {
public:
    // Called on the block's own thread with the stored value when another program asks for the window.
    using RaiseRequest = std::function<void(std::uint32_t value)>;

    // Creates the block; null when the name is already held (by any live process) or cannot be made.
    static std::unique_ptr<InstanceBlock> create(const std::string& name, RaiseRequest on_raise = {});
    ~InstanceBlock(); // the name goes away

    InstanceBlock(const InstanceBlock&) = delete;
    InstanceBlock& operator=(const InstanceBlock&) = delete;

    void store(std::uint32_t value);
    std::uint32_t value() const { return value_.load(std::memory_order_relaxed); }
    void set_raise_request(RaiseRequest fn);
    const std::string& name() const { return name_; }

private:
    InstanceBlock(std::string name, int listen_fd, int wake_fd, RaiseRequest on_raise);
    void serve();

    std::string name_;
    int listen_fd_ = -1;
    int wake_fd_ = -1;
    std::atomic<std::uint32_t> value_{0};
    std::mutex raise_lock_;
    RaiseRequest on_raise_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Reads the block without disturbing its owner; empty when no process holds the name.
std::optional<std::uint32_t> read_instance_block(const std::string& name);

// True when a process holds the block; that process is then asked to bring its window to the front.
bool instance_running(const std::string& name);

} // namespace kavro::sys
