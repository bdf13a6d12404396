// VitaminCtrl.dll as the console uses it: registered with regsvr32, the three controls created by class with
// their own interfaces, hosted in panes of the window system; playing a camera's MJPEG stream at the pane's
// size, the snapshot file holding the camera's picture, "no signal" without a camera, the camera commands on
// the wire.
#include "outside/sender/mjpeg_server.h"
#include "outside/viewer_controls.h"
#include "platform/jpeg/jpeg.h"
#include "platform/registry/registry.h"
#include "platform/sys/paths.h"
#include "platform/ui/control_host.h"
#include "tests/platform/dshow/plugin_support.h"

#include <httplib.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

using namespace kavro::test;
using namespace std::chrono_literals;
namespace ui = kavro::ui;

namespace {

// The camera's picture: a horizontal red ramp over a vertical blue one.
std::uint32_t scene(int x, int y) { return std::uint32_t(x * 255 / 767) << 16 | std::uint32_t(y * 255 / 575); }

std::vector<std::uint8_t> scene_jpeg() {
    std::vector<std::uint32_t> px(768 * 576);
    for (int y = 0; y < 576; ++y)
        for (int x = 0; x < 768; ++x) px[std::size_t(y) * 768 + x] = scene(x, y);
    kavro::jpeg::ImageView v{reinterpret_cast<const std::uint8_t*>(px.data()), 768, 576, 768 * 4,
                             kavro::jpeg::PixelFormat::bgrx32, false};
    std::vector<std::uint8_t> out;
    EXPECT_EQ(kavro::jpeg::encode(v, {}, out), kavro::jpeg::Status::ok);
    return out;
}

bool near(std::uint32_t got, std::uint32_t want, int tol) {
    for (int shift : {0, 8, 16})
        if (std::abs(int(got >> shift & 0xFF) - int(want >> shift & 0xFF)) > tol) return false;
    return true;
}

template <class F>
bool eventually(F done, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

int free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

std::string error_text(ICameraViewer* v) {
    char text[256];
    EXPECT_EQ(v->GetErrorText(text, sizeof text), S_OK);
    return text;
}

// Runs `done` when the test ends, early or not.
struct AtExit {
    std::function<void()> done;
    ~AtExit() { done(); }
};

class ViewerControls : public TempRegistry {
protected:
    void SetUp() override {
        TempRegistry::SetUp();
        setenv("KAVRO_DRIVE_C", (dir + "/drive_c").c_str(), 1);
        std::string out;
        ASSERT_EQ(regsvr32(REGSVR32, std::string("/s ") + VIEWERS_DLL, &out), 0) << out;
        ui::WindowSpec spec;
        spec.title = "viewer test";
        window = ui::create_window(spec, ui::def_window_proc);
        pane = ui::create_control(window, ui::ControlTemplate{1002, ui::WindowClass::VideoPane, "", {0, 0, 320, 240}});
        ASSERT_TRUE(pane);
    }
    void TearDown() override {
        ui::destroy_window(window);
        unsetenv("KAVRO_DRIVE_C");
        TempRegistry::TearDown();
    }
    ComPtr<ICameraViewer> viewer(REFCLSID clsid, REFIID iid) {
        ComPtr<ICameraViewer> v;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, v.put_void()), S_OK);
        return v;
    }
    ui::Hwnd window, pane;
};

