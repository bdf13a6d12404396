// A HID report descriptor of any content, as a device hands it over: read only inside it, and report
// lengths that fit the 16-bit fields (a length that wrapped round would size the report buffers wrong).
#include "platform/devices/hid.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size heap copy, so that the sanitizer sees any read past the descriptor.
    const std::vector<std::uint8_t> descriptor(data, data + size);
    const auto caps = kavro::devices::caps_from_report_descriptor(descriptor.data(), descriptor.size());
    if (!caps.numbered_reports && size == 0 && (caps.input_report_length || caps.output_report_length)) std::abort();
    return 0;
}
