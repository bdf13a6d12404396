#include "console/install_robot_link.h"

#include "console/link/gps.h"
#include "console/link/joystick.h"
#include "console/link/map_feed.h"
#include "console/link/robot_link.h"
#include "console/link/status_poll.h"
#include "console/link/wiimote.h"
#include "console/window/ids.h"
#include "platform/com/runtime.h"
#include "platform/devices/game_controller.h"
#include "platform/devices/hid.h"
#include "platform/devices/serial_port.h"
#include "platform/ui/error_trace.h"

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
    void refresh(const Controls& c) {
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
    }
    Ipv4Address address(int index) const override {
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

private:
    mutable std::mutex lock_;
    std::array<Ipv4Address, kBaseIndex + 1> addresses_{};
    std::array<unsigned, kBaseIndex + 1> command_ports_{};
    std::array<unsigned, kBaseIndex + 1> status_ports_{};
    std::array<int, kRobotCount + 1> modes_{};
    bool virtual_base_ = false;
    std::string reference_text_;
};

// What the robot link's subsystems and their threads share. The GPS reader holds it too and may outlive the
// program's state: it can sit in a serial read of up to 5 s when the program ends, so it is let go rather than
// waited for. That is why the robot table lives here, beside the program's state and not inside it.
struct LinkState {
    RobotTable table;
    WindowSnapshot window;
    MapFeedState map;
    // The end of the GPS reader and the map feed, set when their subsystem goes (the GPS reader cannot look at
    // the program's quit flag, which may be gone before its read returns).
    std::atomic<bool> stop{false};

    // Created on the window thread before the worker threads start; kept until the last of them is gone. A
    // failed sensor call "releases the video graph": from then on the status poll and the map feed do without.
    ComPtr<ICapteurControl> sensor;
    std::atomic<bool> sensor_released{false};
    // The video graph's sensor filter while the graph holds it (set before the worker threads start).
    GraphSensor graph_sensor;
    bool from_graph = false;
    ICapteurControl* capteur() {
        if (sensor_released.load(relaxed)) return nullptr;
        if (from_graph && !graph_sensor()) return nullptr;  // the graph is gone, and its sensor with it
        return sensor.get();
    }
};

class RobotLinkSubsystem : public RobotLink, public StatusWindow {
public:
    RobotLinkSubsystem(ConsoleApp& app, std::shared_ptr<LinkState> state) : app_(app), state_(std::move(state)) {}
    ~RobotLinkSubsystem() override {
        // Every linked robot gets its stop command before the program ends.
        app_.drive.quit.store(true, relaxed);
        if (sender_.joinable()) sender_.join();
    }

    void start_command_sender() override {
        if (!state_->sensor && state_->graph_sensor) {
            state_->sensor = state_->graph_sensor();
            state_->from_graph = state_->sensor != nullptr;
        }
        if (!state_->sensor) state_->sensor = create_sensor_filter();
        if (app_.controls) state_->window.refresh(*app_.controls);
        sender_ = std::thread([this] { command_sender_thread(app_.drive, state_->table, state_->window); });
    }

    void status_poll() override {
        if (!app_.controls) return;
        state_->window.refresh(*app_.controls);
        console::status_poll(state_->table, state_->window, *this, app_.window.node_addresses,
                             app_.window.reference_address);
    }

    void set_bar(int id, int value) override {
        if (app_.controls) app_.controls->set_progress_position(id, value);
    }
    ICapteurControl* capteur() override { return state_->capteur(); }
    void release_video_graph() override {
        state_->sensor_released.store(true, relaxed);
        app_.subsystems.video->release_all();
    }
    void error_trace(int location, HRESULT hr) override {
        ui::error_trace("InterfaceKAVRO", static_cast<unsigned>(location), hr);
    }

private:
    ConsoleApp& app_;
    std::shared_ptr<LinkState> state_;
    std::thread sender_;
};

class JoystickSubsystem : public Joystick {
public:
    explicit JoystickSubsystem(ConsoleApp& app) : app_(app) {}
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

class WiimoteSubsystem : public WiiRemote {
public:
    explicit WiimoteSubsystem(ConsoleApp& app) : app_(app) {}
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

// The map feed's view of the window; the map feed thread ends before the program's state goes.
class MapFeedSide : public MapFeedWindow {
public:
    MapFeedSide(const ConsoleApp& app, std::shared_ptr<LinkState> state) : app_(app), state_(std::move(state)) {}
    int camera_mode(int camera) const override { return state_->window.camera_mode(camera); }
    bool virtual_base() const override { return state_->window.virtual_base(); }
    std::string reference_node_text() const override { return state_->window.reference_text(); }
    int view() const override { return app_.window.view.load(relaxed); }
    ICapteurControl* capteur() override { return state_->capteur(); }
    void release_video_graph() override { state_->sensor_released.store(true, relaxed); }
    void error_trace(int location, HRESULT hr) override {
        ui::error_trace("InterfaceKAVRO", static_cast<unsigned>(location), hr);
    }

private:
    const ConsoleApp& app_;
    std::shared_ptr<LinkState> state_;
};

class GpsSubsystem : public GpsFeed {
public:
    GpsSubsystem(ConsoleApp& app, std::shared_ptr<LinkState> state) : app_(app), state_(std::move(state)) {}
    ~GpsSubsystem() override {
        state_->stop.store(true, relaxed);
        if (map_.joinable()) map_.join();
        // The GPS thread may sit in a read of up to 5 s; it holds the link state and the port request and ends
        // on its own.
        if (gps_.joinable()) gps_.detach();
    }
    void start_gps_reader() override {
        gps_ = std::thread([state = state_, port = app_.window.gps_port] {
            devices::TermiosSerialPorts ports;
            auto port_name = [&port] {
                std::lock_guard<std::mutex> l(port->lock);
                return port->name;
            };
            gps_thread(ports, port_name, port->changed, state->table, state->stop);
        });
    }
    void start_map_feed() override {
        map_ = std::thread([&app = app_, state = state_] {
            MapFeedSide side(app, state);
            MapFeedConfig config;
            config.web_port = kMapFeedWebPort; // the map page's way in
            map_feed_thread(state->map, state->table, side, state->stop, config);
        });
    }

private:
    ConsoleApp& app_;
    std::shared_ptr<LinkState> state_;
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

std::shared_ptr<std::atomic<int>> install_robot_link(ConsoleApp& app, GraphSensor graph_sensor) {
    auto state = std::make_shared<LinkState>();
    state->graph_sensor = std::move(graph_sensor);
    app.subsystems.robot_link = std::make_unique<RobotLinkSubsystem>(app, state);
    app.subsystems.joystick = std::make_unique<JoystickSubsystem>(app);
    app.subsystems.wiimote = std::make_unique<WiimoteSubsystem>(app);
    app.subsystems.gps = std::make_unique<GpsSubsystem>(app, state);
    return std::shared_ptr<std::atomic<int>>(state, &state->map.snapshot);
}

} // namespace kavro::console
