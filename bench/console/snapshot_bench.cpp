// The snapshot of the console's composite: from the snapshot command to the JPEG file written and closed, with
// the composite live (the capture card's four inputs and four simulated network cameras in eight panes, the
// sensor overlay at alpha 0.8). The console's own video and snapshot command on the window system model (no
// display), the real plug-ins registered in a registry of the run. Prints each snapshot's time, then the
// median and the worst, and where the time goes (the renderer's image copy, the JPEG written, and the processor
// time these took: far below their time, the rest was waiting for a processor).
//   console_snapshot_bench [--snapshots N]      default 30
#include "console/pages/pages.h"
#include "console/pages/snapshot_image.h"
#include "console/video/video_panes.h"
#include "console/window/ids.h"
#include "console/window/resources.h"
#include "console/window/window_proc.h"
#include "platform/ui/message_box.h"
#include "platform/ui/ui.h"
#include "tests/support/temp_dir.h"
#include "tools/kavro-camera-sim/camera_sim.h"

#include <sys/inotify.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kavro;
using namespace kavro::console;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Processor time of the calling thread, in milliseconds.
double thread_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double ms_since(Clock::time_point t0, Clock::time_point t1) {
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

// Median and worst of a series, in milliseconds.
void summary(const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    std::printf("%-34s median %6.2f ms, worst %6.2f ms, best %6.2f ms (%zu)\n", what, v[v.size() / 2], v.back(),
                v.front(), v.size());
}

// The moment each snapshot file is in place under its name, seen by a thread waiting on the folder: the JPEG
// is written to a temporary file, closed, then renamed to its name.
class ArrivalWatch {
public:
    explicit ArrivalWatch(const fs::path& folder) : fd_(inotify_init1(IN_NONBLOCK)) {
        if (fd_ < 0 || inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO) < 0)
            throw std::runtime_error("inotify on " + folder.string() + " failed");
        thread_ = std::thread([this] { run(); });
    }
    ~ArrivalWatch() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    // The time the next file came into place; waits up to 5 s.
    Clock::time_point wait_next(long seen_before) const {
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (arrivals_.load() <= seen_before && Clock::now() < end) std::this_thread::sleep_for(std::chrono::microseconds(200));
        return Clock::time_point(Clock::duration(last_.load()));
    }
    long arrivals() const { return arrivals_.load(); }

private:
    void run() {
        alignas(inotify_event) char buffer[4096];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const auto now = Clock::now();
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) continue;
            last_ = now.time_since_epoch().count();
            ++arrivals_;
        }
    }
    int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<long> arrivals_{0};
    std::atomic<Clock::rep> last_{0};
    std::thread thread_;
};

double load_average() {
    double load = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = 0;
        std::fclose(f);
    }
    return load;
}

bool register_plugins() {
    for (const char* lib : {NOIR_AX, ADLINK_AX, CAMIP1_AX, CAMIP2_AX, CAMIP3_AX, CAMIP4_AX, CAPTEUR_AX, RECEIVER_AX,
                            VIEWERS_DLL, MESH_AX})
        if (std::system((std::string(REGSVR32) + " /s " + lib).c_str()) != 0) {
            std::fprintf(stderr, "console_snapshot_bench: %s not registered\n", lib);
            return false;
        }
    return true;
}

// Camera 4's cyan bar in the composite's bottom right pane: the camera's picture is there.
bool camera_live(ConsoleVideo& video) {
    std::vector<std::uint8_t> dib;
    if (FAILED(video.current_image(kViewLocalMixer, dib)) || dib.size() < 40 + 768u * 576u * 4u) return false;
    const std::uint8_t* px = dib.data() + 40 + 4 * (768 * std::size_t(575 - 330) + 636);
    return px[0] > 192 && px[1] > 192 && px[2] < 64;
}

// The console's window on the window system model, its video built with the real plug-ins, four simulated
// cameras as its cameras 1..4 (kind "ZOOM"), and its snapshot command.
struct Station {
    test::TempDir root{"kavro-snapshot-bench"};
    fs::path configs = root / "configs";
    fs::path snapshots = root / "drive/Program Files/KAVRO/Map/snapshot";
    ConsoleApp app;
    OperatorWindowProc proc{app};
    ui::Hwnd window;
    std::vector<std::unique_ptr<camsim::Camera>> cameras;
    ConsoleVideo* video = nullptr;
    std::unique_ptr<PagesSubsystem> pages;

