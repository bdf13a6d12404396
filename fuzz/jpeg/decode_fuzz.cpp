// The JPEG decode path on arbitrary bytes: header reading, then decoding into an exact-size buffer of a
// format and row order chosen by the first byte. A success must match the header and fit the buffer.
#include "platform/jpeg/jpeg.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    using namespace kavro::jpeg;
    const std::uint8_t choice = data[0];
    const std::span<const std::uint8_t> jpeg(data + 1, size - 1);
    Info header;
    const Status info_status = read_info(jpeg, header);
    Target t;
    t.format = static_cast<PixelFormat>(choice % 4);
    t.bottom_up = (choice & 4) != 0;
    t.width = 64 + (choice >> 3) % 4 * 64;
    t.height = 48 + (choice >> 5) * 32;
    t.stride = static_cast<std::size_t>(t.width) * bytes_per_pixel(t.format) + (choice & 8 ? 3 : 0);
    t.size = t.stride * static_cast<std::size_t>(t.height - 1) + static_cast<std::size_t>(t.width) * bytes_per_pixel(t.format);
    std::vector<std::uint8_t> buffer(t.size); // exact size: any write past it is caught
    t.pixels = buffer.data();
    Info decoded;
    const Status status = decode(jpeg, t, &decoded);
    if (status == Status::ok) {
        if (info_status != Status::ok) std::abort();
        if (decoded.width != header.width || decoded.height != header.height) std::abort();
        if (decoded.width > t.width || decoded.height > t.height) std::abort();
    }
    return 0;
}
