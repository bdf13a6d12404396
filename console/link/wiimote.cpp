#include "console/link/wiimote.h"

#include <algorithm>
#include <string>

namespace kavro::console {

UsbHID::~UsbHID() { Close(); }

bool UsbHID::Open(std::uint16_t vendor_id, std::uint16_t product_id) {
    Close();
    for (const std::string& path : system_.device_paths()) {
        devices::HidAttributes a;
        devices::HidCaps c;
        {
            auto probe = system_.open(path);
            if (!probe) continue; // unreadable devices are skipped silently
            a = probe->attributes();
            c = probe->caps();
        }
        if (a.vendor_id != vendor_id || a.product_id != product_id) continue;
        auto device = system_.open(path);
        if (!device) continue;
        device_ = std::move(device);
        attributes_ = a;
        caps_ = c;
        input_.assign(c.input_report_length, 0);
        output_.assign(c.output_report_length, 0);
        return true;
    }
    return false;
}

bool UsbHID::Close() {
    input_.clear();
    input_.shrink_to_fit();
    output_.clear();
    output_.shrink_to_fit();
    device_.reset();
    return true;
}

int UsbHID::ReadReport() {
    if (!device_ || input_.empty()) return 0;
    std::fill(input_.begin(), input_.end(), 0);
    long n = device_->read_report(input_.data(), input_.size(), read_wait_ms);
    return n > 0 ? static_cast<int>(n) : 0;
}

int UsbHID::WriteReport(const std::uint8_t* bytes, std::size_t size) {
    if (!device_ || output_.empty()) return 0;
    std::fill(output_.begin(), output_.end(), 0);
    std::copy_n(bytes, std::min(size, output_.size()), output_.begin());
    long n = device_->write_report(output_.data(), output_.size());
    return n > 0 ? static_cast<int>(n) : 0;
}

bool Wiimote::Connect() {
    if (!Open(kNintendoVendor, kWiiRemoteProduct)) return false;
    const std::uint8_t leds_off[] = {0x11, 0x00};
    WriteReport(leds_off, sizeof leds_off);
    const std::uint8_t mode[] = {0x12, 0x00, 0x33};
    return WriteReport(mode, sizeof mode) > 0;
}

namespace {

int smooth(int raw, int previous) {
    const int centred = raw - 106;
    return static_cast<int>(static_cast<float>(centred) - static_cast<float>(centred - previous) * 0.6f);
}

std::uint8_t tilt_to_pad(int s) {
    const int v = 6 + static_cast<int>(3.5 * s);
    return static_cast<std::uint8_t>(std::clamp(v, 6, 195));
}

} // namespace

bool wiimote_poll_step(UsbHID& remote, TiltSmoothing& tilt, DriveState& drive) {
    if (remote.ReadReport() == 0) return false;
    const auto& in = remote.input();
    const int a = in.size() > 3 ? in[3] : 0;
    const int b = in.size() > 4 ? in[4] : 0;
    tilt.sx = smooth(a, tilt.sx);
    tilt.sy = smooth(b, tilt.sy);
    drive.pad_x.store(tilt_to_pad(tilt.sx), std::memory_order_relaxed);
    drive.pad_y.store(tilt_to_pad(tilt.sy), std::memory_order_relaxed);
    return true;
}

} // namespace kavro::console
