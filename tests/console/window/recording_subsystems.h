// Subsystems that record what the window asks of them, for tests of the dispatch.
#pragma once

#include "console/window/panes_without_video.h"
#include "console/window/subsystems.h"

#include <string>
#include <vector>

namespace kavro::console::test {

using Log = std::vector<std::string>;

inline const char* kind_name(CameraKind k) {
    switch (k) {
    case CameraKind::zoom: return "zoom";
    case CameraKind::mjpeg: return "mjpeg";
    case CameraKind::mpeg4: return "mpeg4";
    }
    return "?";
}

// Shows and hides panes like the window without video, and records every call.
class RecordingVideo : public PanesWithoutVideo {
public:
    RecordingVideo(ConsoleApp& app, Log& log) : PanesWithoutVideo(app), log_(log) {}
    HRESULT mesh_result = S_OK;
    HRESULT build_result = S_OK;
    HRESULT build() override {
        log_.push_back("build");
        return build_result;
    }
    void stop_view(int v) override {
        log_.push_back("stop " + std::to_string(v));
        PanesWithoutVideo::stop_view(v);
    }
    void start_view(int v) override {
        log_.push_back("start " + std::to_string(v));
        PanesWithoutVideo::start_view(v);
    }
    void fit_to_panes() override { log_.push_back("fit"); }
    HRESULT run_mesh_graph() override {
        log_.push_back("mesh");
        return mesh_result;
    }
    void stop_graphs() override { log_.push_back("stop graphs"); }
    void release_all() override { log_.push_back("release"); }
    void save_layout(const std::string& name) override { log_.push_back("save " + name); }
    void stop_player(CameraKind k) override { log_.push_back(std::string("stop player ") + kind_name(k)); }
    void camera_command(CameraKind k, const std::string& command, int speed) override {
        log_.push_back(std::string(kind_name(k)) + " " + command + " " + std::to_string(speed));
    }
    void camera_pan_tilt(int pan, int tilt) override {
        log_.push_back("pan " + std::to_string(pan) + " tilt " + std::to_string(tilt));
    }
    void camera_zoom(int level) override { log_.push_back("zoom " + std::to_string(level)); }
    void camera_digital_output(CameraKind k, int output, int state) override {
        log_.push_back(std::string(kind_name(k)) + " output " + std::to_string(output) + "=" + std::to_string(state));
    }

private:
    Log& log_;
};

class RecordingPages : public Pages {
public:
    explicit RecordingPages(Log& log) : log_(log) {}
    void archive_old_snapshots() override { log_.push_back("archive"); }
    void show_home_page() override { log_.push_back("home page"); }
    void take_snapshot() override { log_.push_back("snapshot"); }
    void navigate_map() override { log_.push_back("navigate map"); }
    void show_robot_page() override { log_.push_back("robot page"); }
    void show_video_source_page() override { log_.push_back("video page"); }
    void refresh_config_list() override { log_.push_back("refresh list"); }
    void clear_config_list() override { log_.push_back("clear list"); }
    void apply_pending_local_layout() override { log_.push_back("pending layout"); }
    void apply_configuration() override { log_.push_back("apply configuration"); }
    void launch(int n) override { log_.push_back("launch " + std::to_string(n)); }
    void apply_reference_node() override { log_.push_back("reference node"); }
    void name_mesh_nodes() override { log_.push_back("name nodes"); }

private:
    Log& log_;
};

class RecordingDevices : public Joystick {
public:
    explicit RecordingDevices(Log& log) : log_(log) {}
    HRESULT probe_result = E_FAIL;
    HRESULT probe() override {
        log_.push_back("joystick probe");
        return probe_result;
    }
    void poll_step() override { log_.push_back("joystick poll"); }
    void release() override { log_.push_back("joystick release"); }

private:
    Log& log_;
};

class RecordingWiimote : public WiiRemote {
public:
    explicit RecordingWiimote(Log& log) : log_(log) {}
    bool found = false;
    bool find_and_open() override {
        log_.push_back("wiimote find");
        return found;
    }
    void poll_step() override { log_.push_back("wiimote poll"); }
    void close() override { log_.push_back("wiimote close"); }

private:
    Log& log_;
};

class RecordingLink : public RobotLink {
public:
    explicit RecordingLink(Log& log) : log_(log) {}
    void start_command_sender() override { log_.push_back("command sender"); }
    void status_poll() override { log_.push_back("status poll"); }

private:
    Log& log_;
};

class RecordingGps : public GpsFeed {
public:
    explicit RecordingGps(Log& log) : log_(log) {}
    void start_gps_reader() override { log_.push_back("gps reader"); }
    void start_map_feed() override { log_.push_back("map feed"); }

private:
    Log& log_;
};

class RecordingRemote : public RemoteControl {
public:
    explicit RecordingRemote(Log& log) : log_(log) {}
    void start_listener() override { log_.push_back("remote listener"); }

private:
    Log& log_;
};

} // namespace kavro::console::test
