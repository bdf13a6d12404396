// The GPS block reader on arbitrary bytes: it must read only inside the block and give sane values.
#include "console/link/gps.h"

#include <cmath>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size heap copy, so that the sanitizer sees any read past the block.
    std::vector<char> block(data, data + size);
    auto r = kavro::console::parse_gga_block(block.data(), block.size());
    if (r.has_longitude && !r.has_latitude) std::abort();
    if (r.has_latitude && r.latitude == 0.0f) std::abort(); // an exact zero reads as "no position"
    if (r.has_longitude && r.longitude == 0.0f) std::abort();
    return 0;
}
