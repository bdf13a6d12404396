#include "console/link/status_poll.h"

#include <cstdlib>
#include <cstring>
#include <optional>

namespace kavro::console {

int speed_bar_value(int wheel1, int wheel2) { return std::abs((wheel_speed(wheel1) + wheel_speed(wheel2)) / 2); }

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// A failed sensor call: its error trace location and what the filter answered.
struct SensorFailure {
    int location;
    HRESULT result;
};
using Outcome = std::optional<SensorFailure>;

Outcome check(int location, HRESULT hr) {
    return FAILED(hr) ? Outcome(SensorFailure{location, hr}) : std::nullopt;
}

// What the filter reports for one index.
struct StatusReading {
    std::int32_t battery = 0, wheel1 = 0, wheel2 = 0, signal = 0; // the base's four bars, in this order
    float latitude = 0.0f, longitude = 0.0f;
};

// An index without an address shows empty bars.
void clear_bars(StatusWindow& window, int i) {
    if (i == kBaseIndex) {
        for (int bar : kBaseBars) window.set_bar(bar, 0);
        return;
    }
    window.set_bar(kSpeedBar[i], 0);
    window.set_bar(kBatteryBar[i], 0);
    window.set_bar(kSignalBar[i], 0);
}

// Points the filter's channel at the address and status port of the window's fields (written only when they
// differ) and keeps the channel's mesh node address in `nodes`.
Outcome sync_channel(ICapteurControl& capteur, int i, const Ipv4Address& address, unsigned port,
                     std::map<int, Ipv4Address>& nodes) {
    ConsoleSensorChannelRecord record{};
    if (Outcome f = check(kTraceGetConfig, capteur.GetConfig(i, &record))) return f;
    if (std::memcmp(record.settings.status_address, address.data(), 4) != 0 ||
        record.settings.status_port != port) {
        std::memcpy(record.settings.status_address, address.data(), 4);
        record.settings.status_port = port;
        if (Outcome f = check(kTraceSetConfig, capteur.SetConfig(i, &record.settings))) return f;
    }
    std::memcpy(nodes[i].data(), record.node_address, 4);
    return std::nullopt;
}

// Hands the address to the filter (which may rewrite it); when it is the reference address, the reference
// becomes what the filter answers for the loopback.
Outcome exchange_addresses(ICapteurControl& capteur, Ipv4Address address, Ipv4Address& reference) {
    if (Outcome f = check(kTraceAddressBytes, capteur.AddressBytes(&address[0], &address[1], &address[2],
                                                                   &address[3])))
        return f;
    if (address != reference) return std::nullopt;
    return check(kTraceLoopbackBytes, capteur.LoopbackBytes(&reference[0], &reference[1], &reference[2],
                                                            &reference[3]));
}

Outcome read_status(ICapteurControl& capteur, int i, StatusReading& r) {
    int index = i;
    if (Outcome f = check(kTraceGetStatus, capteur.GetStatus(&index, &r.battery, &r.wheel1, &r.wheel2, &r.signal)))
        return f;
    index = i;
    return check(kTraceGetPosition, capteur.GetPosition(&index, &r.latitude, &r.longitude));
}

// Keeps the reading in the robot table and shows it in the bars.
void show_status(RobotRow& row, StatusWindow& window, int i, const StatusReading& r) {
    row.latitude.store(known_or_none(r.latitude), relaxed);
    row.longitude.store(known_or_none(r.longitude), relaxed);
    if (i == kBaseIndex) {
        window.set_bar(kBaseBars[0], r.battery & 0xFF);
        window.set_bar(kBaseBars[1], r.wheel1 & 0xFF);
        window.set_bar(kBaseBars[2], r.wheel2 & 0xFF);
        window.set_bar(kBaseBars[3], r.signal & 0xFF);
        return;
    }
    row.battery.store(r.battery, relaxed);
    row.wheel1.store(r.wheel1, relaxed);
    row.wheel2.store(r.wheel2, relaxed);
    row.signal.store(r.signal, relaxed);
    window.set_bar(kBatteryBar[i], r.battery & 0xFF);
    window.set_bar(kSignalBar[i], r.signal & 0xFF);
    window.set_bar(kSpeedBar[i], speed_bar_value(r.wheel1, r.wheel2));
}

} // namespace

bool status_poll(RobotTable& table, const RobotLinkFields& fields, StatusWindow& window,
                 std::map<int, Ipv4Address>& node_addresses, Ipv4Address& reference_address) {
    for (int i = 1; i <= kBaseIndex; ++i) {
        const Ipv4Address address = fields.address(i);
        const unsigned port = fields.status_port(i);
        if (is_unset(address)) {
            clear_bars(window, i);
            continue;
        }
        ICapteurControl* capteur = window.capteur();
        if (capteur == nullptr) continue;
        StatusReading reading;
        Outcome failure = sync_channel(*capteur, i, address, port, node_addresses);
        if (!failure) failure = exchange_addresses(*capteur, address, reference_address);
        if (!failure) failure = read_status(*capteur, i, reading);
        if (failure) {
            window.release_video_graph();
            window.error_trace(failure->location, failure->result);
            return false;
        }
        show_status(table.robot(i), window, i, reading);
    }
    return true;
}

} // namespace kavro::console
