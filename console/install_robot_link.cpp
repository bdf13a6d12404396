#include "console/install_robot_link.h"

#include "console/link/gps.h"
#include "console/window/ids.h"
#include "console/link/joystick.h"
#include "console/link/map_feed.h"
#include "console/window/model_controls.h"
#include "console/link/robot_link.h"
#include "console/link/status_poll.h"
#include "console/link/wiimote.h"
#include "platform/devices/game_controller.h"
#include "platform/devices/hid.h"
#include "platform/devices/serial_port.h"
#include "platform/ui/error_trace.h"
#include "platform/ui/ui.h"
#include "platform/com/runtime.h"

#include <cstdio>

#include <memory>
#include <mutex>
#include <thread>

namespace kavro::console {

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// The window's values that worker threads need, copied on the window thread (at start and on every status
// poll tick) so that the workers never touch the window or the console's state while it goes away.
class WindowSnapshot : public RobotLinkFields {
public:
    void refresh(const Controls& c, WindowState& w) {
        std::lock_guard<std::mutex> l(lock_);
        for (int k = 1; k <= kRobotCount; ++k) {
            addresses_[k] = c.address(ids::robot_address(k));
            command_ports_[k] = c.number(ids::robot_in_edit(k));
            status_ports_[k] = c.number(ids::robot_out_edit(k));
            modes_[k] = c.checked(ids::camera_zoom_kind(k))    ? 1
                        : c.checked(ids::camera_mjpeg_kind(k)) ? 2
                        : c.checked(ids::camera_mpeg4_kind(k)) ? 3
                                                                : 0;
        }
        addresses_[kBaseIndex] = c.address(ids::kBaseAddress);
        status_ports_[kBaseIndex] = c.number(ids::kBaseOutEdit);
        virtual_base_ = c.checked(ids::kVirtualCheck);
        reference_text_ = c.text(ids::kReferenceList);
        std::lock_guard<std::mutex> g(w.gps_port.lock);
        gps_port_ = w.gps_port.name;
    }
    std::array<std::uint8_t, 4> address(int index) const override {
        std::lock_guard<std::mutex> l(lock_);
        return addresses_[static_cast<std::size_t>(index)];
    }
    unsigned command_port(int index) const override {
        std::lock_guard<std::mutex> l(lock_);
        return command_ports_[static_cast<std::size_t>(index)];
    }
    unsigned status_port(int index) const override {
        std::lock_guard<std::mutex> l(lock_);
        return status_ports_[static_cast<std::size_t>(index)];
    }
    int camera_mode(int k) const {
        std::lock_guard<std::mutex> l(lock_);
        return modes_[static_cast<std::size_t>(k)];
    }
    bool virtual_base() const {
        std::lock_guard<std::mutex> l(lock_);
        return virtual_base_;
    }
    std::string reference_text() const {
        std::lock_guard<std::mutex> l(lock_);
        return reference_text_;
    }
    std::string gps_port() const {
        std::lock_guard<std::mutex> l(lock_);
        return gps_port_;
    }

private:
    mutable std::mutex lock_;
    std::array<std::array<std::uint8_t, 4>, kBaseIndex + 1> addresses_{};
    std::array<unsigned, kBaseIndex + 1> command_ports_{};
    std::array<unsigned, kBaseIndex + 1> status_ports_{};
    std::array<int, kRobotCount + 1> modes_{};
    bool virtual_base_ = false;
    std::string reference_text_;
    std::string gps_port_;
};

// State shared by the seams and their threads; the threads hold it too, so it outlives the console's state.
struct LinkRoom {
    RobotTable table;
    WindowSnapshot window;
    MapFeedState map;
    std::atomic<bool> stop{false};          // the console's quit, mirrored for the threads that outlive it
    std::atomic<bool> gps_port_changed{false};
    std::atomic<int> view{kViewPages};

    // Created on the window thread before the worker threads start; kept until the last of them is gone. A
    // failed sensor call "releases the video graph": from then on the status poll and the map feed do without.
    ComPtr<ICapteurControl> sensor;
    std::atomic<bool> sensor_released{false};
    ICapteurControl* capteur() { return sensor_released.load(relaxed) ? nullptr : sensor.get(); }
};

class RobotLinkSeam : public RobotLink, public StatusWindow {
public:
    RobotLinkSeam(ConsoleApp& app, std::shared_ptr<LinkRoom> room) : app_(app), room_(std::move(room)) {}
    ~RobotLinkSeam() override {
        // Every linked robot gets its stop command before the program ends.
        app_.drive.quit.store(true, relaxed);
        room_->stop.store(true, relaxed);
        if (sender_.joinable()) sender_.join();
    }

    void start_command_sender() override {
        if (!room_->sensor) room_->sensor = create_sensor_filter();
        if (app_.controls) room_->window.refresh(*app_.controls, app_.window);
        sender_ = std::thread([this] { command_sender_thread(app_.drive, room_->table, room_->window); });
    }

