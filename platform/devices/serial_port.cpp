#include "platform/devices/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace kavro::devices {

namespace {

speed_t speed_of(unsigned baud) {
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

class TermiosPort : public SerialPort {
public:
    explicit TermiosPort(int fd) : fd_(fd) {}
    ~TermiosPort() override {
        // Exclusive mode stays on the terminal after the last close; left set, every later open by a program
        // without CAP_SYS_ADMIN (this one reopening the port included) fails with EBUSY.
        if (::isatty(fd_)) ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }

    bool configure(const SerialSettings& s) override {
        termios t{};
        if (::tcgetattr(fd_, &t) != 0) return false;
        ::cfmakeraw(&t);
        const speed_t speed = speed_of(s.baud);
        if (speed == B0 || ::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return false;
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        switch (s.data_bits) {
        case 5: t.c_cflag |= CS5; break;
        case 6: t.c_cflag |= CS6; break;
        case 7: t.c_cflag |= CS7; break;
        case 8: t.c_cflag |= CS8; break;
        default: return false;
        }
        if (s.parity == 'E' || s.parity == 'O') t.c_cflag |= PARENB;
        if (s.parity == 'O') t.c_cflag |= PARODD;
        if (s.stop_bits == 2) t.c_cflag |= CSTOPB;
        if (s.hardware_flow) t.c_cflag |= CRTSCTS;
        t.c_cflag |= CLOCAL | CREAD;
        t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        if (s.software_flow) t.c_iflag |= IXON | IXOFF;
        t.c_cc[VSTART] = s.xon;
        t.c_cc[VSTOP] = s.xoff;
        // Reads never block in the driver: the time-outs are kept by read() below.
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        if (::tcsetattr(fd_, TCSANOW, &t) != 0) return false;
        int lines = (s.dtr ? TIOCM_DTR : 0) | (s.rts ? TIOCM_RTS : 0);
        if (lines != 0 && ::ioctl(fd_, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
            return false; // a pseudo terminal has no modem lines; that is not an error
        interval_ms_ = s.interval_timeout_ms;
        total_ms_ = s.total_timeout_ms;
        return true;
    }

    long read(void* buffer, std::size_t size) override {
        using Clock = std::chrono::steady_clock;
        auto* out = static_cast<unsigned char*>(buffer);
        std::size_t got = 0;
        const auto end = Clock::now() + std::chrono::milliseconds(total_ms_);
        while (got < size) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) break;
            long wait = left;
            if (got > 0 && interval_ms_ > 0 && interval_ms_ < wait) wait = interval_ms_;
            pollfd p{fd_, POLLIN, 0};
            int r = ::poll(&p, 1, static_cast<int>(wait));
            if (r < 0) {
                if (errno == EINTR) continue;
                return got > 0 ? static_cast<long>(got) : -1;
            }
            if (r == 0) {
                if (got > 0) break; // the line went quiet after some bytes
                continue;
            }
            if ((p.revents & (POLLERR | POLLNVAL)) != 0) return got > 0 ? static_cast<long>(got) : -1;
            ssize_t n = ::read(fd_, out + got, size - got);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return got > 0 ? static_cast<long>(got) : -1;
            }
            if (n == 0) {
                // Hang-up (the other end of a pty closed, a USB adapter pulled): report it as an error.
                if ((p.revents & POLLHUP) != 0) return got > 0 ? static_cast<long>(got) : -1;
                continue;
            }
            got += static_cast<std::size_t>(n);
        }
        return static_cast<long>(got);
    }

    long write(const void* bytes, std::size_t size) override { return static_cast<long>(::write(fd_, bytes, size)); }

private:
    int fd_;
    int interval_ms_ = 5000;
    int total_ms_ = 5000;
};

} // namespace

std::string serial_device_path(const std::string& name) {
    if (!name.empty() && name[0] == '/') return name;
    if (name.size() < 4 || name.size() > 5 || name.compare(0, 3, "COM") != 0) return {};
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return {};
        n = n * 10 + (name[i] - '0');
    }
    if (n < 1 || n > 10) return {};
    if (const char* env = std::getenv(("KAVRO_" + name).c_str()); env != nullptr && *env != '\0') return env;
    return "/dev/ttyS" + std::to_string(n - 1);
}

std::unique_ptr<SerialPort> TermiosSerialPorts::open(const std::string& name) {
    std::string path;
    if (auto it = paths_.find(name); it != paths_.end()) path = it->second;
    else path = serial_device_path(name);
    if (path.empty()) return nullptr;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    // Exclusive use: no second open of the terminal, no second program holding the lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || (::isatty(fd) && ::ioctl(fd, TIOCEXCL) != 0)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<TermiosPort>(fd);
}

} // namespace kavro::devices
