#include "outside/adlink/v4l2_capture.h"
#include "outside/adlink/test_card.h"

#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace adlink {

namespace {

constexpr auto kRetry = std::chrono::seconds(2);
constexpr int kPollMs = 200;
// A device that says its pictures are larger than this is not believed.
constexpr std::size_t kMaxImageBytes = 4096u * 4096u * 4u;

} // namespace

void scale_bgr24(const std::uint8_t* src, int width, int height, std::ptrdiff_t stride_bytes, std::uint32_t* out) {
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t* row = src + std::ptrdiff_t(y * height / kHeight) * stride_bytes;
        std::uint32_t* dst = out + std::size_t(y) * kWidth;
        for (int x = 0; x < kWidth; ++x) {
            const std::uint8_t* p = row + std::ptrdiff_t(x * width / kWidth) * 3;
            dst[x] = std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
        }
    }
}

V4l2Capture::V4l2Capture(std::string device)
    : m_device(std::move(device)), m_frame(std::size_t(kWidth) * kHeight), m_thread([this] { run(); }) {}

V4l2Capture::~V4l2Capture() {
    {
        std::lock_guard g(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

bool V4l2Capture::latest(std::uint32_t* out, std::ptrdiff_t stride, Clock::duration max_age) const {
    std::lock_guard g(m_lock);
    if (m_when == Clock::time_point{} || Clock::now() - m_when > max_age) return false;
    for (int y = 0; y < kHeight; ++y)
        std::memcpy(out + y * stride, m_frame.data() + std::size_t(y) * kWidth, kWidth * 4);
    return true;
}

std::string V4l2Capture::problem() const {
    std::lock_guard g(m_lock);
    return m_problem;
}

void V4l2Capture::report(const std::string& problem) {
    bool changed;
    {
        std::lock_guard g(m_lock);
        changed = problem != m_problem;
        m_problem = problem;
    }
    if (changed && !problem.empty()) std::fprintf(stderr, "Adlink: %s: %s\n", m_device.c_str(), problem.c_str());
}

bool V4l2Capture::wait_retry() {
    std::unique_lock g(m_lock);
    m_wake.wait_for(g, kRetry, [this] { return m_stop.load(); });
    return !m_stop;
}

void V4l2Capture::run() {
    while (!m_stop) {
        const int fd = v4l2_open(m_device.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            report(std::string("cannot open (") + std::strerror(errno) + ")");
        } else {
            capture_from(fd);
            v4l2_close(fd);
        }
        if (!wait_retry()) return;
    }
}

bool V4l2Capture::capture_from(int fd) {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = kWidth;
    format.fmt.pix.height = kHeight;
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (v4l2_ioctl(fd, VIDIOC_S_FMT, &format) < 0 || format.fmt.pix.pixelformat != V4L2_PIX_FMT_BGR24) {
        report("no 24-bit picture format");
        return false;
    }
    const int width = int(format.fmt.pix.width), height = int(format.fmt.pix.height);
    const std::size_t stride = std::max<std::size_t>(format.fmt.pix.bytesperline, std::size_t(width) * 3);
    const std::size_t size = stride * std::size_t(height);
    if (width <= 0 || height <= 0 || size > kMaxImageBytes) {
        report("unusable picture size");
        return false;
    }
    std::vector<std::uint8_t> buffer(size);
    std::vector<std::uint32_t> scaled(std::size_t(kWidth) * kHeight);
    while (!m_stop) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kPollMs);
        if (ready < 0 && errno != EINTR) {
            report(std::string("poll failed (") + std::strerror(errno) + ")");
            return false;
        }
        if (ready <= 0) continue;
        const ssize_t got = v4l2_read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            report(std::string("read failed (") + std::strerror(errno) + ")");
            return false;
        }
        if (std::size_t(got) < size) continue; // a short picture is dropped
        scale_bgr24(buffer.data(), width, height, std::ptrdiff_t(stride), scaled.data());
        {
            std::lock_guard g(m_lock);
            m_frame.swap(scaled);
            m_when = Clock::now();
        }
        report("");
    }
    return true;
}

} // namespace adlink
