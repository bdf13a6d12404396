// Talvor on a desktop, seen from outside as an operator sees it: an X server (Xvfb) whose one screen holds two
// monitors side by side as RandR monitors (which Qt takes as two screens), the primary 1024x768 at the origin and
// a 720x576 video output beside it, with a window manager (openbox) that frames every window asking for a frame.
// The mixer runs in a network namespace of its own; its window is found, measured, stacked and photographed with
// the X tools. Skipped, with the reason, where root, Xvfb or the X tools are missing.
#include "tests/mixer/station.h"
#include "tools/kavro-camera-sim/camera_sim.h"

#include <cstdio>
#include <optional>

using namespace kavro;
using namespace kavro::test;

namespace {

constexpr int kPrimaryWidth = 1024, kPrimaryHeight = 768;
constexpr int kSecondX = kPrimaryWidth; // the second monitor's top-left, where the window belongs
constexpr int kScreenWidth = kPrimaryWidth + mixer::kWindowWidth;

std::string output_of(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& display) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("DISPLAY", display.c_str(), 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

void end(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

// Polls check every 50 ms for up to `seconds` (slow starts under the sanitizers on a loaded machine).
bool eventually(const std::function<bool()>& check, int seconds = 30) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (check()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return check();
}

// A screenshot of the whole X screen.
struct Shot {
    int width = 0, height = 0;
    std::string rgb; // 8-bit R, G, B per pixel, rows top first
    std::uint32_t at(int x, int y) const {
        const std::size_t i = (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3;
        return std::uint32_t(std::uint8_t(rgb[i])) << 16 | std::uint32_t(std::uint8_t(rgb[i + 1])) << 8 |
               std::uint8_t(rgb[i + 2]);
    }
    // A pixel of the mixer's window, in window coordinates.
    std::uint32_t window(int x, int y) const { return at(kSecondX + x, y); }
};

// Each channel within `tolerance` of the wanted colour (pictures that went through JPEG and scaling).
bool near(std::uint32_t pixel, std::uint32_t want, int tolerance) {
    for (int shift : {16, 8, 0})
        if (std::abs(int(pixel >> shift & 0xff) - int(want >> shift & 0xff)) > tolerance) return false;
    return true;
}

class Desktop {
public:
    Desktop() {
        for (const char* tool : {"Xvfb", "xrandr", "openbox", "xdotool", "xprop", "import", "xmessage"})
            if (std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) != 0) {
                why_ = std::string(tool) + " is not installed (scripts/install-deps)";
                return;
            }
        int n = 40 + int(::getpid() % 400);
        while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
               std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock"))
            ++n;
        display_ = ":" + std::to_string(n);
        // -noreset: the monitors set below would be forgotten whenever the last client leaves.
        xvfb_ = spawn({"Xvfb", display_, "-screen", "0", std::to_string(kScreenWidth) + "x768x24", "-noreset",
                       "-nolisten", "tcp"},
                      display_);
        if (!eventually([&] { return x("xrandr --listmonitors").find("Monitors:") != std::string::npos; }, 10)) {
            why_ = "Xvfb did not start on " + display_;
            return;
        }
        x("xrandr --output screen --primary");
        x("xrandr --setmonitor PRIMARY 1024/270x768/203+0+0 screen");
        x("xrandr --setmonitor VIDEO 720/190x576/152+1024+0 none");
        const std::string monitors = x("xrandr --listmonitors");
        if (monitors.find("Monitors: 2") == std::string::npos) {
            why_ = "RandR monitors could not be set: " + monitors;
            return;
        }
        openbox_ = spawn({"openbox"}, display_);
        if (!eventually([&] { return x("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") != std::string::npos; },
                        10))
            why_ = "openbox did not start";
    }
    ~Desktop() {
        end(openbox_);
        end(xvfb_);
    }
    const std::string& why_not() const { return why_; }
    const std::string& display() const { return display_; }

    // An X tool's output on this display.
    std::string x(const std::string& command) const { return output_of("DISPLAY=" + display_ + " " + command); }

    // The visible top-level window whose title is exactly `title`, if any (decimal id).
    std::optional<unsigned long> find(const std::string& title) const {
        const std::string id = x("xdotool search --onlyvisible --name '^" + title + "$'");
        if (id.empty()) return std::nullopt;
        return std::stoul(id);
    }
    // Position and size of a window's inside, on the screen.
    ui::Rect geometry(unsigned long id) const {
        const std::string g = x("xdotool getwindowgeometry " + std::to_string(id));
        ui::Rect r{-1, -1, -1, -1};
        const auto p = g.find("Position: "), s = g.find("Geometry: ");
        if (p != std::string::npos) std::sscanf(g.c_str() + p, "Position: %d,%d", &r.x, &r.y);
        if (s != std::string::npos) std::sscanf(g.c_str() + s, "Geometry: %dx%d", &r.w, &r.h);
        return r;
    }
    // The window manager's frame around a window: left, right, top, bottom.
    std::string frame(unsigned long id) const {
        const std::string e = x("xprop -id " + std::to_string(id) + " _NET_FRAME_EXTENTS");
        const auto eq = e.find("= ");
        return eq == std::string::npos ? e : e.substr(eq + 2, e.find('\n') - eq - 2);
    }
    // Where the window is in the window manager's stacking order (0 the bottom), or -1.
    int stacking_place(unsigned long id) const {
        std::istringstream list(x("xprop -root _NET_CLIENT_LIST_STACKING"));
        std::string word;
        int place = 0;
        while (list >> word)
            if (word.rfind("0x", 0) == 0) {
                if (std::stoul(word, nullptr, 16) == id) return place;
                ++place;
            }
        return -1;
    }
    Shot shot(const std::string& png = {}) const {
        const std::string raw = std::filesystem::temp_directory_path() / ("kavro-shot-" + display_.substr(1));
        x("import -window root -depth 8 rgb:" + raw);
        if (!png.empty()) x("import -window root " + png);
        std::ifstream in(raw, std::ios::binary);
        Shot s{kScreenWidth, kPrimaryHeight, {std::istreambuf_iterator<char>(in), {}}};
        std::filesystem::remove(raw);
        if (s.rgb.size() != std::size_t(s.width) * std::size_t(s.height) * 3) s.rgb.assign(s.rgb.size(), 0), s.width = 0;
        return s;
    }
    pid_t spawn_here(const std::vector<std::string>& argv) const { return spawn(argv, display_); }

private:
    std::string why_;
    std::string display_;
    pid_t xvfb_ = -1, openbox_ = -1;
};

class Screen : public Station {
protected:
    void SetUp() override {
        Station::SetUp();
        if (IsSkipped()) return;
        if (!desktop.why_not().empty()) GTEST_SKIP() << "no desktop: " << desktop.why_not();
    }
    // On an X server Qt starts its accessibility bridge, which opens a session-bus connection; Qt's bus
    // connection manager now and then leaves a thread's data and a few of its strings behind at exit (a known Qt
    // shutdown leak, none of ours). These runs skip the leak check at exit; the offscreen runs of the same program
    // in the station tests keep it.
    std::vector<std::pair<std::string, std::string>> on_desktop() const {
        const char* asan = std::getenv("ASAN_OPTIONS");
        return {{"QT_QPA_PLATFORM", "xcb"},
                {"DISPLAY", desktop.display()},
                {"ASAN_OPTIONS", (asan && *asan ? std::string(asan) + ":" : std::string()) + "detect_leaks=0"}};
    }
    unsigned long mixer_window() {
        std::optional<unsigned long> id;
        EXPECT_TRUE(eventually([&] { return (id = desktop.find("KAVRO")).has_value(); }, 60)) << file("talvor.log");
        return id.value_or(0);
    }
    // Keeps a PNG of the screen in $KAVRO_SHOT_DIR, when set, to be looked at.
    void keep(const std::string& name) const {
        if (const char* dir = std::getenv("KAVRO_SHOT_DIR")) desktop.shot(std::string(dir) + "/" + name + ".png");
    }
    Desktop desktop;
};

// The 56 tokens of a layout request: streams (number 1..11) with left, top, right, bottom, alpha; the rest
// hidden; then the overlay alpha.
struct Placed {
    int stream;
    double left, top, right, bottom, alpha;
};
std::string layout(const std::vector<Placed>& streams, double overlay) {
    double values[55] = {};
    for (const Placed& p : streams) {
        double* v = values + 5 * (p.stream - 1);
        v[0] = p.left, v[1] = p.top, v[2] = p.right, v[3] = p.bottom, v[4] = p.alpha;
    }
    std::ostringstream text;
    for (double v : values) text << v << ' ';
    text << overlay;
    return text.str();
}

} // namespace

TEST_F(Screen, SecondMonitorFramelessAndRaisedBySecondStart) {
    Talvor talvor(ns, rig, log(), on_desktop());
    const unsigned long window = mixer_window();
    ASSERT_NE(window, 0u);
    // At the second monitor's top-left, 720x576, the picture itself at that corner: no frame around it.
    EXPECT_TRUE(eventually([&] {
        const ui::Rect r = desktop.geometry(window);
        return r.x == kSecondX && r.y == 0 && r.w == mixer::kWindowWidth && r.h == mixer::kWindowHeight;
    }, 10)) << desktop.x("xdotool getwindowgeometry " + std::to_string(window)) << desktop.x("xrandr --listmonitors")
            << file("talvor.log");
    EXPECT_EQ(desktop.frame(window), "0, 0, 0, 0");

    // The mixer's picture there: the default layout's grid of capture inputs, its empty last cell the black
    // background, beside the primary monitor's root.
    ASSERT_TRUE(eventually([&] {
        const Shot s = desktop.shot();
        return s.width && s.window(630, 500) == 0 && s.window(90, 96) != 0 && s.window(270, 96) != 0;
    }));
    keep("mixer-on-second-monitor");

    // A framed window (this window manager does frame windows) over the mixer.
    pid_t cover = desktop.spawn_here({"xmessage", "-geometry", "720x576+1024+0", "over the mixer"});
    std::optional<unsigned long> covering;
    ASSERT_TRUE(eventually([&] { return (covering = desktop.find("xmessage")).has_value(); }, 10));
    EXPECT_NE(desktop.frame(*covering), "0, 0, 0, 0");
    ASSERT_TRUE(eventually([&] { return desktop.stacking_place(*covering) > desktop.stacking_place(window); }, 10));
    EXPECT_NE(desktop.shot().window(630, 500), 0u);
    keep("mixer-covered");

    // A second mixer is refused and brings the first one's window back on top.
    {
        Talvor second(ns, rig, rig.configs() + "../second.log", on_desktop());
        EXPECT_EQ(second.wait(60), 0);
        EXPECT_NE(file("second.log").find("Erreur: Cette application est déjà lancée."), std::string::npos);
    }
    EXPECT_TRUE(eventually([&] { return desktop.stacking_place(window) > desktop.stacking_place(*covering); }, 10))
        << desktop.x("xprop -root _NET_CLIENT_LIST_STACKING");
    EXPECT_TRUE(eventually([&] { return desktop.shot().window(630, 500) == 0; }, 10));
    keep("mixer-raised");
    end(cover);

    ns.inside([&] { Client().send(7000, "-1"); });
    EXPECT_EQ(talvor.wait(60), 0) << file("talvor.log");
}

TEST_F(Screen, ComposedPictureFollowsLayoutsAndConnectsOnlyWhatIsShown) {
    Talvor talvor(ns, rig, log(), on_desktop());
    ASSERT_NE(mixer_window(), 0u);
    // Window points: camera pictures 360x288 show the simulator's bars (white, yellow, cyan, green, magenta,
    // red...) 45 pixels wide along their top third; `bar(left, i)` is the middle of bar i of a picture at left.
    const int bar_y = 288 + 48;
    const auto bar = [](int left, int i) { return left + 45 * i + 22; };
    const auto shows = [&](const std::vector<std::pair<int, std::uint32_t>>& points, int tolerance = 60) {
        return eventually([&] {
            const Shot s = desktop.shot();
            for (const auto& [x, colour] : points)
                if (!s.width || !near(s.window(x, bar_y), colour, tolerance)) return false;
            return true;
        });
    };
    ns.inside([&] {
        camsim::Camera one({.port = 0, .name = "ONE"}), two({.port = 0, .name = "TWO"});
        Client c;
        ASSERT_EQ(c.getconf().size(), 1000u) << file("talvor.log");
        c.send(10000, "127 0 0 1 " + std::to_string(one.port()) + " 2 127 0 0 1 " + std::to_string(two.port()) +
                          " 2 0 0 0 0 0 2 0 0 0 0 0 2");
        // Camera 1 (stream 8) in the bottom-left quarter, camera 2 (stream 9) in the bottom-right corner, the
        // capture inputs hidden, the overlay at 0.8 over everything.
        const Placed two_placed{9, 0.75, 0.75, 1, 1, 1};
        c.send(7000, layout({{8, 0, 0.5, 0.5, 1, 1}, two_placed}, 0.8));
        ASSERT_TRUE(shows({{bar(0, 0), 0xFFFFFF}, {bar(0, 5), 0xFF0000}})) << file("talvor.log");
        const Shot first = desktop.shot();
        keep("mixer-camera-bottom-left");
        // The overlay's robot rows are drawn at the top left over the black background; its black is
        // transparent, so the camera under it keeps its full colour (at 0.8 an opaque black would leave a fifth).
        bool overlay_drawn = false;
        for (int y = 10; y < 60; ++y)
            for (int x = 10; x < 120; ++x) overlay_drawn = overlay_drawn || first.window(x, y) != 0;
        EXPECT_TRUE(overlay_drawn);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // every restart of the change is over
        const auto asked_one = one.streams_requested(), asked_two = two.streams_requested();
        EXPECT_GT(asked_one, 0u);
        EXPECT_GT(asked_two, 0u);

        // Moved right by a quarter: the picture is there, and the graph never stopped (a stop would make both
        // cameras ask for their streams again).
        c.send(7000, layout({{8, 0.25, 0.5, 0.75, 1, 1}, two_placed}, 0.8));
        ASSERT_TRUE(shows({{bar(0, 0), 0x000000}, {bar(180, 0), 0xFFFFFF}, {bar(180, 5), 0xFF0000}}));
        keep("mixer-camera-moved");
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_EQ(one.streams_requested(), asked_one);
        EXPECT_EQ(two.streams_requested(), asked_two);

        // Alpha 0.05: camera 1 leaves the picture and stops streaming, while the graph's restart makes camera 2
        // ask again.
        c.send(7000, layout({{8, 0.25, 0.5, 0.75, 1, 0.05}, two_placed}, 0.8));
        ASSERT_TRUE(shows({{bar(180, 0), 0x000000}, {bar(180, 5), 0x000000}}, 20));
        EXPECT_TRUE(eventually([&] { return two.streams_requested() > asked_two; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_EQ(one.streams_requested(), asked_one);

        // Back to 0.5: connected again, streaming again, at half strength over the black background.
        c.send(7000, layout({{8, 0.25, 0.5, 0.75, 1, 0.5}, two_placed}, 0.8));
        EXPECT_TRUE(shows({{bar(180, 0), 0x808080}, {bar(180, 5), 0x800000}}, 40));
        EXPECT_GT(one.streams_requested(), asked_one);
        c.send(7000, "-1");
    });
    EXPECT_EQ(talvor.wait(60), 0) << file("talvor.log");
}
