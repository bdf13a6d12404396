// In-memory devices for tests: HID devices with queued input reports, game controllers with settable axes,
// serial ports fed with chunks of bytes. Each opened device shares its state with the test.
#pragma once

#include "platform/devices/game_controller.h"
#include "platform/devices/hid.h"
#include "platform/devices/serial_port.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace kavro::devices::fake {

struct HidState {
    HidAttributes attributes;
    HidCaps caps;
    bool open_fails = false;
    bool gone = false;                           // reads and writes fail
    std::deque<std::vector<std::uint8_t>> input; // reports to deliver, byte 0 the identifier
    std::vector<std::vector<std::uint8_t>> written;
    std::vector<int> read_timeouts;
    int opens = 0;
};

class FakeHidDevice : public HidDevice {
public:
    explicit FakeHidDevice(std::shared_ptr<HidState> s) : s_(std::move(s)) {}
    HidAttributes attributes() const override { return s_->attributes; }
    HidCaps caps() const override { return s_->caps; }
    long read_report(std::uint8_t* buffer, std::size_t size, int timeout_ms) override {
        s_->read_timeouts.push_back(timeout_ms);
        if (s_->gone) return -1;
        if (s_->input.empty()) return 0;
        auto report = std::move(s_->input.front());
        s_->input.pop_front();
        std::size_t n = std::min(size, report.size());
        std::copy_n(report.begin(), n, buffer);
        return static_cast<long>(n);
    }
    long write_report(const std::uint8_t* bytes, std::size_t size) override {
        if (s_->gone) return -1;
        s_->written.emplace_back(bytes, bytes + size);
        return static_cast<long>(size);
    }

private:
    std::shared_ptr<HidState> s_;
};

class FakeHidSystem : public HidSystem {
public:
    std::shared_ptr<HidState> add(const std::string& path, std::uint16_t vendor, std::uint16_t product,
                                  std::uint16_t input_length = 22, std::uint16_t output_length = 22) {
        auto s = std::make_shared<HidState>();
        s->attributes = {vendor, product, 1};
        s->caps = {input_length, output_length, true};
        devices_.emplace_back(path, s);
        return s;
    }
    std::vector<std::string> device_paths() override {
        std::vector<std::string> out;
        for (auto& d : devices_) out.push_back(d.first);
        return out;
    }
    std::unique_ptr<HidDevice> open(const std::string& path) override {
        for (auto& [p, s] : devices_) {
            if (p != path) continue;
            ++s->opens;
            if (s->open_fails) return nullptr;
            return std::make_unique<FakeHidDevice>(s);
        }
        return nullptr;
    }

private:
    std::vector<std::pair<std::string, std::shared_ptr<HidState>>> devices_;
};

struct ControllerState {
    std::int32_t x = 32767, y = 32767;
    bool poll_fails = false;
    bool read_fails = false;
    bool grab_fails = false;
    bool grabbed = false;
    bool opened = false;
};

class FakeController : public GameController {
public:
    explicit FakeController(std::shared_ptr<ControllerState> s) : s_(std::move(s)) {}
    bool grab() override { return s_->grabbed = !s_->grab_fails; }
    void release() override { s_->grabbed = false; }
    bool poll() override { return !s_->poll_fails; }
    bool read_axes(std::int32_t& x, std::int32_t& y) override {
        if (s_->read_fails) return false;
        x = s_->x;
        y = s_->y;
        return true;
    }

private:
    std::shared_ptr<ControllerState> s_;
};

class FakeControllers : public GameControllers {
public:
    std::shared_ptr<ControllerState> add(const std::string& path, const std::string& name) {
        auto s = std::make_shared<ControllerState>();
        list_.push_back({path, name});
        states_[path] = s;
        return s;
    }
    std::vector<GameControllerInfo> enumerate() override { return list_; }
    std::unique_ptr<GameController> open(const GameControllerInfo& info) override {
        auto it = states_.find(info.path);
        if (it == states_.end()) return nullptr;
        it->second->opened = true;
        return std::make_unique<FakeController>(it->second);
    }

private:
    std::vector<GameControllerInfo> list_;
    std::map<std::string, std::shared_ptr<ControllerState>> states_;
};

// A serial port whose reads return queued chunks (or 0 after a short wait when there is none).
struct SerialState {
    std::mutex lock;
    std::deque<std::string> chunks;
    bool configure_fails = false;
    bool read_fails = false;
    SerialSettings settings;
    int opens = 0;
    int closes = 0;
    std::vector<std::string> opened_names;
};

class FakeSerialPort : public SerialPort {
public:
    explicit FakeSerialPort(std::shared_ptr<SerialState> s) : s_(std::move(s)) {}
    ~FakeSerialPort() override {
        std::lock_guard<std::mutex> l(s_->lock);
        ++s_->closes;
    }
    bool configure(const SerialSettings& settings) override {
        std::lock_guard<std::mutex> l(s_->lock);
        s_->settings = settings;
        return !s_->configure_fails;
    }
    long read(void* buffer, std::size_t size) override {
        {
            std::lock_guard<std::mutex> l(s_->lock);
            if (s_->read_fails) return -1;
            if (!s_->chunks.empty()) {
                std::string c = std::move(s_->chunks.front());
                s_->chunks.pop_front();
                std::size_t n = std::min(size, c.size());
                std::copy_n(c.data(), n, static_cast<char*>(buffer));
                return static_cast<long>(n);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return 0;
    }
    long write(const void*, std::size_t size) override { return static_cast<long>(size); }

private:
    std::shared_ptr<SerialState> s_;
};

class FakeSerialPorts : public SerialPorts {
public:
    // Ports that exist; every other name fails to open.
    std::shared_ptr<SerialState> add(const std::string& name) { return ports_[name] = std::make_shared<SerialState>(); }
    std::unique_ptr<SerialPort> open(const std::string& name) override {
        std::lock_guard<std::mutex> l(lock_);
        auto it = ports_.find(name);
        if (it == ports_.end()) return nullptr;
        {
            std::lock_guard<std::mutex> sl(it->second->lock);
            ++it->second->opens;
        }
        return std::make_unique<FakeSerialPort>(it->second);
    }

private:
    std::mutex lock_;
    std::map<std::string, std::shared_ptr<SerialState>> ports_;
};

} // namespace kavro::devices::fake
