// The subsystems the operator window drives: video panes, robot link, input devices, GPS and map feed, remote
// control, and the pages/snapshot commands. Each comes with a do-nothing implementation that the console uses
// until the real one is installed; none of them pretends to work.
#pragma once

#include "platform/com/com.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct IMesh;
struct ICapteurControl;
namespace MinXL {
class t_xml_node;
}
namespace kavro {
struct ConsoleLayout;
}

namespace kavro::console {

// Camera player kinds, in the order of the camera block's kind radios.
enum class CameraKind { zoom = 1, mjpeg = 2, mpeg4 = 3 };

// The console's video graphs and hosted players (panes 1000..1003, 1014, 1015, 1018).
class VideoPanes {
public:
    virtual ~VideoPanes() = default;
    // Builds every graph and player once, after the window is shown. 0 on success.
    virtual HRESULT build() { return S_OK; }
    // Called on every view change: first for the old view, then for the new one.
    virtual void stop_view(int /*view*/) {}
    virtual void start_view(int /*view*/) {}
    // Called after the panes were moved or resized.
    virtual void fit_to_panes() {}
    // Runs the mesh graph for the topology view; a failure has been reported and the objects released.
    virtual HRESULT run_mesh_graph() { return S_OK; }
    // Stops the composite, mixer-view and mesh graphs, each only when it exists.
    virtual void stop_graphs() {}
    // Releases every video object; a second call does nothing.
    virtual void release_all() {}
    // Saves the current composite configuration document as "./configs/<name>".
    virtual void save_layout(const std::string& /*name*/) {}

    // Camera players: the one player of a kind serves whichever camera of that kind is shown.
    virtual void stop_player(CameraKind) {}
    virtual void camera_command(CameraKind, const std::string& /*command*/, int /*speed*/) {}
    virtual void camera_pan_tilt(int /*pan*/, int /*tilt*/) {}  // MJPEG
    virtual void camera_zoom(int /*level*/) {}                  // MJPEG
    virtual void camera_digital_output(CameraKind, int /*output*/, int /*state*/) {}

    // What the snapshot, layout and reference-node commands take from the video build. All on the window thread.
    //
    // The player of `kind` saves its current picture as a JPEG file at `path` (a system path such as
    // "C:/Program Files/KAVRO/Map/snapshot/snapshot1.jpg"). Negative when there is no player or no picture; the
    // caller checks for the file itself and reports nothing more.
    virtual HRESULT save_player_picture(CameraKind, const std::string& /*path*/) { return E_NOTIMPL; }
    // A copy of the current image of the renderer of view 9 (remote mixer picture) or 10 (local composite) as a
    // device-independent bitmap: the 40-byte BITMAPINFOHEADER followed by the pixels, as the renderer gives it
    // (32 bits a pixel, rows bottom-up, no row padding). Negative (dib empty) for another view, without a
    // renderer, or when the renderer fails; the caller then releases every video object and reports.
    virtual HRESULT current_image(int /*view*/, std::vector<std::uint8_t>& dib) {
        dib.clear();
        return E_NOTIMPL;
    }
    // The mesh picture source's IMesh, borrowed (valid until release_all), or null before the build or after a
    // failure.
    virtual IMesh* mesh() { return nullptr; }
    // The sensor filter the composite graph holds, borrowed (valid until release_all), or null.
    virtual ICapteurControl* sensor_filter() { return nullptr; }
    // A configuration document just read from "./configs/kavro.xml": the document is copied and becomes the one
    // save_layout writes; each pane's entry of `layout` is applied by the rule of the remote layout command
    // (disconnect at alpha <= 0.1, connect at >= 0.1, then output rectangle, alpha and z-order 12 - z). The
    // graph is not run. Negative when a graph call failed (not reported, nothing released: the caller does).
    virtual HRESULT take_layout(const MinXL::t_xml_node& /*doc*/, const ConsoleLayout& /*layout*/) { return S_OK; }
    // Runs the composite graph. Negative on failure, not reported (the caller reports with its location).
    virtual HRESULT run_composite_graph() { return S_OK; }
    // The web pane 1018 is the window model's web view (ui::web_navigate, ui::web_location on the pane), made
    // with the window and shown by the front end with a browser engine; the video build creates no browser.
};

// Robot command sender thread and the status poll of the progress bars.
class RobotLink {
public:
    virtual ~RobotLink() = default;
    virtual void start_command_sender() {}
    // Runs on the window thread every 100 ms.
    virtual void status_poll() {}
};

// Game controller.
class Joystick {
public:
    virtual ~Joystick() = default;
    // Negative when no controller could be opened.
    virtual HRESULT probe() { return E_FAIL; }
    // One 10 ms step: reads the axes into the pad and redraws it.
    virtual void poll_step() {}
    virtual void release() {}
};

// Wii Remote.
class WiiRemote {
public:
    virtual ~WiiRemote() = default;
    virtual bool find_and_open() { return false; }
    virtual void poll_step() {}
    virtual void close() {}
};

// GPS receiver thread and the map feed server thread.
class GpsFeed {
public:
    virtual ~GpsFeed() = default;
    virtual void start_gps_reader() {}
    virtual void start_map_feed() {}
};

// UDP remote-control listener thread.
class RemoteControl {
public:
    virtual ~RemoteControl() = default;
    virtual void start_listener() {}
};

// Snapshots, map and web pages, the mixer configuration exchange and the reference node.
class Pages {
public:
    virtual ~Pages() = default;
    virtual void archive_old_snapshots() {}
    // Brings the browser to the station's home page (at start, before the video is built).
    virtual void show_home_page() {}
    // On success the snapshot shows the map: navigate_map() and show_page_view() of the operator window.
    virtual void take_snapshot() {}
    // Brings the browser to the map page unless it already shows it (the view change is the window's).
    virtual void navigate_map() {}
    virtual void show_robot_page() {}
    virtual void show_video_source_page() {}
    virtual void refresh_config_list() {}
    virtual void clear_config_list() {}
    virtual void apply_pending_local_layout() {}
    virtual void apply_configuration() {}
    virtual void launch(int /*number*/) {}
    virtual void apply_reference_node() {}
    virtual void name_mesh_nodes() {}
};

// The set the console runs with; main() replaces members with the real subsystems.
struct Subsystems {
    std::unique_ptr<VideoPanes> video = std::make_unique<VideoPanes>();
    std::unique_ptr<RobotLink> robot_link = std::make_unique<RobotLink>();
    std::unique_ptr<Joystick> joystick = std::make_unique<Joystick>();
    std::unique_ptr<WiiRemote> wiimote = std::make_unique<WiiRemote>();
    std::unique_ptr<GpsFeed> gps = std::make_unique<GpsFeed>();
    std::unique_ptr<RemoteControl> remote = std::make_unique<RemoteControl>();
    std::unique_ptr<Pages> pages = std::make_unique<Pages>();
};

} // namespace kavro::console
