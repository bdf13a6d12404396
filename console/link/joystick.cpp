#include "console/link/joystick.h"

#include <string>
#include <vector>

namespace kavro::console {

std::uint8_t joystick_pad_value(std::int32_t axis) {
    const double scaled = static_cast<double>(axis) * 188.0 / 65535.0;
    return static_cast<std::uint8_t>(7 + static_cast<int>(scaled));
}

HRESULT JoystickInput::probe() {
    release();
    std::vector<devices::GameControllerInfo> usable;
    for (auto& info : controllers_.enumerate())
        if (info.name != kBluetoothHidPort) usable.push_back(info);
    if (usable.empty()) return E_FAIL;
    auto device = controllers_.open(usable.front());
    if (!device || !device->grab()) return E_FAIL;
    device_ = std::move(device);
    return S_OK;
}

bool JoystickInput::poll_step(DriveState& drive) {
    if (!device_ || !device_->poll()) return false;
    std::int32_t x = 0, y = 0;
    if (!device_->read_axes(x, y)) return false;
    drive.pad_x.store(joystick_pad_value(x), std::memory_order_relaxed);
    drive.pad_y.store(joystick_pad_value(y), std::memory_order_relaxed);
    return true;
}

void JoystickInput::release() {
    if (device_) device_->release();
    device_.reset();
}

} // namespace kavro::console
