// kavro-camera-sim --camera ADDRESS:PORT [--camera ...] [--fps N] [--quality Q]
// Serves simulated network cameras until interrupted (see camera_sim.h for the paths and the picture).
#include "tools/kavro-camera-sim/camera_sim.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <list>
#include <string_view>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

bool parse_int(std::string_view text, int& value) {
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && p == text.data() + text.size();
}

int usage() {
    std::fprintf(stderr, "usage: kavro-camera-sim --camera ADDRESS:PORT [--camera ADDRESS:PORT ...] [--fps N] "
                         "[--quality 1..100]\n"
                         "serves /zoom.mjpg and /video.mjpg (768x576), /mpeg4.mjpg (384x288), /image.jpg\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::list<camsim::CameraOptions> wanted;
    int fps = 25, quality = 75;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) return usage();
        const std::string_view value = argv[++i];
        if (arg == "--camera") {
            const auto colon = value.rfind(':');
            camsim::CameraOptions o;
            if (colon == std::string_view::npos || !parse_int(value.substr(colon + 1), o.port) || o.port <= 0 ||
                o.port > 65535)
                return usage();
            o.address = std::string(value.substr(0, colon));
            wanted.push_back(o);
        } else if (arg == "--fps") {
            if (!parse_int(value, fps) || fps < 1 || fps > 100) return usage();
        } else if (arg == "--quality") {
            if (!parse_int(value, quality) || quality < 1 || quality > 100) return usage();
        } else {
            return usage();
        }
    }
    if (wanted.empty()) return usage();
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGPIPE, SIG_IGN);
    std::list<camsim::Camera> cameras;
    for (auto& o : wanted) {
        o.fps = fps;
        o.quality = quality;
        try {
            cameras.emplace_back(o);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kavro-camera-sim: %s\n", e.what());
            return 1;
        }
        std::fprintf(stderr, "kavro-camera-sim: camera at http://%s:%d/video.mjpg\n", o.address.c_str(), o.port);
    }
    while (!g_stop) ::pause();
    std::fprintf(stderr, "kavro-camera-sim: stopping\n");
    return 0;
}
