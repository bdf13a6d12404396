#include "outside/capteur/channels.h"

#include <cstring>

namespace capteur {

namespace {

bool all_zero(const std::uint8_t* a) { return a[0] == 0 && a[1] == 0 && a[2] == 0 && a[3] == 0; }

// A robot without a fix reports 1000.0; callers read 0.0 as "none".
bool is_fix(double latitude, double longitude) {
    return latitude >= -90.0 && latitude <= 90.0 && longitude >= -180.0 && longitude <= 180.0;
}

} // namespace

bool ChannelTable::set_config(int index, const kavro::SensorChannelRecord& record) {
    if (!valid_index(index)) return false;
    std::lock_guard lock(mutex_);
    Channel& c = channels_[std::size_t(index)];
    const bool moved = std::memcmp(c.record.settings.status_address, record.status_address, 4) != 0;
    const bool station = station_copies_.load() && record.status_port == 0 && all_zero(record.status_address);
    const bool changed = moved || c.record.settings.status_port != record.status_port || station != c.station;
    c.record.settings = record;
    c.station = station;
    if (moved) {
        // Another robot now: nothing of the previous one is shown for it.
        c.status = Status{};
        c.heard = false;
        c.has_position = false;
        c.latitude = c.longitude = 0.0f;
        std::memset(c.record.node_address, 0, 4);
    }
    last_named_ = index;
    if (changed) generation_.fetch_add(1, std::memory_order_relaxed);
    return true;
}

bool ChannelTable::get_config(int index, kavro::ConsoleSensorChannelRecord& record) {
    if (!valid_index(index)) return false;
    std::lock_guard lock(mutex_);
    record = channels_[std::size_t(index)].record;
    last_named_ = index;
    return true;
}

bool ChannelTable::status(int index, Clock::time_point now, Status& out) {
    if (!valid_index(index)) return false;
    std::lock_guard lock(mutex_);
    const Channel& c = channels_[std::size_t(index)];
    out = c.status;
    if (silent(c, now)) out.signal = 0;
    return true;
}

bool ChannelTable::position(int index, float& latitude, float& longitude) {
    if (!valid_index(index)) return false;
    std::lock_guard lock(mutex_);
    const Channel& c = channels_[std::size_t(index)];
    latitude = c.has_position ? c.latitude : 0.0f;
    longitude = c.has_position ? c.longitude : 0.0f;
    return true;
}

bool ChannelTable::set_waypoint(int index, int waypoint, float x, float y) {
    if (!valid_index(index) || waypoint < 1 || waypoint > 4) return false;
    std::lock_guard lock(mutex_);
    auto& w = channels_[std::size_t(index)].waypoints;
    w[std::size_t(2 * (waypoint - 1))] = x;
    w[std::size_t(2 * (waypoint - 1) + 1)] = y;
    return true;
}

bool ChannelTable::waypoint(int index, int waypoint, float& x, float& y) {
    if (!valid_index(index) || waypoint < 1 || waypoint > 4) return false;
    std::lock_guard lock(mutex_);
    const auto& w = channels_[std::size_t(index)].waypoints;
    x = w[std::size_t(2 * (waypoint - 1))];
    y = w[std::size_t(2 * (waypoint - 1) + 1)];
    return true;
}

bool ChannelTable::set_value(int index, int value) {
    if (!valid_index(index)) return false;
    std::lock_guard lock(mutex_);
    channels_[std::size_t(index)].value = value;
    return true;
}

bool ChannelTable::value(int index, int& out) {
    if (!valid_index(index)) return false;
    std::lock_guard lock(mutex_);
    out = channels_[std::size_t(index)].value;
    return true;
}

void ChannelTable::set_address(const Address& address) {
    std::lock_guard lock(mutex_);
    if (valid_index(last_named_)) channels_[std::size_t(last_named_)].address = address;
}

bool ChannelTable::address(int index, Address& out) {
    if (!valid_index(index)) return false;
    std::lock_guard lock(mutex_);
    out = channels_[std::size_t(index)].address;
    return true;
}

void ChannelTable::set_reference(const Address& address) {
    std::lock_guard lock(mutex_);
    reference_ = address;
}

Address ChannelTable::reference() {
    std::lock_guard lock(mutex_);
    return reference_;
}

std::vector<ListenEntry> ChannelTable::listen_entries() {
    std::vector<ListenEntry> entries;
    std::lock_guard lock(mutex_);
    for (int i = kFirstIndex; i <= kLastIndex; ++i) {
        const auto& s = channels_[std::size_t(i)].record.settings;
        // Given no port and no address (the mixer's records): the station copy of the index, from any address.
        if (channels_[std::size_t(i)].station) {
            entries.push_back(ListenEntry{i, kavro::robot::station_status_port(i), {}});
            continue;
        }
        // Port 0 or beyond 16 bits, or no address: nothing to listen for.
        if (s.status_port == 0 || s.status_port > 65535 || all_zero(s.status_address)) continue;
        ListenEntry e{i, static_cast<std::uint16_t>(s.status_port), {}};
        std::memcpy(e.source.data(), s.status_address, 4);
        entries.push_back(e);
    }
    return entries;
}

int ChannelTable::apply(std::uint16_t port, const Address& source, const kavro::robot::RobotStatus& status,
                        Clock::time_point now) {
    int taken = 0;
    std::lock_guard lock(mutex_);
    for (int i = kFirstIndex; i <= kLastIndex; ++i) {
        Channel& c = channels_[std::size_t(i)];
        const auto& s = c.record.settings;
        const bool station_copy = c.station && port == kavro::robot::station_status_port(i);
        if (!station_copy && (s.status_port != port || std::memcmp(s.status_address, source.data(), 4) != 0))
            continue;
        c.status = Status{status.battery, status.wheel1, status.wheel2, status.signal};
        c.heard = true;
        c.last_heard = now;
        c.has_position = is_fix(status.latitude, status.longitude);
        c.latitude = c.has_position ? static_cast<float>(status.latitude) : 0.0f;
        c.longitude = c.has_position ? static_cast<float>(status.longitude) : 0.0f;
        std::memcpy(c.record.node_address, status.node.data(), 4);
        ++taken;
    }
    return taken;
}

std::array<ChannelView, kLastIndex + 1> ChannelTable::views(Clock::time_point now) {
    std::array<ChannelView, kLastIndex + 1> out{};
    std::lock_guard lock(mutex_);
    for (int i = kFirstIndex; i <= kLastIndex; ++i) {
        const Channel& c = channels_[std::size_t(i)];
        ChannelView& v = out[std::size_t(i)];
        const auto& s = c.record.settings;
        v.configured = c.station || (s.status_port != 0 && !all_zero(s.status_address));
        v.heard = c.heard;
        v.silent = silent(c, now);
        v.reference = v.configured && std::memcmp(s.status_address, reference_.data(), 4) == 0;
        v.status = c.status;
        if (v.silent) v.status.signal = 0;
        v.has_position = c.has_position;
        v.latitude = c.latitude;
        v.longitude = c.longitude;
    }
    return out;
}

} // namespace capteur
