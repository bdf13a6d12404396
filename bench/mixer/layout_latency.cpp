// Time from a layout datagram to the changed picture: the mixer's whole graph (every registered stand-in, no
// network camera configured), its five control threads on free loopback ports, and the renderer's pictures
// taken where the window would get them. Each change moves stream 1 (capture input 1, opaque) between the
// top-left and the bottom-right quarter of the picture, the ten other streams staying in the other quarters; the time runs from just before
// the datagram is sent to the first picture handed to the window that shows the stream at its new place and
// no longer at the old one. It includes the listener's wake-up, the graph change under the graph lock, the
// wait for the next picture tick (25 a second) and the composition; not the window system's own painting.
// Changes are spaced 100 to 200 ms apart (a fixed pseudo-random sequence), so they fall at every phase of the
// tick. Prints every time, then the median and the worst.
//   mixer_layout_latency [--changes N (50)]
#include "mixer/graph.h"
#include "mixer/listeners.h"
#include "platform/com/runtime.h"
#include "platform/dshow/builder.h"
#include "platform/ui/ui.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace kavro;

// A free port of the given socket type on the loopback interface.
std::uint16_t free_port(int type) {
    const int fd = socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    std::uint16_t port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0) close(fd);
    return port;
}

// Which quarter shows stream 1 in a picture: 0 top-left only, 1 bottom-right only, -1 neither or both.
// Stream 1 is the capture card's test card; the background elsewhere is black.
int quarter_shown(const vmr9::ImageView& v) {
    auto lit = [&](int qx, int qy) {
        int count = 0;
        for (int i = 1; i <= 4; ++i) {
            const int x = qx + v.width / 2 * i / 5, y = qy + v.height / 2 * i / 5;
            const auto* row = reinterpret_cast<const std::uint32_t*>(
                reinterpret_cast<const std::uint8_t*>(v.pixels) + v.stride * std::size_t(y));
            if ((row[x] & 0xffffffu) != 0) ++count;
        }
        return count >= 3;
    };
    const bool top_left = lit(0, 0), bottom_right = lit(v.width / 2, v.height / 2);
    return top_left == bottom_right ? -1 : top_left ? 0 : 1;
}

// The pictures the renderer hands to the window: when each shows stream 1 at a new place.
struct Watch {
    std::mutex lock;
    std::condition_variable changed;
    int shown = -1;
    Clock::time_point at{};
    long pictures = 0;

    void picture(const vmr9::ImageView& v) {
        const int q = quarter_shown(v);
        const auto now = Clock::now();
        std::lock_guard g(lock);
        ++pictures;
        if (q >= 0 && q != shown) {
            shown = q;
            at = now;
            changed.notify_all();
        }
    }
};

// Stream 1 opaque in one quarter; the ten others at alpha 0.8 in two rows of small cells in the other two
// quarters (so each picture composes all eleven); the overlay off.
std::string layout(int quarter) {
    std::string text = quarter == 0 ? "0 0 0.5 0.5 1" : "0.5 0.5 1 1 1";
    char cell[64];
    for (int k = 0; k < kMixerStreams - 1; ++k) {
        const double left = (k < 5 ? 0.5 : 0.0) + 0.1 * (k % 5), top = k < 5 ? 0.0 : 0.5;
        std::snprintf(cell, sizeof cell, " %.1f %.1f %.1f %.1f 0.8", left, top, left + 0.1, top + 0.5);
        text += cell;
    }
    return text + " 0";
}

bool register_plugins() {
    dshow::register_builtin_classes();
    if (!dshow::register_builtin_filters()) return false;
    for (const char* lib : {NOIR_AX, ADLINK_AX, SENDER_AX, CAMIP1_AX, CAMIP2_AX, CAMIP3_AX, CAMIP4_AX, CAPTEUR_AX}) {
        void* h = com::load_library(lib);
        auto reg = h ? reinterpret_cast<HRESULT (*)()>(dlsym(h, "DllRegisterServer")) : nullptr;
        if (!reg || FAILED(reg())) {
            std::fprintf(stderr, "mixer_layout_latency: %s could not be registered\n", lib);
            return false;
        }
    }
    return true;
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

} // namespace

