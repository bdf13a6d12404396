// The console's process-wide state: one plain struct made by main() and handed to the window procedure
// and to the worker threads by reference.
#pragma once

#include "console/window/controls.h"
#include "console/link/drive_state.h"
#include "console/window/interface_config.h"
#include "console/window/layout.h"
#include "console/window/subsystems.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace kavro::console {

// Views of the video pane.
inline constexpr int kViewCameraFirst = 4;   // 4..7: cameras 1..4
inline constexpr int kViewCameraLast = 7;
inline constexpr int kViewRemoteMixer = 9;
inline constexpr int kViewLocalMixer = 10;
inline constexpr int kViewMesh = 11;
inline constexpr int kViewPages = 12;

enum InputMode { kInputMouse = 0, kInputJoystick = 1, kInputWiimote = 2 };

// Window timers.
inline constexpr int kTimerDevicePoll = 1;
inline constexpr int kTimerConfigList = 2;
inline constexpr int kTimerStatusPoll = 3;
inline constexpr unsigned kDevicePollPeriodMs = 10;
inline constexpr unsigned kConfigListPeriodMs = 1000;
inline constexpr unsigned kStatusPollPeriodMs = 100;

// The GPS port chosen in the window, taken over by the GPS reader.
struct GpsPortRequest {
    std::mutex lock;
    std::string name;              // at most 9 characters
    std::atomic<bool> changed{false};
};

struct WindowState {
    std::atomic<int> view{kViewPages};   // also read by the map feed thread
    int input_mode = kInputMouse;
    int pad_marker_radius = 4;
    std::uint8_t camera_pad_x = kPadCentre, camera_pad_y = kPadCentre;
    int camera_marker_radius = 4;
    int pan = 157, tilt = 46;            // last values sent to an MJPEG camera
    int zoom_level = 1;                  // 1..8, shared by the MJPEG cameras
    bool mouse_drive = false;            // left button held on the pad
    bool camera_drag = false;            // right button held on the pad
    bool full_screen = false;
    int width = 0, height = 0;           // client size from the last size change
    Rect normal_pane;
    int snapshot_counter = 0;
    std::array<int, 8> channel_flags{};  // per-channel flags of the composite layout
    std::map<int, Ipv4Address> node_addresses;  // 1..4 robots, 5 base; kept by the status poll
    Ipv4Address reference_address{127, 0, 0, 1};
    // Shared with the GPS reader, which may outlive this state (it is not waited for at the end).
    std::shared_ptr<GpsPortRequest> gps_port = std::make_shared<GpsPortRequest>();
    bool exiting = false;                // the exit sequence has run
    // The pad release in autojump mode waits for the command sender to take the jump; the wait is bounded
    // so that a sender that is not running cannot freeze the window.
    unsigned autojump_wait_step_ms = 40;
    unsigned autojump_wait_limit_ms = 2000;
};

struct ConsoleApp {
    DriveState drive;
    WindowState window;
    InterfaceConfig config;
    Subsystems subsystems;
    Controls* controls = nullptr;        // the operator window, once it exists
    bool joystick_present = false;
    bool wiimote_present = false;
    // Result of the latest COM or video call (the video graphs update it too).
    std::atomic<HRESULT> last_com_status{S_OK};
    Ipv4Address own_address{};               // the station's own address, when known
    bool own_address_known = false;
    // Whether the PC has a network connection (checked once when the window is created).
    std::function<bool()> network_connected = [] { return true; };
};

} // namespace kavro::console
