// The sensor filter's status path from the socket on: datagrams of any length and content, from three
// sources at three ports, taken as the status listener takes them (one byte more than the longest datagram
// is read, so a longer one shows as too long) into a table of five channels. Whatever arrives, every
// channel shows values inside their ranges and a finite position.
#include "outside/capteur/channels.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace capteur;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const Address sources[3] = {{127, 0, 0, 11}, {127, 0, 0, 12}, {192, 0, 2, 7}};
    const std::uint16_t ports[3] = {15010, 15011, 0};
    ChannelTable table;
    // Byte i of the first five: channel i+1's port and source.
    for (int i = 0; i < 5; ++i) {
        kavro::SensorChannelRecord r{};
        r.status_port = ports[data[i] % 3];
        std::memcpy(r.status_address, sources[(data[i] / 3) % 3].data(), 4);
        table.set_config(i + 1, r);
    }
    const auto start = Clock::now();
    auto now = start;
    // Then datagrams: a selector byte (port, source, time step) and a length byte, then the bytes.
    for (std::size_t i = 5; i + 2 <= size;) {
        const std::uint8_t sel = data[i];
        const std::size_t want = data[i + 1];
        i += 2;
        const std::size_t n = std::min(want, size - i);
        std::vector<char> buffer(data + i, data + i + std::min(n, kavro::robot::kStatusDatagramMaximum + 1));
        i += n;
        now += std::chrono::milliseconds(100 * (sel >> 4));
        kavro::robot::RobotStatus status;
        if (n > kavro::robot::kStatusDatagramMaximum ||
            !kavro::robot::parse_status_datagram(buffer.data(), buffer.size(), status))
            continue;
        table.apply(ports[sel % 3], sources[(sel / 3) % 3], status, now);
    }
    for (const ChannelView& v : table.views(now)) {
        if (v.status.battery < 0 || v.status.battery > 100 || v.status.signal < 0 || v.status.signal > 100) std::abort();
        if (v.status.wheel1 < 0 || v.status.wheel1 > 127 || v.status.wheel2 < 0 || v.status.wheel2 > 127) std::abort();
        if (!std::isfinite(v.latitude) || !std::isfinite(v.longitude)) std::abort();
        if (!v.has_position && (v.latitude != 0.0f || v.longitude != 0.0f)) std::abort();
    }
    return 0;
}
