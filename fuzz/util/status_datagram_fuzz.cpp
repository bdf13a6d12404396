// Any bytes from the network: the parser either refuses them and leaves the status alone, or accepts values in
// their ranges that the formatter writes back to the very same bytes.
#include "util/status_datagram.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    kavro::robot::RobotStatus s;
    s.battery = -7; // a value no accepted datagram can leave behind
    if (!kavro::robot::parse_status_datagram(text, size, s)) {
        if (s.battery != -7) std::abort();
        return 0;
    }
    if (s.battery < 0 || s.battery > 100 || s.signal < 0 || s.signal > 100) std::abort();
    if (s.wheel1 < 0 || s.wheel1 > 127 || s.wheel2 < 0 || s.wheel2 > 127) std::abort();
    kavro::robot::RobotStatus again;
    std::string out = kavro::robot::format_status_datagram(s);
    if (!kavro::robot::parse_status_datagram(out.data(), out.size(), again)) std::abort();
    if (again.battery != s.battery || again.node != s.node || again.wheel1 != s.wheel1) std::abort();
    return 0;
}