int main(int argc, char** argv) {
    int changes = 50;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--changes") changes = std::atoi(argv[i + 1]);
    if (changes <= 0) {
        std::fprintf(stderr, "usage: mixer_layout_latency [--changes N]\n");
        return 2;
    }
    char dir[] = "/tmp/kavro-layout-latency-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string work = dir;
    setenv("KAVRO_REGISTRY", (work + "/registry.xml").c_str(), 1);
    setenv("KAVRO_DRIVE_C", (work + "/drive_c").c_str(), 1);
    setenv("KAVRO_JPEG_SENDER_ADDRESS", "127.0.0.1", 1);
    setenv("KAVRO_JPEG_SENDER_PORT", std::to_string(free_port(SOCK_STREAM)).c_str(), 1);
    setenv("KAVRO_MESSAGE_BOXES", "stderr", 1);
    ui::set_message_box_presenter([](const std::string& text, const std::string& caption, unsigned) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return ui::IDOK;
    });
    if (!register_plugins()) return 1;
    std::filesystem::create_directories(work + "/configs");
    std::filesystem::copy_file(std::string(KAVRO_SOURCE_DIR) + "/configs/mixer/kavro.xml",
                               work + "/configs/kavro_old.xml");

    Watch watch;
    vmr9::set_picture_sink([&](std::intptr_t, const vmr9::ImageView& v) { watch.picture(v); });
    auto s = std::make_unique<mixer::MixerState>();
    s->configs_dir = work + "/configs/";
    s->ports = {free_port(SOCK_DGRAM), free_port(SOCK_DGRAM), free_port(SOCK_DGRAM), free_port(SOCK_DGRAM)};
    ui::WindowSpec spec;
    spec.style = ui::WS_POPUP;
    spec.rect = {0, 0, mixer::kWindowWidth, mixer::kWindowHeight};
    s->window = ui::create_window(spec, ui::def_window_proc);
    HRESULT hr;
    {
        std::lock_guard g(s->graph_lock);
        hr = mixer::build_graph(*s);
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "mixer_layout_latency: the graph was not built (0x%08X)\n", unsigned(hr));
        return 1;
    }
    auto workers = std::make_unique<mixer::Workers>(*s);
    workers->start();

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(s->ports.layout);
    auto send_layout = [&](int quarter) {
        const std::string text = layout(quarter);
        sendto(fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    };
    // The first layout connects every stream: wait for it to settle before timing anything.
    send_layout(0);
    {
        std::unique_lock g(watch.lock);
        if (!watch.changed.wait_for(g, std::chrono::seconds(20), [&] { return watch.shown == 0; })) {
            std::fprintf(stderr, "mixer_layout_latency: stream 1 never appeared (%ld pictures)\n", watch.pictures);
            return 1;
        }
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));

    std::vector<double> times;
    unsigned seed = 12345;
    int missed = 0;
    for (int i = 0; i < changes; ++i) {
        seed = seed * 1103515245u + 12345u;
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + (seed >> 16) % 101));
        const int want = (i + 1) % 2;
        const auto sent = Clock::now();
        send_layout(want);
        std::unique_lock g(watch.lock);
        if (!watch.changed.wait_for(g, std::chrono::seconds(2), [&] { return watch.shown == want; })) {
            ++missed;
            std::printf("change %d: no picture within 2 s\n", i + 1);
            continue;
        }
        times.push_back(ms(watch.at - sent));
        std::printf("change %d: %.1f ms\n", i + 1, times.back());
    }
    close(fd);
    workers.reset();
    {
        std::lock_guard g(s->graph_lock);
        mixer::release_graph(*s);
    }
    ui::destroy_window(s->window);
    vmr9::set_picture_sink(nullptr);
    std::filesystem::remove_all(work);

    if (times.empty()) return 1;
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted.size() % 2 ? sorted[sorted.size() / 2]
                                            : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
    std::printf("layout to picture: %zu changes, median %.1f ms, worst %.1f ms, best %.1f ms, missed %d "
                "(target: under 60 ms)\n",
                sorted.size(), median, sorted.back(), sorted.front(), missed);
    return missed == 0 ? 0 : 1;
}
