// The status poll: every 100 ms the operator window reads each robot's and the base station's status from the
// sensor filter and sets the Battery, Speed and S/N bars.
#pragma once

#include "console/link/robot_link.h"
#include "outside/capteur_control.h"

#include <array>
#include <cstdint>
#include <map>

namespace kavro::console {

// Control identifiers of the bars, per robot 1..4, and the four base-station bars.
inline constexpr int kBatteryBar[5] = {0, 1104, 1204, 1304, 1404};
inline constexpr int kSpeedBar[5] = {0, 1106, 1206, 1306, 1406};
inline constexpr int kSignalBar[5] = {0, 1108, 1208, 1308, 1408};
inline constexpr int kBaseBars[4] = {1325, 1328, 1334, 1337};

// Error trace locations of the sensor calls.
inline constexpr int kTraceGetConfig = 211;
inline constexpr int kTraceSetConfig = 219;
inline constexpr int kTraceAddressBytes = 231;
inline constexpr int kTraceLoopbackBytes = 234;
inline constexpr int kTraceGetStatus = 238;
inline constexpr int kTraceGetPosition = 241;

// What the poll needs from the operator window besides its fields.
class StatusWindow {
public:
    virtual void set_bar(int control_id, int value) = 0;
    // The sensor filter's interface while the video graph holds it, null otherwise.
    virtual ICapteurControl* capteur() = 0;
    // After a failing sensor call: release the whole video graph (capteur() is null afterwards) ...
    virtual void release_video_graph() = 0;
    // ... then report through the error trace with the source "InterfaceKAVRO".
    virtual void error_trace(int location, HRESULT result) = 0;

protected:
    ~StatusWindow() = default;
};

// One poll over the indexes 1..5. It keeps the window's node address table (index 1..5) up to date from the
// sensor filter and compares each address with the reference address (127.0.0.1 until a reference node is
// chosen). Returns false when a sensor call failed and the tick was abandoned.
bool status_poll(RobotTable& table, const RobotLinkFields& fields, StatusWindow& window,
                 std::map<int, Ipv4Address>& node_addresses, Ipv4Address& reference_address);

// Speed bar value of two wheel status values: |(speed 1 + speed 2) / 2|.
int speed_bar_value(int wheel1, int wheel2);

} // namespace kavro::console
