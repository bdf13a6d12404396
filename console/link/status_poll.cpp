#include "console/link/status_poll.h"

#include <cstdlib>
#include <cstring>

namespace kavro::console {

namespace {

bool all_zero(const Address4& a) { return a[0] == 0 && a[1] == 0 && a[2] == 0 && a[3] == 0; }

} // namespace

int speed_bar_value(int wheel1, int wheel2) { return std::abs((wheel_speed(wheel1) + wheel_speed(wheel2)) / 2); }

bool status_poll(RobotTable& table, const RobotLinkFields& fields, StatusWindow& window,
                 std::map<int, Address4>& node_addresses, Address4& reference_address) {
    constexpr auto relaxed = std::memory_order_relaxed;
    for (int i = 1; i <= kBaseIndex; ++i) {
        Address4 address = fields.address(i);
        const unsigned port = fields.status_port(i);
        if (all_zero(address)) {
            if (i == kBaseIndex) {
                for (int bar : kBaseBars) window.set_bar(bar, 0);
            } else {
                window.set_bar(kSpeedBar[i], 0);
                window.set_bar(kBatteryBar[i], 0);
                window.set_bar(kSignalBar[i], 0);
            }
            continue;
        }
        ICapteurControl* capteur = window.capteur();
        if (capteur == nullptr) continue;

        auto fail = [&](int location, HRESULT hr) {
            window.release_video_graph();
            window.error_trace(location, hr);
            return false;
        };

        ConsoleSensorChannelRecord record{};
        HRESULT hr = capteur->GetConfig(i, &record);
        if (FAILED(hr)) return fail(kTraceGetConfig, hr);
        if (std::memcmp(record.settings.status_address, address.data(), 4) != 0 ||
            record.settings.status_port != port) {
            std::memcpy(record.settings.status_address, address.data(), 4);
            record.settings.status_port = port;
            hr = capteur->SetConfig(i, &record.settings);
            if (FAILED(hr)) return fail(kTraceSetConfig, hr);
        }
        Address4& node = node_addresses[i];
        if (std::memcmp(node.data(), record.node_address, 4) != 0) std::memcpy(node.data(), record.node_address, 4);

        hr = capteur->AddressBytes(&address[0], &address[1], &address[2], &address[3]);
        if (FAILED(hr)) return fail(kTraceAddressBytes, hr);
        if (address == reference_address) {
            Address4& ref = reference_address;
            hr = capteur->LoopbackBytes(&ref[0], &ref[1], &ref[2], &ref[3]);
            if (FAILED(hr)) return fail(kTraceLoopbackBytes, hr);
        }

        int index = i;
        std::int32_t r1 = 0, r2 = 0, r3 = 0, r4 = 0;
        hr = capteur->GetStatus(&index, &r1, &r2, &r3, &r4);
        if (FAILED(hr)) return fail(kTraceGetStatus, hr);
        index = i;
        float latitude = 0.0f, longitude = 0.0f;
        hr = capteur->GetPosition(&index, &latitude, &longitude);
        if (FAILED(hr)) return fail(kTraceGetPosition, hr);

        RobotRow& row = table.robot(i);
        row.latitude.store(known_or_none(latitude), relaxed);
        row.longitude.store(known_or_none(longitude), relaxed);
        if (i == kBaseIndex) {
            window.set_bar(kBaseBars[0], r1 & 0xFF);
            window.set_bar(kBaseBars[1], r2 & 0xFF);
            window.set_bar(kBaseBars[2], r3 & 0xFF);
            window.set_bar(kBaseBars[3], r4 & 0xFF);
            continue;
        }
        row.battery.store(r1, relaxed);
        row.wheel1.store(r2, relaxed);
        row.wheel2.store(r3, relaxed);
        row.signal.store(r4, relaxed);
        window.set_bar(kBatteryBar[i], r1 & 0xFF);
        window.set_bar(kSignalBar[i], r4 & 0xFF);
        window.set_bar(kSpeedBar[i], speed_bar_value(r2, r3));
    }
    return true;
}

} // namespace kavro::console
