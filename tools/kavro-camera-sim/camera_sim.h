// Simulated network cameras: each serves MJPEG over HTTP on its own address and port, at the paths of the
// camera sources' stream kinds, plus a single-JPEG snapshot:
//   /zoom.mjpg, /video.mjpg   768 x 576      /mpeg4.mjpg   384 x 288      /image.jpg   one 768 x 576 picture
// The picture is a test card naming the camera and its address, with colour bars along the top, a box that
// moves across it and a running clock, at 25 pictures a second (a size is drawn only while someone watches).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace camsim {

// The colour bars: eight bars across the top third (white, yellow, cyan, green, magenta, red, blue, black), as
// 0x00RRGGBB.
inline constexpr std::uint32_t kBars[8] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00,
                                           0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
inline constexpr int kBarsBottom = 3; // the bars cover rows [0, height / kBarsBottom)

struct CameraOptions {
    std::string address = "127.0.0.1";
    int port = 8080;          // 0: any free port (see Camera::port)
    int fps = 25;
    int quality = 75;
    std::string name;         // shown on the card; default "CAMERA <address>:<port>"
};

// Draws one test card picture: width x height 32-bit pixels (0x00RRGGBB), rows top first, packed.
void draw_card(std::vector<std::uint32_t>& pixels, int width, int height, const std::string& name,
               const std::string& address, std::uint64_t frame, const std::string& clock);

class Camera {
public:
    // Binds and starts serving; throws std::runtime_error when the address cannot be bound.
    explicit Camera(CameraOptions options);
    ~Camera(); // stops
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    void stop();
    int port() const { return port_; }
    const std::string& address() const { return options_.address; }
    // Frames encoded so far (all sizes).
    std::uint64_t frames_encoded() const { return encoded_.load(std::memory_order_relaxed); }
    // MJPEG streams asked for so far (any path): a viewer that stops and starts again asks again.
    std::uint64_t streams_requested() const { return requested_.load(std::memory_order_relaxed); }

    struct Impl;

private:
    CameraOptions options_;
    int port_ = 0;
    std::atomic<std::uint64_t> encoded_{0};
    std::atomic<std::uint64_t> requested_{0};
    std::unique_ptr<Impl> impl_;
};

} // namespace camsim
