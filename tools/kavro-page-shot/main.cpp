// kavro-page-shot URL OUT.png [--size WxH] [--wait MS] [--demo-feed PORT]
// Shows a web page in the browser engine the console uses, waits until it has loaded and then MS more
// milliseconds (default 3000), and saves a picture of it. With --demo-feed the map feed runs on 127.0.0.1:PORT
// with two robots driving circles around a base, so the map page has something to show without a console.
#include "console/link/map_feed.h"
#include "platform/ui/qt/web_engine.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <QWebEngineView>

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

using namespace kavro::console;

// The map feed's window as a demo: the map view is shown, robot 1 is the reference node.
struct DemoWindow : MapFeedWindow {
    int camera_mode(int camera) const override { return camera <= 2 ? 2 : 0; }
    bool virtual_base() const override { return false; }
    std::string reference_node_text() const override { return "Robot 1"; }
    int view() const override { return kMapView; }
    ICapteurControl* capteur() override { return nullptr; }
    void release_video_graph() override {}
    void error_trace(int, HRESULT) override {}
};

// Two robots on circles of 40 m and 25 m around a base, one step a second.
void drive_demo(RobotTable& table, MapFeedState& state, const std::atomic<bool>& quit) {
    const double lat0 = 48.117302, lon0 = 11.516666, m_lat = 111320.0, m_lon = 111320.0 * std::cos(lat0 * M_PI / 180);
    table.robot(kBaseIndex).latitude = static_cast<float>(lat0);
    table.robot(kBaseIndex).longitude = static_cast<float>(lon0);
    state.snapshot = 1;
    for (int t = 0; !quit.load(); ++t) {
        const double a = t * 0.15, b = 1.5 - t * 0.2;
        table.robot(1).latitude = static_cast<float>(lat0 + 40 * std::sin(a) / m_lat);
        table.robot(1).longitude = static_cast<float>(lon0 + 40 * std::cos(a) / m_lon);
        table.robot(2).latitude = static_cast<float>(lat0 + 25 * std::sin(b) / m_lat);
        table.robot(2).longitude = static_cast<float>(lon0 - 30 / m_lon + 25 * std::cos(b) / m_lon);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

int usage() {
    std::fprintf(stderr, "usage: kavro-page-shot URL OUT.png [--size WxH] [--wait MS] [--demo-feed PORT]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const QString url = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    int width = 1024, height = 768, wait_ms = 3000, feed_port = 0;
    for (int i = 3; i < argc; i += 2) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return usage();
        const char* v = argv[i + 1];
        if (arg == "--size") {
            const char* end = v + std::strlen(v);
            auto r = std::from_chars(v, end, width);
            if (r.ec != std::errc() || r.ptr == end || *r.ptr != 'x') return usage();
            r = std::from_chars(r.ptr + 1, end, height);
            if (r.ec != std::errc() || r.ptr != end || width < 100 || height < 100) return usage();
        } else if (arg == "--wait") {
            if (std::from_chars(v, v + std::strlen(v), wait_ms).ec != std::errc()) return usage();
        } else if (arg == "--demo-feed") {
            if (std::from_chars(v, v + std::strlen(v), feed_port).ec != std::errc()) return usage();
        } else {
            return usage();
        }
    }
    kavro::ui::qt::install_web_engine();
    QApplication app(argc, argv);

    std::atomic<bool> quit{false};
    RobotTable table;
    MapFeedState state;
    DemoWindow window;
    std::thread feed, demo;
    if (feed_port > 0) {
        MapFeedConfig config;
        config.port = static_cast<std::uint16_t>(feed_port);
        config.bind_address = "127.0.0.1";
        config.pace = std::chrono::milliseconds(500);
        feed = std::thread([&] { map_feed_thread(state, table, window, quit, config); });
        demo = std::thread([&] { drive_demo(table, state, quit); });
    }

    QWebEngineView view;
    view.resize(width, height);
    view.move(0, 0);
    view.show();
    int result = 1;
    QObject::connect(&view, &QWebEngineView::loadFinished, &app, [&](bool ok) {
        if (!ok) std::fprintf(stderr, "kavro-page-shot: %s did not load\n", argv[1]);
        QTimer::singleShot(wait_ms, &app, [&] {
            const QPixmap shot = view.screen()->grabWindow(view.winId());
            result = shot.save(out) ? 0 : 1;
            app.quit();
        });
    });
    view.load(QUrl::fromUserInput(url));
    QTimer::singleShot(wait_ms + 30000, &app, [&] { app.quit(); });
    app.exec();
    quit = true;
    if (feed.joinable()) feed.join();
    if (demo.joinable()) demo.join();
    if (result != 0) std::fprintf(stderr, "kavro-page-shot: no picture of %s\n", argv[1]);
    return result;
}
