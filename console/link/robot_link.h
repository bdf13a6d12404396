// The robot command link: the robot table, the wheel bytes and the command sender thread that keeps one UDP
// endpoint per selected robot and drives it every 40 ms.
#pragma once

#include "console/link/drive_state.h"
#include "console/link/udp_endpoint.h"
#include "util/ipv4_address.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace kavro::console {

inline constexpr int kRobotCount = 4;       // robots 1..4
inline constexpr int kBaseIndex = 5;        // the base station in every per-index table
inline constexpr float kNoPosition = 1000.0f;

// Per-index robot state. Rows 1..4 are the robots, row 5 the base station; row 0 only has a position (the
// console's own GPS receiver). The endpoint is used by the command thread alone; the other values are written
// by one thread and read by others, hence relaxed atomics.
struct RobotRow {
    UdpEndpoint endpoint;
    std::atomic<bool> linked{false};
    std::atomic<int> battery{0};
    std::atomic<int> wheel1{0};
    std::atomic<int> wheel2{0};
    std::atomic<int> signal{0};
    std::atomic<float> latitude{kNoPosition};
    std::atomic<float> longitude{kNoPosition};
};

struct RobotTable {
    std::array<RobotRow, kBaseIndex + 1> rows;
    RobotRow& robot(int index) { return rows[static_cast<std::size_t>(index)]; }
    const RobotRow& robot(int index) const { return rows[static_cast<std::size_t>(index)]; }
};

// A position coordinate as kept in the table: an exact 0.0 means "not known" and reads as 1000.0.
inline float known_or_none(float coordinate) { return coordinate == 0.0f ? kNoPosition : coordinate; }

// The operator window's per-index fields that the link reads: the address control and the "I" (command) and
// "O" (status) ports. The command thread calls these from its own thread, so an implementation must be safe to
// call from there (the window keeps copies of the values it shows).
class RobotLinkFields {
public:
    virtual ~RobotLinkFields() = default;
    virtual Ipv4Address address(int index) const = 0; // index 1..5, dotted order
    virtual unsigned command_port(int index) const = 0;                // "I" field, robots 1..4
    virtual unsigned status_port(int index) const = 0;                 // "O" field, 1..5
};

// One wheel in a command or a status value: bit 6 set = forward, the rest the magnitude 0..63.
struct WheelBytes {
    std::uint8_t wheel1;
    std::uint8_t wheel2;
};
inline constexpr std::uint8_t kForwardBit = 64;
inline constexpr std::uint8_t kStopWheel = 64; // forward zero: what a command carries instead of 0

// Pad position (centre 100, 6..195) to the two wheel bytes; may return a 0 (backward zero), which the command
// replaces by 64.
WheelBytes wheel_from_pad(std::uint8_t pad_x, std::uint8_t pad_y, int maximum_speed = kMaximumSpeed,
                          int dead_zone = kDeadZone);
// Signed speed of a wheel status value: forward positive.
inline int wheel_speed(int wheel) { return wheel >= kForwardBit ? wheel - kForwardBit : -wheel; }

// The fixed-length command datagrams (no terminator): "speed " a ' ' b (9 bytes), "autojump " x ' ' y (12).
inline constexpr int kSpeedCommandLength = 9;
inline constexpr int kAutojumpCommandLength = 12;
std::array<char, kSpeedCommandLength> speed_command(std::uint8_t wheel1, std::uint8_t wheel2);
std::array<char, kAutojumpCommandLength> autojump_command(std::uint8_t pad_x, std::uint8_t pad_y);

struct LinkTiming {
    std::chrono::milliseconds period{40};             // one drive command per selected robot
    std::chrono::milliseconds idle{100};              // nothing selected
    std::chrono::microseconds handshake_wait{150000}; // reply to "init"
    std::chrono::milliseconds autojump_step{40};      // waiting for the pad release
};

// The command thread. Robots are walked in the order of their selection bits 1, 2, 4, 8.
class CommandSender {
public:
    CommandSender(DriveState& drive, RobotTable& table, const RobotLinkFields& fields, LinkTiming timing = {});

    // Thread body: returns when drive.quit is set, after every linked robot got a stop command.
    void run();

    // The handshake of one robot (1..4): "init" to its address and "I" port, then up to 150 ms for any reply,
    // whose sender becomes the peer of later commands. True when linked.
    bool connect(int robot);

private:
    // The handshake of every selected robot that has an address and is not linked; true when there was one.
    bool handshake_selected(int mask);
    // Autojump mode: waits for the pad's release, then sends its position once to the robots then selected.
    void send_autojump();
    // The pad's position as wheel speeds to the selected robots.
    void send_speed(int mask);
    void send_to_selected(int mask, const char* bytes, int length);
    // Every linked robot whose bit is not in `mask` gets one stop command and is forgotten.
    void release_deselected(int mask);
    void forget(int robot);

    DriveState& drive_;
    RobotTable& table_;
    const RobotLinkFields& fields_;
    LinkTiming timing_;
};

// Convenience thread entry for the console's start-up.
void command_sender_thread(DriveState& drive, RobotTable& table, const RobotLinkFields& fields,
                           LinkTiming timing = {});

} // namespace kavro::console
