// A HID device opened by vendor and product identifier, and the Wii Remote as tilt input for the drive pad.
#pragma once

#include "console/link/drive_state.h"
#include "platform/devices/hid.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kavro::console {

class UsbHID {
public:
    explicit UsbHID(devices::HidSystem& system) : system_(system) {}
    virtual ~UsbHID();
    UsbHID(const UsbHID&) = delete;
    UsbHID& operator=(const UsbHID&) = delete;

    // Closes what is open, then opens the first present device with both identifiers.
    bool Open(std::uint16_t vendor_id, std::uint16_t product_id);
    // Frees the report buffers and closes the device; always true.
    bool Close();
    // Waits up to the read wait (10 ms) for one input report into the input buffer: bytes read, 0 for none.
    int ReadReport();
    // One output report of exactly the output-report length: `bytes` first, zeros after. Bytes written.
    int WriteReport(const std::uint8_t* bytes, std::size_t size);

    bool is_open() const { return device_ != nullptr; }
    const std::vector<std::uint8_t>& input() const { return input_; }
    const devices::HidAttributes& attributes() const { return attributes_; }
    const devices::HidCaps& caps() const { return caps_; }
    int read_wait_ms = 10;

private:
    devices::HidSystem& system_;
    std::unique_ptr<devices::HidDevice> device_;
    devices::HidAttributes attributes_;
    devices::HidCaps caps_;
    std::vector<std::uint8_t> input_;
    std::vector<std::uint8_t> output_;
};

inline constexpr std::uint16_t kNintendoVendor = 0x057E;
inline constexpr std::uint16_t kWiiRemoteProduct = 0x0306;

class Wiimote : public UsbHID {
public:
    using UsbHID::UsbHID;
    // Opens the remote, turns its LEDs and rumble off and asks for reports with buttons, accelerometer and
    // infrared (mode 0x33). True when the mode request went out.
    bool Connect();
};

// The smoothed tilt, kept between poll steps.
struct TiltSmoothing {
    int sx = 0;
    int sy = 0;
};

// One 10 ms step: reads a report and turns accelerometer X and Y into pad X and Y. False when no report came
// (nothing changes); the caller redraws the pad after a true.
bool wiimote_poll_step(UsbHID& remote, TiltSmoothing& tilt, DriveState& drive);

} // namespace kavro::console