    Station() {
        setenv("KAVRO_REGISTRY", (root / "registry.xml").c_str(), 1);
        setenv("KAVRO_DRIVE_C", (root / "drive").c_str(), 1);
        if (!register_plugins()) throw std::runtime_error("the plug-ins are not registered");
        fs::create_directories(configs);
        fs::create_directories(snapshots);
        fs::copy_file(std::string(KAVRO_SOURCE_DIR) + "/configs/interface.xml", configs / "interface.xml");
        fs::copy_file(std::string(KAVRO_SOURCE_DIR) + "/configs/kavro.xml", configs / "kavro.xml");
        app.config.configs_dir = configs.string() + "/";
        window = ui::create_dialog(operator_dialog_template(), proc.proc());
        ui::show_window(window, ui::SW_SHOW);
        ui::user::resized(window, 1280, 1000, ui::SIZE_MAXIMIZED);
        for (int m = 1; m <= 4; ++m) {
            camsim::CameraOptions options;
            options.port = 0;
            cameras.push_back(std::make_unique<camsim::Camera>(options));
            app.controls->set_address(ids::camera_address(m), {127, 0, 0, 1});
            app.controls->set_number(ids::camera_port(m), unsigned(cameras.back()->port()));
            app.controls->set_checked(ids::camera_zoom_kind(m), true);
            app.controls->set_checked(ids::camera_mjpeg_kind(m), false);
            app.controls->set_checked(ids::camera_mpeg4_kind(m), false);
        }
        VideoEnvironment env;
        env.configs_dir = configs.string() + "/";
        auto owned = std::make_unique<ConsoleVideo>(app, env);
        video = owned.get();
        app.subsystems.video = std::move(owned);
        if (FAILED(video->build())) throw std::runtime_error("the video was not built");
        PagesOptions options;
        options.configs_dir = configs.string() + "/";
        pages = std::make_unique<PagesSubsystem>(app, std::make_shared<std::atomic<int>>(0), options);
    }
    ~Station() {
        app.window.exiting = true;  // the window goes without the exit sequence
        pages.reset();
        app.subsystems.video.reset();
        ui::destroy_window(window);
    }

    // The composite view, live: eight panes in a 4 x 2 grid and the overlay at 0.8 through the remote layout
    // command, the view started, camera 4's picture in its pane, then a few pictures of every source.
    void composite_live() {
        CompositePane panes[kConsolePanes]{};
        for (int k = 0; k < kConsolePanes; ++k) {
            const float left = float(k % 4) / 4, top = k < 4 ? 0.0f : 0.5f;
            panes[k] = CompositePane{left, top, left + 0.25f, top + 0.5f, 1.0f, k, false};
        }
        app.window.view = kViewLocalMixer;
        video->apply_remote_layout(panes, 0.8f, nullptr);
        video->start_view(kViewLocalMixer);
        const auto live_by = Clock::now() + std::chrono::seconds(10);
        while (!camera_live(*video) && Clock::now() < live_by) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
};

struct Times {
    std::vector<double> to_file, command, image, encode, parts_cpu;
};

// One snapshot command timed to its file in place and to its end (the map shown), then its two parts timed
// apart on the composite live again. False when no file came.
bool measure(Station& s, const ArrivalWatch& watch, int n, Times& t) {
    s.composite_live();
    const long before = watch.arrivals();
    const auto t0 = Clock::now();
    s.pages->take_snapshot();
    const auto t1 = Clock::now();
    const auto in_place = watch.wait_next(before);
    if (watch.arrivals() <= before || s.app.window.snapshot_counter != n) return false;
    t.to_file.push_back(ms_since(t0, in_place));
    t.command.push_back(ms_since(t0, t1));
    std::printf("snapshot %2d: %6.2f ms to the file in place, %6.2f ms the whole command\n", n, t.to_file.back(),
                t.command.back());

    s.video->start_view(kViewLocalMixer);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<std::uint8_t> dib;
    const double cpu0 = thread_cpu_ms();
    const auto a = Clock::now();
    if (FAILED(s.video->current_image(kViewLocalMixer, dib))) return false;
    const auto b = Clock::now();
    if (write_snapshot_jpeg(dib, s.root / "part.jpg") != SnapshotImageResult::written) return false;
    const auto c = Clock::now();
    t.image.push_back(ms_since(a, b));
    t.encode.push_back(ms_since(b, c));
    t.parts_cpu.push_back(thread_cpu_ms() - cpu0);
    return true;
}

void report(Times t) {
    summary("command to file in place", t.to_file);
    summary("whole command (map shown after)", t.command);
    summary("  renderer's current image", t.image);
    summary("  24-bit copy and JPEG written", t.encode);
    summary("  both, processor time", t.parts_cpu);
    std::sort(t.to_file.begin(), t.to_file.end());
    const double median = t.to_file[t.to_file.size() / 2], worst = t.to_file.back();
    const auto under = std::count_if(t.to_file.begin(), t.to_file.end(), [](double x) { return x < 30; });
    std::printf("target: under 30 ms from command to file: median %s, worst %s; %ld of %zu under 30 ms (load %.2f)\n",
                median < 30 ? "met" : "MISSED", worst < 30 ? "met" : "MISSED", long(under), t.to_file.size(),
                load_average());
}

int run(int snapshots) {
    ui::set_message_box_presenter([](const std::string& text, const std::string& caption, unsigned) {
        std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
        return ui::IDOK;
    });
    Station station;
    ArrivalWatch watch(station.snapshots);
    Times times;
    for (int n = 1; n <= snapshots; ++n)
        if (!measure(station, watch, n, times)) {
            std::fprintf(stderr, "console_snapshot_bench: snapshot %d was not written\n", n);
            return 1;
        }
    report(times);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int snapshots = 30;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--snapshots") snapshots = std::max(1, std::atoi(argv[i + 1]));
    try {
        return run(snapshots);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "console_snapshot_bench: %s\n", e.what());
        return 1;
    }
}
