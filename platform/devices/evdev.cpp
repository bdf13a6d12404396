#include "platform/devices/game_controller.h"

#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kavro::devices {

namespace {

constexpr std::size_t kLongBits = sizeof(unsigned long) * 8;
constexpr std::size_t longs_for(std::size_t bits) { return (bits + kLongBits - 1) / kLongBits; }
bool test_bit(const unsigned long* bits, unsigned n) { return (bits[n / kLongBits] >> (n % kLongBits)) & 1UL; }

// A game controller has absolute X and Y axes and joystick or game-pad buttons (a touch pad or a tablet has the
// axes but not those buttons).
bool is_game_controller(int fd) {
    unsigned long ev[longs_for(EV_MAX + 1)] = {};
    unsigned long abs[longs_for(ABS_MAX + 1)] = {};
    unsigned long key[longs_for(KEY_MAX + 1)] = {};
    if (::ioctl(fd, EVIOCGBIT(0, sizeof ev), ev) < 0) return false;
    if (!test_bit(ev, EV_ABS) || !test_bit(ev, EV_KEY)) return false;
    if (::ioctl(fd, EVIOCGBIT(EV_ABS, sizeof abs), abs) < 0) return false;
    if (!test_bit(abs, ABS_X) || !test_bit(abs, ABS_Y)) return false;
    if (::ioctl(fd, EVIOCGBIT(EV_KEY, sizeof key), key) < 0) return false;
    for (unsigned b = BTN_JOYSTICK; b < BTN_JOYSTICK + 16; ++b)
        if (test_bit(key, b)) return true;
    for (unsigned b = BTN_GAMEPAD; b < BTN_GAMEPAD + 16; ++b)
        if (test_bit(key, b)) return true;
    return false;
}

class EvdevController : public GameController {
public:
    explicit EvdevController(int fd) : fd_(fd) {}
    ~EvdevController() override {
        release();
        ::close(fd_);
    }
    bool grab() override {
        grabbed_ = ::ioctl(fd_, EVIOCGRAB, 1) == 0;
        return grabbed_;
    }
    void release() override {
        if (grabbed_) ::ioctl(fd_, EVIOCGRAB, 0);
        grabbed_ = false;
    }
    bool poll() override {
        // The axes are read from the device's current state; queued events are only drained.
        input_event events[64];
        for (;;) {
            ssize_t n = ::read(fd_, events, sizeof events);
            if (n > 0) continue;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) return true;
            return false; // ENODEV after unplugging, or end of file
        }
    }
    bool read_axes(std::int32_t& x, std::int32_t& y) override {
        input_absinfo ax{}, ay{};
        if (::ioctl(fd_, EVIOCGABS(ABS_X), &ax) < 0 || ::ioctl(fd_, EVIOCGABS(ABS_Y), &ay) < 0) return false;
        x = scale_axis(ax.value, ax.minimum, ax.maximum);
        y = scale_axis(ay.value, ay.minimum, ay.maximum);
        return true;
    }

private:
    int fd_;
    bool grabbed_ = false;
};

} // namespace

std::int32_t scale_axis(std::int32_t value, std::int32_t minimum, std::int32_t maximum) {
    if (maximum <= minimum) return 32767;
    const std::int64_t v = std::clamp<std::int64_t>(value, minimum, maximum);
    return static_cast<std::int32_t>((v - minimum) * 65535 / (static_cast<std::int64_t>(maximum) - minimum));
}

std::vector<GameControllerInfo> EvdevControllers::enumerate() {
    std::vector<std::pair<int, GameControllerInfo>> found;
    if (DIR* dir = ::opendir(folder_.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            if (std::strncmp(e->d_name, "event", 5) != 0) continue;
            const char* digits = e->d_name + 5;
            if (*digits == '\0' || std::strspn(digits, "0123456789") != std::strlen(digits)) continue;
            std::string path = folder_ + "/" + e->d_name;
            int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            if (fd < 0) continue;
            if (is_game_controller(fd)) {
                char name[256] = {};
                if (::ioctl(fd, EVIOCGNAME(sizeof name - 1), name) < 0) name[0] = '\0';
                int n = 0;
                std::from_chars(digits, digits + std::strlen(digits), n);
                found.push_back({n, {path, name}});
            }
            ::close(fd);
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end(), [](auto& a, auto& b) { return a.first < b.first; });
    std::vector<GameControllerInfo> out;
    for (auto& f : found) out.push_back(f.second);
    return out;
}

std::unique_ptr<GameController> EvdevControllers::open(const GameControllerInfo& info) {
    int fd = ::open(info.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    return std::make_unique<EvdevController>(fd);
}

} // namespace kavro::devices