TEST_F(ViewerControls, EachClassAnswersItsOwnInterfaceAndOnlyTheEntryPointsAreVisible) {
    const std::pair<CLSID, IID> kinds[] = {{CLSID_ZoomViewer, IID_IZoomViewer},
                                           {CLSID_MjpegViewer, IID_IMjpegViewer},
                                           {CLSID_Mpeg4Viewer, IID_IMpeg4Viewer}};
    for (const auto& [clsid, iid] : kinds) {
        ComPtr<ICameraViewer> v = viewer(clsid, iid);
        ASSERT_TRUE(v);
        for (const auto& other : kinds) {
            ComPtr<IUnknown> p;
            EXPECT_EQ(v->QueryInterface(other.second, p.put_void()), other.second == iid ? S_OK : E_NOINTERFACE);
        }
        ComPtr<ui::IPaneControl> host;
        EXPECT_EQ(v->QueryInterface(ui::IID_IPaneControl, host.put_void()), S_OK);
        // The console's fixed settings; a wrong one is reported, not fatal.
        EXPECT_EQ(v->SetSetting("Stretch", "1"), S_OK);
        EXPECT_EQ(v->SetStreamPath("/cgi-bin/video.vam"), S_OK);
        EXPECT_EQ(v->SetSetting("Colour", "1"), E_INVALIDARG);
        EXPECT_EQ(error_text(v.get()), "unknown setting \"Colour\"");
        EXPECT_EQ(v->SetAddress("127.0.0"), E_INVALIDARG);
        EXPECT_EQ(v->SetPort(70000), E_INVALIDARG);
        EXPECT_EQ(v->SetSize(8, 8), E_INVALIDARG);
        EXPECT_EQ(v->Start(), E_FAIL); // no camera yet
    }
    void* lib = kavro::com::load_library(VIEWERS_DLL);
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(dlsym(lib, "DllGetClassObject"), nullptr);
    EXPECT_EQ(dlsym(lib, "_ZN7viewers16write_file_wholeERKNSt10filesystem7__cxx114pathERKSt6vectorIhSaIhEE"), nullptr);
    std::string out;
    ASSERT_EQ(regsvr32(REGSVR32, std::string("/u /s ") + VIEWERS_DLL, &out), 0) << out;
    ComPtr<ICameraViewer> none;
    EXPECT_EQ(CoCreateInstance(CLSID_MjpegViewer, nullptr, CLSCTX_INPROC_SERVER, IID_IMjpegViewer, none.put_void()),
              REGDB_E_CLASSNOTREG);
}

TEST_F(ViewerControls, PlaysTheCameraAtThePanesSizeAndSavesItsPicture) {
    sender::ServerOptions options;
    options.address = "127.0.0.1";
    options.port = 0;
    sender::MjpegServer camera(options);
    camera.start();
    ASSERT_TRUE(eventually([&] { return camera.port() != 0; }));
    const auto jpeg = std::make_shared<const std::vector<std::uint8_t>>(scene_jpeg());
    std::jthread feeder([&](std::stop_token stop) {
        while (!stop.stop_requested()) {
            camera.publish(jpeg);
            std::this_thread::sleep_for(40ms);
        }
    });

    ComPtr<ICameraViewer> v = viewer(CLSID_MjpegViewer, IID_IMjpegViewer);
    // A snapshot taken the moment the first camera picture shows (on the presenting thread) must find it.
    std::atomic<bool> first_seen{false};
    std::atomic<HRESULT> first_snapshot{S_FALSE}; // until the observer has taken it
    const int token = ui::add_observer([&](const ui::Event& e) {
        if (e.kind != ui::Event::Frame || e.hwnd != pane || first_seen) return;
        const auto f = ui::current_frame(pane);
        if (!f || f->width != 320 || !near(f->pixels[120 * 320 + 160], scene(384, 288), 8)) return;
        first_seen = true;
        first_snapshot = v->SaveSnapshot("C:/Program Files/KAVRO/Map/snapshot/first.jpg");
    });
    const AtExit unobserve{[token] { ui::remove_observer(token); }};
    const AtExit stop_playing{[&] { v->Stop(); }}; // first: no frame is presented once the observer goes
    ASSERT_EQ(ui::attach_control(v.get(), pane), S_OK);
    ASSERT_EQ(v->SetAddress("127.0.0.1"), S_OK);
    ASSERT_EQ(v->SetPort(camera.port()), S_OK);
    ASSERT_EQ(v->Start(), S_OK);
    // The camera's picture fills the 320 x 240 pane (nearest pixels of the 768 x 576 picture).
    EXPECT_TRUE(eventually([&] {
        auto f = ui::current_frame(pane);
        return f && f->width == 320 && f->height == 240 && near(f->pixels[120 * 320 + 160], scene(384, 288), 8) &&
               near(f->pixels[10 * 320 + 300], scene(720, 24), 8);
    }));
    // The pane can show the picture before the observer is told of it.
    EXPECT_TRUE(eventually([&] { return first_snapshot != S_FALSE; }));
    EXPECT_EQ(first_snapshot, S_OK) << error_text(v.get());
    // The snapshot is the camera's own picture, under the system's path on drive C.
    const std::string path = "C:/Program Files/KAVRO/Map/snapshot/snapshot1.jpg";
    ASSERT_EQ(v->SaveSnapshot(path.c_str()), S_OK);
    std::ifstream in(kavro::sys::local_path(path), std::ios::binary);
    const std::vector<std::uint8_t> saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, *jpeg);

    // The pane's size when the console gives one; then stop clears the pane.
    ASSERT_EQ(v->SetSize(160, 120), S_OK);
    EXPECT_TRUE(eventually([&] {
        auto f = ui::current_frame(pane);
        return f && f->width == 160 && f->height == 120 && near(f->pixels[60 * 160 + 80], scene(384, 288), 8);
    }));
    ASSERT_EQ(v->Stop(), S_OK);
    EXPECT_EQ(ui::current_frame(pane), nullptr);

    // Destroying the pane releases the control from it.
    ComPtr<IUnknown> hosted = ComPtr<IUnknown>::adopt(ui::attached_control(pane));
    EXPECT_EQ(static_cast<IUnknown*>(hosted.get()), static_cast<IUnknown*>(v.get()));
    hosted.reset();
    ui::destroy_window(pane);
    EXPECT_EQ(ui::attached_control(pane), nullptr);
}

