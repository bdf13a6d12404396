// HID devices by their raw reports, on hidraw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kavro::devices {

struct HidAttributes {
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    std::uint16_t version = 0;
};

// Report lengths in bytes, the leading report identifier byte included (0 for devices without numbered
// reports), as the device's report descriptor gives them: the longest input and output report.
struct HidCaps {
    std::uint16_t input_report_length = 0;
    std::uint16_t output_report_length = 0;
    bool numbered_reports = false;
};

HidCaps caps_from_report_descriptor(const std::uint8_t* descriptor, std::size_t size);

class HidDevice {
public:
    virtual ~HidDevice() = default;
    virtual HidAttributes attributes() const = 0;
    virtual HidCaps caps() const = 0;
    // Waits up to timeout_ms for one input report; byte 0 is the report identifier. 0 when none came in time,
    // negative on an error (device gone).
    virtual long read_report(std::uint8_t* buffer, std::size_t size, int timeout_ms) = 0;
    // Writes one output report (byte 0 the report identifier). Bytes transferred or negative.
    virtual long write_report(const std::uint8_t* bytes, std::size_t size) = 0;
};

class HidSystem {
public:
    virtual ~HidSystem() = default;
    // Present HID devices, in a stable order.
    virtual std::vector<std::string> device_paths() = 0;
    // Null when the device cannot be opened or its attributes or descriptor cannot be read.
    virtual std::unique_ptr<HidDevice> open(const std::string& path) = 0;
};

class HidrawSystem : public HidSystem {
public:
    explicit HidrawSystem(std::string device_folder = "/dev") : folder_(std::move(device_folder)) {}
    std::vector<std::string> device_paths() override;
    std::unique_ptr<HidDevice> open(const std::string& path) override;

private:
    std::string folder_;
};

} // namespace kavro::devices
