#include "tools/kavro-camera-sim/camera_sim.h"

#include "platform/jpeg/jpeg.h"
#include "util/pixel_text.h"

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace camsim {

namespace {

using Clock = std::chrono::steady_clock;

struct Size {
    int width, height;
};
constexpr Size kSizes[2] = {{768, 576}, {384, 288}};
// How long a size keeps being drawn after its last viewer asked for a frame.
constexpr auto kWatchHold = std::chrono::seconds(2);

std::string clock_text() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    const long ms = long(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return text;
}

std::vector<std::uint8_t> encode(const std::vector<std::uint32_t>& pixels, Size size, int quality) {
    std::vector<std::uint8_t> jpeg;
    kavro::jpeg::encode({reinterpret_cast<const std::uint8_t*>(pixels.data()), size.width, size.height,
                         std::size_t(size.width) * 4, kavro::jpeg::PixelFormat::bgrx32, false},
                        {quality, true}, jpeg);
    return jpeg;
}

} // namespace

void draw_card(std::vector<std::uint32_t>& pixels, int width, int height, const std::string& name,
               const std::string& address, std::uint64_t frame, const std::string& clock) {
    using namespace kavro::pixels;
    pixels.assign(std::size_t(width) * height, 0x00102040);
    const Image image{pixels.data(), width, height, width};
    const int bars_bottom = height / kBarsBottom;
    for (int i = 0; i < 8; ++i) fill_rect(image, width * i / 8, 0, width * (i + 1) / 8, bars_bottom, kBars[i]);
    const int scale = std::max(1, width / 192);
    const auto centred = [&](int y, const std::string& text, std::uint32_t colour, int s) {
        draw_text(image, (width - text_width(text, s)) / 2, y, text, colour, s);
    };
    centred(bars_bottom + height / 16, name, 0xFFFFFF, scale);
    centred(bars_bottom + height / 16 + 12 * scale, address, 0xC0C0C0, std::max(1, scale * 3 / 4));
    const int box = width / 12;
    const int x = int((frame * std::uint64_t(std::max(1, width / 96))) % std::uint64_t(width - box));
    fill_rect(image, x, height * 60 / 100, x + box, height * 60 / 100 + box, 0xF0A020);
    centred(height * 84 / 100, clock, 0xFFFFFF, scale);
}

struct Camera::Impl {
    struct Stream {
        std::mutex mutex; // guards jpeg and sequence
        std::condition_variable ready;
        std::shared_ptr<const std::vector<std::uint8_t>> jpeg;
        std::uint64_t sequence = 0;
        std::atomic<Clock::rep> watched_until{0};
        void watch() { watched_until.store((Clock::now() + kWatchHold).time_since_epoch().count()); }
        bool watched() const { return Clock::now().time_since_epoch().count() < watched_until.load(); }
    };

    httplib::Server server;
    std::thread listener, producer;
    std::atomic<bool> stopping{false};
    std::atomic<bool> listen_ended{false};
    Stream streams[2];
    std::string name, address;

    void produce(const CameraOptions& options, std::atomic<std::uint64_t>& encoded) {
        const auto period = std::chrono::nanoseconds(1'000'000'000 / std::max(1, options.fps));
        auto next = Clock::now();
        std::uint64_t frame = 0;
        std::vector<std::uint32_t> pixels;
        while (!stopping.load()) {
            const std::string clock = clock_text();
            for (int i = 0; i < 2; ++i) {
                Stream& s = streams[i];
                if (!s.watched()) continue;
                draw_card(pixels, kSizes[i].width, kSizes[i].height, name, address, frame, clock);
                auto jpeg = std::make_shared<const std::vector<std::uint8_t>>(encode(pixels, kSizes[i], options.quality));
                {
                    std::lock_guard lock(s.mutex);
                    s.jpeg = std::move(jpeg);
                    ++s.sequence;
                }
                s.ready.notify_all();
                encoded.fetch_add(1, std::memory_order_relaxed);
            }
            ++frame;
            next += period;
            const auto now = Clock::now();
            if (next < now) next = now; // fell behind: carry on from now rather than burst
            std::this_thread::sleep_until(next);
        }
    }

    void serve_stream(const std::string& path, int size, std::atomic<std::uint64_t>& requested) {
        server.Get(path, [this, size, &requested](const httplib::Request&, httplib::Response& res) {
            requested.fetch_add(1, std::memory_order_relaxed);
            res.set_header("Cache-Control", "no-cache");
            streams[size].watch();
            res.set_chunked_content_provider(
                "multipart/x-mixed-replace; boundary=frame",
                [this, size, last = std::uint64_t(0)](std::size_t, httplib::DataSink& sink) mutable {
                    Stream& s = streams[size];
                    s.watch();
                    std::shared_ptr<const std::vector<std::uint8_t>> jpeg;
                    {
                        std::unique_lock lock(s.mutex);
                        s.ready.wait_for(lock, std::chrono::milliseconds(200),
                                         [&] { return s.sequence != last || stopping.load(); });
                        if (stopping.load()) return false;
                        if (s.sequence == last || !s.jpeg) return true;
                        jpeg = s.jpeg;
                        last = s.sequence;
                    }
                    const std::string head = "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                             std::to_string(jpeg->size()) + "\r\n\r\n";
                    return sink.write(head.data(), head.size()) &&
                           sink.write(reinterpret_cast<const char*>(jpeg->data()), jpeg->size()) &&
                           sink.write("\r\n", 2);
                });
        });
    }
};

Camera::Camera(CameraOptions options) : options_(std::move(options)), impl_(std::make_unique<Impl>()) {
    impl_->address = options_.address + ":" + std::to_string(options_.port);
    if (options_.port == 0) {
        port_ = impl_->server.bind_to_any_port(options_.address);
        if (port_ <= 0) throw std::runtime_error("cannot listen on " + options_.address);
        impl_->address = options_.address + ":" + std::to_string(port_);
    } else {
        if (!impl_->server.bind_to_port(options_.address, options_.port))
            throw std::runtime_error("cannot listen on " + impl_->address);
        port_ = options_.port;
    }
    impl_->name = options_.name.empty() ? "CAMERA " + impl_->address : options_.name;
    impl_->serve_stream("/zoom.mjpg", 0, requested_);
    impl_->serve_stream("/video.mjpg", 0, requested_);
    impl_->serve_stream("/mpeg4.mjpg", 1, requested_);
    impl_->server.Get("/image.jpg", [this](const httplib::Request&, httplib::Response& res) {
        std::vector<std::uint32_t> pixels;
        draw_card(pixels, kSizes[0].width, kSizes[0].height, impl_->name, impl_->address, 0, clock_text());
        const auto jpeg = encode(pixels, kSizes[0], options_.quality);
        res.set_content(std::string(jpeg.begin(), jpeg.end()), "image/jpeg");
    });
    impl_->listener = std::thread([this] {
        impl_->server.listen_after_bind();
        impl_->listen_ended.store(true);
    });
    impl_->producer = std::thread([this] { impl_->produce(options_, encoded_); });
}

Camera::~Camera() { stop(); }

void Camera::stop() {
    if (!impl_ || impl_->stopping.exchange(true)) return;
    for (auto& s : impl_->streams) s.ready.notify_all();
    // The server ignores a stop that comes before it is listening.
    while (!impl_->server.is_running() && !impl_->listen_ended.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    impl_->server.stop();
    if (impl_->listener.joinable()) impl_->listener.join();
    if (impl_->producer.joinable()) impl_->producer.join();
}

} // namespace camsim
