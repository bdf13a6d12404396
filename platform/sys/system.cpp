#include "platform/sys/system.h"

#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <string>
#include <sys/reboot.h>
#include <unistd.h>

#include "platform/sys/paths.h"
#include "platform/sys/process.h"

namespace kavro::sys {

namespace {

// CAP_SYS_BOOT (bit 22) in the effective capability set.
bool has_cap_sys_boot() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("CapEff:", 0) == 0) {
            const unsigned long long caps = std::stoull(line.substr(7), nullptr, 16);
            return caps & (1ull << 22);
        }
    return false;
}

} // namespace

bool connected_state() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool up = false;
    for (ifaddrs* a = list; a && !up; a = a->ifa_next) {
        if (!a->ifa_addr || (a->ifa_flags & IFF_LOOPBACK)) continue;
        if (!(a->ifa_flags & IFF_UP) || !(a->ifa_flags & IFF_RUNNING)) continue;
        const int family = a->ifa_addr->sa_family;
        up = family == AF_INET || family == AF_INET6;
    }
    freeifaddrs(list);
    return up;
}

bool shut_down_machine(Shutdown& s) {
    if (!s.enable_privilege()) return false;
    return s.force_shutdown();
}

bool SystemShutdown::enable_privilege() {
    return geteuid() == 0 || has_cap_sys_boot() || path_exists("/run/systemd/system");
}

bool SystemShutdown::force_shutdown() {
    const char* verb = power_off_ ? "poweroff" : "halt";
    if (run_and_wait("systemctl", {verb, "--ignore-inhibitors", "--no-wall"}) == 0) return true;
    if (geteuid() == 0 || has_cap_sys_boot()) {
        sync();
        return reboot(power_off_ ? RB_POWER_OFF : RB_HALT_SYSTEM) == 0;
    }
    return false;
}

} // namespace kavro::sys
