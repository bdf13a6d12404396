#include "console/link/gps.h"

#include "util/c_numbers.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace kavro::console {

namespace {

constexpr std::size_t kMinimumLine = 42;
constexpr std::size_t kFieldWidth = 10;

// A field of the sentence copied out and terminated, so that the number conversions stop inside it. The
// conversions use the "C" locale: the sentence has a decimal point whatever the operator's locale.
struct Field {
    char text[kFieldWidth + 1];
    Field(const char* line, std::size_t offset) {
        std::memcpy(text, line + offset, kFieldWidth);
        text[kFieldWidth] = '\0';
    }
    int integer() const {
        long v = kavro::c_strtol(text, nullptr, 10);
        return static_cast<int>(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v);
    }
    float decimal() const { return static_cast<float>(kavro::c_strtod(text, nullptr)); }
};

// ddmm.mmmm (or dddmm.mmmm) to degrees; false when the whole degrees are 0, and when the value is not a finite
// number within +-`limit` degrees (a damaged sentence must not move the position off the globe).
bool degrees(const char* line, std::size_t offset, char hemisphere, char negative, float limit, float& out) {
    Field f(line, offset);
    const int d = f.integer() / 100;
    if (d == 0) return false;
    float v = static_cast<float>(d) + (f.decimal() - 100.0f * static_cast<float>(d)) / 60.0f;
    if (!std::isfinite(v) || v < -limit || v > limit) return false;
    if (hemisphere == negative) v = -v;
    out = known_or_none(v);
    return true;
}

} // namespace

GgaReading parse_gga_block(const char* data, std::size_t size) {
    GgaReading r;
    std::size_t start = 0;
    while (start < size) {
        const void* nl = std::memchr(data + start, '\n', size - start);
        const std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - data) : size;
        const char* line = data + start;
        const std::size_t length = end - start;
        if (length >= 6 && std::memcmp(line, "$GPGGA", 6) == 0) {
            if (length < kMinimumLine) return r;
            if (!degrees(line, 18, line[28], 'S', 90.0f, r.latitude)) return r;
            r.has_latitude = true;
            r.has_longitude = degrees(line, 30, line[41], 'W', 180.0f, r.longitude);
            return r;
        }
        start = end + 1;
    }
    return r;
}

devices::SerialSettings gps_serial_settings() {
    devices::SerialSettings s;
    s.baud = 4800;
    s.data_bits = 8;
    s.parity = 'N';
    s.stop_bits = 1;
    s.dtr = true;
    s.rts = true;
    s.hardware_flow = false;
    s.software_flow = false;
    s.xon = 0x11;
    s.xoff = 0x13;
    s.interval_timeout_ms = 5000;
    s.total_timeout_ms = 5000;
    return s;
}

void gps_thread(devices::SerialPorts& ports, const std::function<std::string()>& port_name,
                std::atomic<bool>& port_changed, RobotTable& table, const std::atomic<bool>& quit,
                GpsTiming timing) {
    constexpr auto relaxed = std::memory_order_relaxed;
    RobotRow& own = table.robot(0);
    std::unique_ptr<devices::SerialPort> port;
    char buffer[256];
    while (!quit.load(relaxed)) {
        if (!port) {
            port = ports.open(port_name());
            if (port && !port->configure(timing.serial)) port.reset();
            if (!port) {
                std::this_thread::sleep_for(timing.retry);
                continue;
            }
        }
        if (port_changed.exchange(false, relaxed)) {
            port.reset(); // the next turn opens the newly chosen port
            continue;
        }
        long n = port->read(buffer, sizeof buffer);
        if (n < 0) {
            // A device that fails its reads (unplugged, hung up) is reopened after a pause instead of being
            // read again in a tight loop.
            port.reset();
            std::this_thread::sleep_for(timing.retry);
            continue;
        }
        if (n == 0) continue;
        GgaReading r = parse_gga_block(buffer, static_cast<std::size_t>(n));
        if (r.has_latitude) own.latitude.store(r.latitude, relaxed);
        if (r.has_longitude) own.longitude.store(r.longitude, relaxed);
    }
}

} // namespace kavro::console
