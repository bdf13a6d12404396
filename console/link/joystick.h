// The game controller as drive input: found once at start-up, polled every 10 ms while it is the input.
#pragma once

#include "console/link/drive_state.h"
#include "platform/com/com.h"
#include "platform/devices/game_controller.h"

#include <cstdint>
#include <memory>

namespace kavro::console {

// The name under which a Bluetooth adapter shows its own HID port as a controller; it is never used.
inline constexpr const char* kBluetoothHidPort = "Bluetooth HID port";

// An axis value 0..65535 onto the pad: 7..195, 100 at the centre.
std::uint8_t joystick_pad_value(std::int32_t axis);

class JoystickInput {
public:
    explicit JoystickInput(devices::GameControllers& controllers) : controllers_(controllers) {}
    ~JoystickInput() { release(); }

    // Takes the first enumerated controller (skipping the Bluetooth HID port) and holds it exclusively.
    // S_OK, or E_FAIL when there is none or it cannot be held.
    HRESULT probe();
    // One poll step: the two main axes into pad X and Y. False when nothing changed (device unreadable); the
    // caller redraws the pad after a true.
    bool poll_step(DriveState& drive);
    void release();
    bool present() const { return device_ != nullptr; }

private:
    devices::GameControllers& controllers_;
    std::unique_ptr<devices::GameController> device_;
};

} // namespace kavro::console
