// Serial ports by their system names "COM1".."COM10", on termios.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>

namespace kavro::devices {

struct SerialSettings {
    unsigned baud = 4800;
    int data_bits = 8;
    char parity = 'N';          // 'N', 'E' or 'O'
    int stop_bits = 1;          // 1 or 2
    bool dtr = true;
    bool rts = true;
    bool hardware_flow = false; // RTS/CTS
    bool software_flow = false; // XON/XOFF
    unsigned char xon = 0x11;
    unsigned char xoff = 0x13;
    // A read returns when the buffer is full, when no byte came for interval_timeout_ms after the first one, or
    // when total_timeout_ms have passed since the read began.
    int interval_timeout_ms = 5000;
    int total_timeout_ms = 5000;
};

class SerialPort {
public:
    virtual ~SerialPort() = default;
    virtual bool configure(const SerialSettings& settings) = 0;
    // Bytes read (0 when the time-outs passed without data), negative on an error.
    virtual long read(void* buffer, std::size_t size) = 0;
    virtual long write(const void* bytes, std::size_t size) = 0;
};

class SerialPorts {
public:
    virtual ~SerialPorts() = default;
    // Opens an existing port for reading and writing, exclusively. Null when it cannot be opened.
    virtual std::unique_ptr<SerialPort> open(const std::string& name) = 0;
};

// "COMn" (n = 1..10) names a device path: the environment variable KAVRO_COMn when set, else /dev/ttyS<n-1>.
// An absolute path stands for itself. Anything else has no device (empty result).
std::string serial_device_path(const std::string& name);

class TermiosSerialPorts : public SerialPorts {
public:
    TermiosSerialPorts() = default;
    // Explicit names ("COM3" -> "/dev/ttyUSB0") take precedence over the environment and the default.
    explicit TermiosSerialPorts(std::map<std::string, std::string> paths) : paths_(std::move(paths)) {}
    std::unique_ptr<SerialPort> open(const std::string& name) override;

private:
    std::map<std::string, std::string> paths_;
};

} // namespace kavro::devices
