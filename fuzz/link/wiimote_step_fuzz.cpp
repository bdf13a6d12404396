// Wii Remote reports of any length and content through the poll step: byte 0 of the input gives the
// device's input report length, then each report is a length byte and its bytes. Every step keeps the pad
// inside its drawn range and reads only inside the report.
#include "console/link/wiimote.h"
#include "platform/devices/fake_devices.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

using namespace kavro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    devices::fake::FakeHidSystem system;
    auto state = system.add("/dev/hidraw0", console::kNintendoVendor, console::kWiiRemoteProduct, data[0], 22);
    for (std::size_t i = 1; i < size;) {
        const std::size_t n = std::min<std::size_t>(data[i], size - i - 1);
        state->input.emplace_back(data + i + 1, data + i + 1 + n);
        i += 1 + n;
    }
    console::Wiimote remote(system);
    if (!remote.Open(console::kNintendoVendor, console::kWiiRemoteProduct)) return 0;
    console::TiltSmoothing tilt;
    console::DriveState drive;
    for (std::size_t steps = state->input.size(); steps > 0; --steps) {
        console::wiimote_poll_step(remote, tilt, drive);
        const int x = drive.pad_x.load(), y = drive.pad_y.load();
        if (x < 6 || x > 195 || y < 6 || y > 195) std::abort();
    }
    return 0;
}
