// Game controllers (joysticks, game pads), on evdev.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kavro::devices {

struct GameControllerInfo {
    std::string path;
    std::string name;
};

class GameController {
public:
    virtual ~GameController() = default;
    // Exclusive use: no other program receives the device's input while it is held.
    virtual bool grab() = 0;
    virtual void release() = 0;
    // Takes in the pending input; false when the device is gone.
    virtual bool poll() = 0;
    // The X and Y axes scaled to 0..65535 (centre about 32767); false when they cannot be read.
    virtual bool read_axes(std::int32_t& x, std::int32_t& y) = 0;
};

class GameControllers {
public:
    virtual ~GameControllers() = default;
    // Attached game controllers in a stable order.
    virtual std::vector<GameControllerInfo> enumerate() = 0;
    virtual std::unique_ptr<GameController> open(const GameControllerInfo& info) = 0;
};

// An absolute axis value from its range onto 0..65535.
std::int32_t scale_axis(std::int32_t value, std::int32_t minimum, std::int32_t maximum);

class EvdevControllers : public GameControllers {
public:
    explicit EvdevControllers(std::string device_folder = "/dev/input") : folder_(std::move(device_folder)) {}
    std::vector<GameControllerInfo> enumerate() override;
    std::unique_ptr<GameController> open(const GameControllerInfo& info) override;

private:
    std::string folder_;
};

} // namespace kavro::devices
