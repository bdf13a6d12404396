// The console's own GPS receiver: NMEA "$GPGGA" sentences from a serial port into position row 0.
#pragma once

#include "console/link/robot_link.h"
#include "platform/devices/serial_port.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace kavro::console {

// What one block of received bytes gave. A latitude whose whole degrees are 0 stops the reading there.
struct GgaReading {
    bool has_latitude = false;
    bool has_longitude = false;
    float latitude = 0.0f;  // decimal degrees, south negative, 1000.0 for an exact 0.0
    float longitude = 0.0f; // west negative
};

// The first line of the block that begins with "$GPGGA", read at its fixed offsets (latitude: 10 characters at
// 18, hemisphere at 28; longitude: 10 characters at 30, hemisphere at 41). A first such line shorter than 42
// characters gives nothing. Reads only within `size`.
GgaReading parse_gga_block(const char* data, std::size_t size);

// 4800 baud, 8N1, DTR and RTS on, no flow control, 5 s read time-outs.
devices::SerialSettings gps_serial_settings();

struct GpsTiming {
    std::chrono::milliseconds retry{100};
    devices::SerialSettings serial = gps_serial_settings();
};

// Thread body: keeps the port named by port_name() open, reopens it when port_changed is set (and clears the
// flag), and writes each reading into row 0 of the table. Returns when quit is set (checked between reads).
void gps_thread(devices::SerialPorts& ports, const std::function<std::string()>& port_name,
                std::atomic<bool>& port_changed, RobotTable& table, const std::atomic<bool>& quit,
                GpsTiming timing = {});

} // namespace kavro::console
