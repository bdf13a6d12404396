// A V4L2 capture device read on a thread of its own through libv4l2, which converts whatever the device
// delivers to 24-bit BGR. Each picture is scaled (nearest pixel) to 768 x 576 and kept as the latest frame;
// the pin copies the latest frame and never waits for the device. A device that cannot be opened, refuses
// the format or stops delivering is closed and tried again every 2 s.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace adlink {

class V4l2Capture {
public:
    using Clock = std::chrono::steady_clock;

    explicit V4l2Capture(std::string device);
    ~V4l2Capture(); // stops the thread
    V4l2Capture(const V4l2Capture&) = delete;
    V4l2Capture& operator=(const V4l2Capture&) = delete;

    const std::string& device() const { return m_device; }
    // Copies the latest frame (768 x 576, 0x00RRGGBB, `stride` pixels a row) when it is younger than
    // `max_age`; otherwise answers false and leaves `out` alone.
    bool latest(std::uint32_t* out, std::ptrdiff_t stride, Clock::duration max_age) const;
    // What went wrong last ("" while frames come), for the "no signal" card.
    std::string problem() const;

private:
    void run();
    bool capture_from(int fd); // reads frames until an error or stop; false on error
    void report(const std::string& problem);
    bool wait_retry(); // false when stopping

    const std::string m_device;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;       // guards the members below it
    std::condition_variable m_wake; // stop
    std::vector<std::uint32_t> m_frame;
    Clock::time_point m_when{};
    std::string m_problem;
    std::thread m_thread; // last: started when everything above exists
};

// Scales a 24-bit B, G, R picture (`stride_bytes` a row, rows top first) to 768 x 576 pixels 0x00RRGGBB.
void scale_bgr24(const std::uint8_t* src, int width, int height, std::ptrdiff_t stride_bytes, std::uint32_t* out);

} // namespace adlink
