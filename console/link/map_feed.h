// The map feed: a TCP server (port 6667) for the map page. The page sends each robot's four waypoints and one
// integer; the console hands them to the sensor filter and answers with the robots' positions, the base
// position, the reference node and the last snapshot number, at most once every 2 s.
#pragma once

#include "console/link/robot_link.h"
#include "outside/capteur_control.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kavro::console {

inline constexpr std::uint16_t kMapFeedPort = 6667;
// The same feed for web browsers, which refuse port 6667 (it is on their list of unsafe ports).
inline constexpr std::uint16_t kMapFeedWebPort = 16667;
inline constexpr int kMapView = 12;
// Error trace locations of the sensor calls: waypoints 1..4, then the robot's integer.
inline constexpr int kTraceWaypointFirst = 555;
inline constexpr int kTraceRobotValue = 559;

// What the page sent last, kept for the life of the thread: per robot 1..4 the waypoints as x, y pairs and one
// integer. Fields a request does not carry keep their values.
struct MapRequest {
    float waypoints[kRobotCount][8] = {};
    int values[kRobotCount] = {};
};

// Reads "map %f %f %f %f %f %f %f %f %d" four times (robots 1..4) from `size` bytes; stops at the first field
// that cannot be read. Returns the number of fields read (0..36).
int parse_map_request(const char* data, std::size_t size, MapRequest& request);

// Everything the answer needs from the window.
class MapFeedWindow {
public:
    // Stream mode of network camera k (1..4): 1 "ZOOM", 2 "MJPEG", 3 "MPEG4"; 0 when none is selected.
    virtual int camera_mode(int camera) const = 0;
    virtual bool virtual_base() const = 0;                  // "Virtual" ticked: the base is the own receiver
    virtual std::string reference_node_text() const = 0;    // "BASE", "Robot 1".."Robot 4" or other text
    virtual int view() const = 0;                           // 12 while the map page is shown
    // Sensor filter access, as for the status poll.
    virtual ICapteurControl* capteur() = 0;
    virtual void release_video_graph() = 0;
    virtual void error_trace(int location, HRESULT result) = 0;

protected:
    ~MapFeedWindow() = default;
};

// The thread's state. The snapshot number is written by the window when a snapshot is taken and cleared after
// each answer.
struct MapFeedState {
    MapRequest request;
    int reference_node = 0;
    std::atomic<int> snapshot{0};
};

// "1 %d 0 %f %f" per robot, "0 0 0 0", base position, node, snapshot; with the terminating zero byte.
std::string format_map_answer(const int camera_modes[kRobotCount], const float positions[kRobotCount][2],
                              float base_latitude, float base_longitude, int reference_node, int snapshot);

// Reference node number for the text of the reference-node list; `current` for any other text.
int reference_node_from_text(const std::string& text, int current);

struct MapFeedConfig {
    std::uint16_t port = kMapFeedPort;
    const char* bind_address = nullptr; // every local address
    std::chrono::milliseconds pace{2000};
    std::chrono::milliseconds quit_check{100}; // how often waits look at the quit flag
    // A client that sends no request for this long is closed, so that a page that went away without closing
    // its connection (or a peer that never speaks) does not keep the map feed from the next client.
    std::chrono::milliseconds idle_limit{10000};
    std::function<void(std::uint16_t)> on_listening; // told the bound port (tests bind port 0)
    // A second port served by the same thread, one client at a time across both; nullopt: none. A port that
    // cannot be bound is reported and left out.
    std::optional<std::uint16_t> web_port;
    std::function<void(std::uint16_t)> on_web_listening;
};

// One answer to one request: sensor calls, then the answer text (with its zero byte). False when a sensor
// call failed (the graph was released and the failure traced).
bool answer_map_request(const char* data, std::size_t size, MapFeedState& state, const RobotTable& table,
                        MapFeedWindow& window, std::string& answer);

// Thread body: one client at a time. Returns when quit is set, when the port cannot be bound, or after a
// failing sensor call.
void map_feed_thread(MapFeedState& state, const RobotTable& table, MapFeedWindow& window,
                     const std::atomic<bool>& quit, MapFeedConfig config = {});

} // namespace kavro::console
