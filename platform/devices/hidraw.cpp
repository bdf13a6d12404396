#include "platform/devices/hid.h"

#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kavro::devices {

namespace {

class HidrawDevice : public HidDevice {
public:
    HidrawDevice(int fd, HidAttributes a, HidCaps c) : fd_(fd), attributes_(a), caps_(c) {}
    ~HidrawDevice() override { ::close(fd_); }
    HidAttributes attributes() const override { return attributes_; }
    HidCaps caps() const override { return caps_; }

    long read_report(std::uint8_t* buffer, std::size_t size, int timeout_ms) override {
        if (size == 0) return 0;
        pollfd p{fd_, POLLIN, 0};
        int r = ::poll(&p, 1, timeout_ms);
        if (r < 0) return errno == EINTR ? 0 : -1;
        if (r == 0) return 0;
        if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (p.revents & POLLIN) == 0) return -1;
        // Unnumbered reports arrive without the identifier byte; put the 0 in front as for numbered ones.
        const std::size_t offset = caps_.numbered_reports ? 0 : 1;
        if (offset == 1) buffer[0] = 0;
        if (size <= offset) return static_cast<long>(offset);
        ssize_t n = ::read(fd_, buffer + offset, size - offset);
        if (n < 0) return errno == EAGAIN || errno == EINTR ? 0 : -1;
        return static_cast<long>(n + static_cast<ssize_t>(offset));
    }

    long write_report(const std::uint8_t* bytes, std::size_t size) override {
        ssize_t n = ::write(fd_, bytes, size);
        return static_cast<long>(n);
    }

private:
    int fd_;
    HidAttributes attributes_;
    HidCaps caps_;
};

} // namespace

std::vector<std::string> HidrawSystem::device_paths() {
    std::vector<std::pair<int, std::string>> found;
    if (DIR* dir = ::opendir(folder_.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            if (std::strncmp(e->d_name, "hidraw", 6) != 0) continue;
            const char* digits = e->d_name + 6;
            if (*digits == '\0' || std::strspn(digits, "0123456789") != std::strlen(digits)) continue;
            int n = 0;
            std::from_chars(digits, digits + std::strlen(digits), n);
            found.emplace_back(n, folder_ + "/" + e->d_name);
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& f : found) paths.push_back(f.second);
    return paths;
}

std::unique_ptr<HidDevice> HidrawSystem::open(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    hidraw_devinfo info{};
    int descriptor_size = 0;
    hidraw_report_descriptor descriptor{};
    if (::ioctl(fd, HIDIOCGRAWINFO, &info) < 0 || ::ioctl(fd, HIDIOCGRDESCSIZE, &descriptor_size) < 0 ||
        descriptor_size < 0 || descriptor_size > HID_MAX_DESCRIPTOR_SIZE) {
        ::close(fd);
        return nullptr;
    }
    descriptor.size = static_cast<std::uint32_t>(descriptor_size);
    if (::ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
        ::close(fd);
        return nullptr;
    }
    HidAttributes a{static_cast<std::uint16_t>(info.vendor), static_cast<std::uint16_t>(info.product), 0};
    HidCaps caps = caps_from_report_descriptor(descriptor.value, descriptor.size);
    return std::make_unique<HidrawDevice>(fd, a, caps);
}

} // namespace kavro::devices