    void status_poll() override {
        if (!app_.controls) return;
        room_->window.refresh(*app_.controls, app_.window);
        room_->view.store(app_.window.view.load(relaxed), relaxed);
        if (app_.window.gps_port.changed.exchange(false, relaxed)) room_->gps_port_changed.store(true, relaxed);
        if (app_.drive.quit.load(relaxed)) room_->stop.store(true, relaxed);
        console::status_poll(room_->table, room_->window, *this, app_.window.node_addresses,
                             app_.window.reference_address);
    }

    void set_bar(int id, int value) override {
        if (auto* model = dynamic_cast<ModelControls*>(app_.controls)) ui::progress_set_pos(model->item(id), value);
    }
    ICapteurControl* capteur() override { return room_->capteur(); }
    void release_video_graph() override {
        room_->sensor_released.store(true, relaxed);
        app_.seams.video->release_all();
    }
    void error_trace(int location, HRESULT hr) override {
        ui::error_trace("InterfaceKAVRO", static_cast<unsigned>(location), hr);
    }

private:
    ConsoleApp& app_;
    std::shared_ptr<LinkRoom> room_;
    std::thread sender_;
};

class JoystickSeam : public Joystick {
public:
    explicit JoystickSeam(ConsoleApp& app) : app_(app) {}
    HRESULT probe() override { return input_.probe(); }
    void poll_step() override {
        if (input_.poll_step(app_.drive) && app_.controls) app_.controls->redraw_pad();
    }
    void release() override { input_.release(); }

private:
    ConsoleApp& app_;
    devices::EvdevControllers controllers_;
    JoystickInput input_{controllers_};
};

class WiimoteSeam : public WiiRemote {
public:
    explicit WiimoteSeam(ConsoleApp& app) : app_(app) {}
    bool find_and_open() override { return remote_.Connect(); }
    void poll_step() override {
        if (wiimote_poll_step(remote_, tilt_, app_.drive) && app_.controls) app_.controls->redraw_pad();
    }
    void close() override { remote_.Close(); }

private:
    ConsoleApp& app_;
    devices::HidrawSystem hid_;
    Wiimote remote_{hid_};
    TiltSmoothing tilt_;
};

class MapFeedSide : public MapFeedWindow {
public:
    explicit MapFeedSide(std::shared_ptr<LinkRoom> room) : room_(std::move(room)) {}
    int camera_mode(int camera) const override { return room_->window.camera_mode(camera); }
    bool virtual_base() const override { return room_->window.virtual_base(); }
    std::string reference_node_text() const override { return room_->window.reference_text(); }
    int view() const override { return room_->view.load(relaxed); }
    ICapteurControl* capteur() override { return room_->capteur(); }
    void release_video_graph() override { room_->sensor_released.store(true, relaxed); }
    void error_trace(int location, HRESULT hr) override {
        ui::error_trace("InterfaceKAVRO", static_cast<unsigned>(location), hr);
    }

private:
    std::shared_ptr<LinkRoom> room_;
};

class GpsSeam : public GpsFeed {
public:
    explicit GpsSeam(std::shared_ptr<LinkRoom> room) : room_(std::move(room)) {}
    ~GpsSeam() override {
        room_->stop.store(true, relaxed);
        if (map_.joinable()) map_.join();
        // The GPS thread may sit in a read of up to 5 s; it holds the room and ends on its own.
        if (gps_.joinable()) gps_.detach();
    }
    void start_gps_reader() override {
        gps_ = std::thread([room = room_] {
            devices::TermiosSerialPorts ports;
            gps_thread(ports, [&room] { return room->window.gps_port(); }, room->gps_port_changed, room->table,
                       room->stop);
        });
    }
    void start_map_feed() override {
        map_ = std::thread([room = room_] {
            MapFeedSide side(room);
            map_feed_thread(room->map, room->table, side, room->stop);
        });
    }

private:
    std::shared_ptr<LinkRoom> room_;
    std::thread gps_, map_;
};

} // namespace

ComPtr<ICapteurControl> create_sensor_filter() {
    ComPtr<ICapteurControl> sensor;
    HRESULT hr = CoCreateInstance(CLSID_Capteur, nullptr, CLSCTX_INPROC_SERVER, IID_ICapteurControl,
                                  sensor.put_void());
    if (FAILED(hr)) {
        std::fprintf(stderr, "InterfaceKAVRO: no sensor filter \"Capteur\" (0x%08X): robot status is not shown\n",
                     static_cast<unsigned>(hr));
        return nullptr;
    }
    return sensor;
}

void install_link_seams(ConsoleApp& app) {
    auto room = std::make_shared<LinkRoom>();
    app.seams.robot_link = std::make_unique<RobotLinkSeam>(app, room);
    app.seams.joystick = std::make_unique<JoystickSeam>(app);
    app.seams.wiimote = std::make_unique<WiimoteSeam>(app);
    app.seams.gps = std::make_unique<GpsSeam>(room);
}

} // namespace kavro::console
