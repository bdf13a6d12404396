// Machine-wide services: the connected-state query and the forced shutdown. The shutdown sits behind an
// interface so that programs are tested with a double that only records the request.
#pragma once

#include <atomic>

namespace kavro::sys {

// True when a network interface other than loopback is up and running with an address.
bool connected_state();

class Shutdown {
public:
    virtual ~Shutdown() = default;
    // Makes sure this process may shut the machine down; false when it may not.
    virtual bool enable_privilege() = 0;
    // Asks for the machine to shut down at once, applications closed without asking them.
    virtual bool force_shutdown() = 0;
};

// The remote shutdown: the privilege, and only when that was granted, the forced shutdown. Answers whether the
// shutdown was asked for.
bool shut_down_machine(Shutdown& s);

// The real one: the privilege is held by root or with CAP_SYS_BOOT, or granted by the login manager when one
// runs; the shutdown halts the machine ("systemctl halt" ignoring inhibitors, else halt directly after sync).
// power_off also switches the machine off.
class SystemShutdown final : public Shutdown {
public:
    explicit SystemShutdown(bool power_off = false) : power_off_(power_off) {}
    bool enable_privilege() override;
    bool force_shutdown() override;

private:
    bool power_off_;
};

// The test double: records what was asked, shuts nothing down.
class RecordingShutdown final : public Shutdown {
public:
    explicit RecordingShutdown(bool grant_privilege = true) : grant(grant_privilege) {}
    bool enable_privilege() override {
        privilege_requests.fetch_add(1, std::memory_order_relaxed);
        return grant;
    }
    bool force_shutdown() override {
        shutdown_requests.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    bool grant;
    std::atomic<int> privilege_requests{0};
    std::atomic<int> shutdown_requests{0};
};

} // namespace kavro::sys
