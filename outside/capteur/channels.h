// What the sensor filter keeps per index (1..4 the robots, 5 the base station): the channel record, the last
// status and position heard from the robot, the map page's waypoints and integer. Shared by the window thread
// (ICapteurControl), the status listener and the streaming thread, so every access holds one mutex briefly.
#pragma once

#include "outside/sensor_record.h"
#include "util/ipv4_address.h"
#include "util/status_datagram.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace capteur {

using Clock = std::chrono::steady_clock;
using Address = kavro::Ipv4Address;

inline constexpr int kFirstIndex = 1;
inline constexpr int kLastIndex = 5;
inline constexpr int kBaseIndex = 5;
// A robot whose datagrams stop for this long keeps its values but shows signal 0.
inline constexpr Clock::duration kDefaultSilence = std::chrono::seconds(2);

inline bool valid_index(int index) { return index >= kFirstIndex && index <= kLastIndex; }

struct Status {
    std::int32_t battery = 0;
    std::int32_t wheel1 = 0;
    std::int32_t wheel2 = 0;
    std::int32_t signal = 0;
};

// One index as the overlay draws it.
struct ChannelView {
    bool configured = false; // a status address and port are set, or the station copy is taken
    bool heard = false;      // at least one datagram arrived since the address was set
    bool silent = false;     // heard, but nothing for the silence period
    bool reference = false;  // its address is the console's reference address
    Status status;           // signal already 0 when silent
    bool has_position = false;
    float latitude = 0.0f;
    float longitude = 0.0f;
};

// Where the listener must listen (port) and whose datagrams it takes there (source address).
struct ListenEntry {
    int index;
    std::uint16_t port;
    Address source;
};

class ChannelTable {
public:
    explicit ChannelTable(Clock::duration silence = kDefaultSilence) : silence_(silence) {}

    // In a station that shows the robots without driving them (the mixer, which sets
    // KAVRO_STATION_STATUS in its environment): an index given no status port and no address takes the
    // station copy of its status, at kavro::robot::station_status_port(index), from any address.
    void set_station_copies(bool on) { station_copies_ = on; }

    // Stores the 52 settings bytes. A new status address forgets what the old robot had reported.
    // False for an index outside 1..5.
    bool set_config(int index, const kavro::SensorChannelRecord& record);
    // The record with the node address last reported by the robot in bytes 52..55.
    bool get_config(int index, kavro::ConsoleSensorChannelRecord& record);

    // Battery, wheels and signal (0 once the robot has been silent for the silence period).
    bool status(int index, Clock::time_point now, Status& out);
    // Latitude and longitude; 0.0 for both when no position is known.
    bool position(int index, float& latitude, float& longitude);

    bool set_waypoint(int index, int waypoint, float x, float y); // waypoint 1..4
    bool waypoint(int index, int waypoint, float& x, float& y);
    bool set_value(int index, int value);
    bool value(int index, int& out);

    // The console hands each index's address after naming the index in GetConfig/SetConfig, and the
    // reference address when an index's address equals it.
    void set_address(const Address& address); // for the index named last
    bool address(int index, Address& out);
    void set_reference(const Address& address);
    Address reference();

    // Listener side.
    std::vector<ListenEntry> listen_entries();
    unsigned generation() const { return generation_.load(std::memory_order_relaxed); }
    // Stores a datagram received at `port` from `source` into every index that listens there for it.
    // Returns how many indexes took it.
    int apply(std::uint16_t port, const Address& source, const kavro::robot::RobotStatus& status,
              Clock::time_point now);

    std::array<ChannelView, kLastIndex + 1> views(Clock::time_point now); // [0] unused

private:
    struct Channel {
        kavro::ConsoleSensorChannelRecord record{};
        Status status;
        bool heard = false;
        Clock::time_point last_heard{};
        bool has_position = false;
        float latitude = 0.0f;
        float longitude = 0.0f;
        std::array<float, 8> waypoints{};
        int value = 0;
        Address address{};
        // Set (with no status port and no address) by a station that shows the robots without driving them:
        // the index takes the station copy of its status (docs/mixer-robot-status.md).
        bool station = false;
    };
    bool silent(const Channel& c, Clock::time_point now) const { return c.heard && now - c.last_heard >= silence_; }

    std::atomic<bool> station_copies_{false};
    std::mutex mutex_;
    std::array<Channel, kLastIndex + 1> channels_{}; // [0] unused
    int last_named_ = 0;
    Address reference_{127, 0, 0, 1};
    std::atomic<unsigned> generation_{0};
    const Clock::duration silence_;
};

} // namespace capteur