TEST_F(ViewerControls, WithoutACameraThePaneSaysNoSignalAndThereIsNoSnapshot) {
    ComPtr<ICameraViewer> v = viewer(CLSID_ZoomViewer, IID_IZoomViewer);
    ASSERT_EQ(ui::attach_control(v.get(), pane), S_OK);
    ASSERT_EQ(v->SetAddress("127.0.0.1"), S_OK);
    ASSERT_EQ(v->SetPort(free_port()), S_OK);
    ASSERT_EQ(v->Start(), S_OK);
    EXPECT_TRUE(eventually([&] {
        auto f = ui::current_frame(pane);
        if (!f || f->width != 320) return false;
        int white = 0;
        for (auto p : f->pixels) white += (p & 0xFFFFFF) == 0xFFFFFF;
        return white > 100;
    }));
    EXPECT_EQ(v->SaveSnapshot("C:/Program Files/KAVRO/Map/snapshot/snapshot2.jpg"), E_FAIL);
    EXPECT_EQ(error_text(v.get()), "snapshot: no picture from the camera yet");
    EXPECT_FALSE(kavro::sys::path_exists(kavro::sys::local_path("C:/Program Files/KAVRO/Map/snapshot/snapshot2.jpg")));
}

TEST_F(ViewerControls, CameraCommandsReachTheCamera) {
    httplib::Server camera;
    std::mutex lock;
    std::vector<std::string> heard;
    camera.Get("/cgi-bin/camctrl", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard g(lock);
        std::string query;
        for (const auto& [k, val] : req.params) query += k + "=" + val + ";";
        heard.push_back(query);
        res.set_content("OK\n", "text/plain");
    });
    const int port = camera.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { camera.listen_after_bind(); });

    ComPtr<ICameraViewer> v = viewer(CLSID_Mpeg4Viewer, IID_IMpeg4Viewer);
    ASSERT_EQ(v->SetAddress("127.0.0.1"), S_OK);
    ASSERT_EQ(v->SetPort(port), S_OK);
    ASSERT_EQ(v->Start(), S_OK);
    EXPECT_EQ(v->CameraCommand("home", 100), S_OK);
    EXPECT_EQ(v->SetPanTilt(157, 46), S_OK);
    EXPECT_EQ(v->SetZoom(3), S_OK);
    EXPECT_EQ(v->SetDigitalOutput(1, 1), S_OK);
    EXPECT_EQ(v->CameraCommand("jump", 100), E_INVALIDARG);
    EXPECT_EQ(v->SetPanTilt(400, 46), E_INVALIDARG);
    EXPECT_EQ(v->SetZoom(9), E_INVALIDARG);
    EXPECT_TRUE(eventually([&] {
        std::lock_guard g(lock);
        return heard.size() == 4;
    }));
    {
        std::lock_guard g(lock);
        EXPECT_EQ(heard, (std::vector<std::string>{"move=home;speed=100;", "pan=157;tilt=46;", "zoom=3;",
                                                   "output=1;state=1;"}));
    }
    v->Stop();
    camera.stop();
    serving.join();
}

} // namespace
