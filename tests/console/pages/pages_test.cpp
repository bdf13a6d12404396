// The pages and snapshot commands against a recording window, fake video panes, a fake mesh source and sensor
// filter, and a fake mixer and base station on loopback.
#include "console/pages/mixer_exchange.h"
#include "console/pages/pages.h"
#include "console/pages/snapshot_image.h"
#include "console/link/udp_endpoint.h"
#include "config_files/config_files.h"
#include "console/window/ids.h"
#include "filters/mesh/imesh.h"
#include "platform/jpeg/jpeg.h"
#include "platform/sys/paths.h"
#include "tests/console/window/fake_controls.h"
#include "tests/support/message_boxes.h"
#include "tests/support/sensor_stub.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace kavro::console {
namespace {

using namespace ids;
namespace fs = std::filesystem;

// A 32-bit bitmap w x h, bottom-up, whose top half (as shown) is blue and bottom half red, or with `fill`
// deciding each pixel (x, y from the top).
std::vector<std::uint8_t> make_dib(int w, int h, std::uint32_t (*colour)(int x, int y, int w, int h),
                                   int bits = 32) {
    std::vector<std::uint8_t> dib(40 + std::size_t(w) * std::size_t(h) * 4);
    auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(dib.data() + at, &v, 4); };
    put32(0, 40);
    put32(4, std::uint32_t(w));
    put32(8, std::uint32_t(h));
    dib[12] = 1;
    dib[14] = static_cast<std::uint8_t>(bits);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t bgrx = colour(x, y, w, h);
            // Bottom-up: the picture's row y is memory row h - 1 - y.
            std::memcpy(dib.data() + 40 + (std::size_t(h - 1 - y) * std::size_t(w) + std::size_t(x)) * 4, &bgrx, 4);
        }
    return dib;
}
// Blue top half, red bottom half; the top-left 64 x 64 green (values as blue | green << 8 | red << 16).
std::uint32_t halves(int x, int y, int, int h) {
    if (x < 64 && y < 64) return 0x00FF00;
    return y < h / 2 ? 0x0000FF : 0xFF0000;
}

struct Decoded {
    jpeg::Info info;
    std::vector<std::uint8_t> rgb;
    // Mean of a channel (0 red, 1 green, 2 blue) over a rectangle.
    int mean(int x0, int y0, int x1, int y1, int channel) const {
        long sum = 0, n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x, ++n) sum += rgb[(std::size_t(y) * std::size_t(info.width) + std::size_t(x)) * 3 + std::size_t(channel)];
        return static_cast<int>(sum / n);
    }
};
Decoded decode(const fs::path& file) {
    Decoded d;
    EXPECT_EQ(jpeg::read_info_file(file.string(), d.info), jpeg::Status::ok);
    d.rgb.resize(std::size_t(d.info.width) * std::size_t(d.info.height) * 3);
    jpeg::Target t{d.rgb.data(), d.rgb.size(), d.info.width, d.info.height, std::size_t(d.info.width) * 3,
                   jpeg::PixelFormat::rgb24, false};
    EXPECT_EQ(jpeg::decode_file(file.string(), t), jpeg::Status::ok);
    return d;
}

TEST(SnapshotImage, WritesTheViewAsJpegRightSideUpAndScalesLargerImagesIntoTheLimit) {
    kavro::test::TempDir dir;
    ASSERT_EQ(write_snapshot_jpeg(make_dib(720, 576, halves), dir.path() / "a.jpg"), SnapshotImageResult::written);
    Decoded a = decode(dir.path() / "a.jpg");
    EXPECT_EQ(a.info.width, 720);
    EXPECT_EQ(a.info.height, 576);
    EXPECT_GT(a.mean(8, 8, 56, 56, 1), 230);      // green corner at the top left
    EXPECT_GT(a.mean(100, 100, 700, 280, 2), 230); // blue top
    EXPECT_LT(a.mean(100, 100, 700, 280, 0), 25);
    EXPECT_GT(a.mean(100, 300, 700, 570, 0), 230); // red bottom

    // 1536 x 1152 halves to 768 x 576; the green corner becomes 32 x 32.
    ASSERT_EQ(write_snapshot_jpeg(make_dib(1536, 1152, halves), dir.path() / "b.jpg"), SnapshotImageResult::written);
    Decoded b = decode(dir.path() / "b.jpg");
    EXPECT_EQ(b.info.width, 768);
    EXPECT_EQ(b.info.height, 576);
    EXPECT_GT(b.mean(4, 4, 28, 28, 1), 230);
    EXPECT_GT(b.mean(40, 40, 760, 280, 2), 230);
    EXPECT_GT(b.mean(40, 300, 760, 570, 0), 230);
    // A wide image keeps its proportions: 2000 x 500 -> 768 x 192.
    ASSERT_EQ(write_snapshot_jpeg(make_dib(2000, 500, halves), dir.path() / "c.jpg"), SnapshotImageResult::written);
    Decoded c = decode(dir.path() / "c.jpg");
    EXPECT_EQ(c.info.width, 768);
    EXPECT_EQ(c.info.height, 192);
}

TEST(SnapshotImage, RefusesOtherDepthsAndBitmapsShorterThanTheirHeaderWithoutWriting) {
    kavro::test::TempDir dir;
    EXPECT_EQ(write_snapshot_jpeg(make_dib(64, 48, halves, 24), dir.path() / "a.jpg"), SnapshotImageResult::not_32_bit);
    std::vector<std::uint8_t> short_dib = make_dib(64, 48, halves);
    short_dib.resize(short_dib.size() - 4);
    EXPECT_EQ(write_snapshot_jpeg(short_dib, dir.path() / "b.jpg"), SnapshotImageResult::malformed);
    std::vector<std::uint8_t> huge = make_dib(4, 4, halves);
    const std::uint32_t big = 0x7FFFFFFF;
    std::memcpy(huge.data() + 4, &big, 4);
    std::memcpy(huge.data() + 8, &big, 4);
    EXPECT_EQ(write_snapshot_jpeg(huge, dir.path() / "c.jpg"), SnapshotImageResult::malformed);
    EXPECT_EQ(write_snapshot_jpeg({}, dir.path() / "d.jpg"), SnapshotImageResult::malformed);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(SnapshotArchive, MovesLastRunsPicturesIntoAFolderNamedAfterTheTimeAndKeepsWhatCannotMove) {
    kavro::test::TempDir dir;
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_hour = 7;
    t.tm_min = 5;
    t.tm_sec = 9;
    EXPECT_EQ(archive_snapshots(dir.path(), t), 0);
    EXPECT_TRUE(fs::is_empty(dir.path())); // nothing to archive: no folder either
    std::ofstream(dir.path() / "snapshot1.jpg") << "one";
    std::ofstream(dir.path() / "snapshot2.jpg") << "two";
    std::ofstream(dir.path() / "notes.txt") << "stays";
    EXPECT_EQ(archive_snapshots(dir.path(), t), 2);
    const fs::path archive = dir.path() / "save_20261208_070509";
    EXPECT_TRUE(fs::exists(archive / "snapshot1.jpg"));
    EXPECT_TRUE(fs::exists(archive / "snapshot2.jpg"));
    EXPECT_TRUE(fs::exists(dir.path() / "notes.txt"));
    // A second start within the same second uses the same folder; a name already taken there stays.
    std::ofstream(dir.path() / "snapshot1.jpg") << "again";
    std::ofstream(dir.path() / "snapshot3.jpg") << "three";
    EXPECT_EQ(archive_snapshots(dir.path(), t), 1);
    EXPECT_TRUE(fs::exists(dir.path() / "snapshot1.jpg"));
    EXPECT_TRUE(fs::exists(archive / "snapshot3.jpg"));
}

// Video panes that hand out a prepared image, write a player's picture (or not) and record the rest.
struct FakeVideo : VideoPanes {
    std::vector<std::string> log;
    std::vector<std::uint8_t> image;
    HRESULT image_result = S_OK;
    bool player_writes = true;
    IMesh* mesh_source = nullptr;
    ICapteurControl* sensor = nullptr;
    HRESULT run_result = S_OK;
    void stop_view(int v) override { log.push_back("stop " + std::to_string(v)); }
    void release_all() override { log.push_back("release"); }
    HRESULT save_player_picture(CameraKind k, const std::string& path) override {
        log.push_back("save " + std::to_string(int(k)) + " " + path);
        if (player_writes) std::ofstream(sys::local_path(path)) << "jpeg";
        return S_OK;
    }
    HRESULT current_image(int view, std::vector<std::uint8_t>& dib) override {
        log.push_back("image " + std::to_string(view));
        dib = image;
        return image_result;
    }
    IMesh* mesh() override { return mesh_source; }
    ICapteurControl* sensor_filter() override { return sensor; }
    HRESULT take_layout(const MinXL::t_xml_node&, const ConsoleLayout& layout) override {
        log.push_back("layout alpha0 " + std::to_string(layout.panes[0].alpha));
        return S_OK;
    }
    HRESULT run_composite_graph() override {
        log.push_back("run");
        return run_result;
    }
};

struct FakeMesh : IMesh {
    std::vector<std::string> calls;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT SetServer(BYTE a, BYTE b, BYTE c, BYTE d, std::int32_t port) override {
        calls.push_back("server " + dotted({a, b, c, d}) + ":" + std::to_string(port));
        return S_OK;
    }
    HRESULT GetServer(BYTE*, BYTE*, BYTE*, BYTE*, std::int32_t*) override { return E_NOTIMPL; }
    HRESULT SetNodeName(const char* address, const char* name) override {
        calls.push_back(std::string(address) + "=" + name);
        return S_OK;
    }
};

struct RecordingSensor : kavro::test::SensorStub {
    std::vector<std::string> calls;
    HRESULT LoopbackBytes(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) override {
        calls.push_back("loopback " + dotted({*a, *b, *c, *d}));
        return S_OK;
    }
    HRESULT GetConfig(int k, ConsoleSensorChannelRecord*) override {
        calls.push_back("get " + std::to_string(k));
        return S_OK;
    }
    HRESULT SetConfig(int k, const SensorChannelRecord*) override {
        calls.push_back("set " + std::to_string(k));
        return S_OK;
    }
};

class PagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("KAVRO_DRIVE_C", drive.path().c_str(), 1);
        fs::create_directories(configs());
        auto v = std::make_unique<FakeVideo>();
        video = v.get();
        app.subsystems.video = std::move(v);
        app.controls = &c;
        PagesOptions o;
        o.configs_dir = configs().string() + "/";
        o.getconf_wait = std::chrono::milliseconds(150);
        o.setconf_pause = std::chrono::milliseconds(0);
        o.snapshot_check_pause = std::chrono::milliseconds(1);
        o.mixer_port = mixer_port;
        pages = std::make_unique<PagesSubsystem>(app, new_snapshots, o);
    }
    void TearDown() override { unsetenv("KAVRO_DRIVE_C"); }
    fs::path snapshots() const { return drive.path() / "Program Files/KAVRO/Map/snapshot"; }
    fs::path configs() const { return drive.path() / "configs"; }
    void set_view(int v) { app.window.view = v; }

    kavro::test::TempDir drive;
    kavro::test::MessageBoxes boxes;
    test::FakeControls c;
    ConsoleApp app;
    FakeVideo* video = nullptr;
    std::shared_ptr<std::atomic<int>> new_snapshots = std::make_shared<std::atomic<int>>(0);
    std::uint16_t mixer_port = 0;
    std::unique_ptr<PagesSubsystem> pages;
};

TEST_F(PagesTest, SnapshotOfEachViewWritesTheNextNumberAndShowsTheMap) {
    // Composite view: the renderer's image becomes snapshot1.jpg.
    set_view(kViewLocalMixer);
    video->image = make_dib(720, 576, halves);
    pages->take_snapshot();
    Decoded first = decode(snapshots() / "snapshot1.jpg");
    EXPECT_EQ(first.info.width, 720);
    EXPECT_GT(first.mean(8, 8, 56, 56, 1), 230);
    EXPECT_EQ(app.window.snapshot_counter, 1);
    EXPECT_EQ(new_snapshots->load(), 1);
    EXPECT_EQ(app.window.view.load(), kViewPages);
    EXPECT_NE(c.web_location(kPaneWeb).find("indexMap.html"), std::string::npos);
    EXPECT_EQ(c.web_location(kPaneWeb).rfind("file://", 0), 0u);

    // Camera 2 with the MJPEG player: the player saves snapshot2.jpg.
    set_view(5);
    c.at(camera_mjpeg_kind(2)).checked = true;
    pages->take_snapshot();
    EXPECT_EQ(video->log.back(), "stop 5");
    EXPECT_NE(std::find(video->log.begin(), video->log.end(),
                        "save 2 C:/Program Files/KAVRO/Map/snapshot/snapshot2.jpg"),
              video->log.end());
    EXPECT_EQ(app.window.snapshot_counter, 2);
    EXPECT_EQ(c.at(kPaneWeb).visited.size(), 1u); // the map was shown already: not loaded again
    EXPECT_TRUE(boxes.empty());

    // A player that writes nothing: "Snapshot Failed.", counter and view unchanged.
    set_view(6);
    video->player_writes = false;
    c.at(camera_zoom_kind(3)).checked = true;
    pages->take_snapshot();
    EXPECT_EQ(boxes.seen(), std::vector<std::string>{"Error: Snapshot Failed."});
    EXPECT_EQ(app.window.snapshot_counter, 2);
    EXPECT_EQ(app.window.view.load(), 6);

    // Views without video.
    boxes.clear();
    for (int v : {8, kViewMesh, kViewPages}) {
        set_view(v);
        pages->take_snapshot();
    }
    EXPECT_EQ(boxes.seen(), std::vector<std::string>(3, "Error: No video to capture."));

    // A renderer that cannot give its image releases the video; a 16-bit image ends silently.
    boxes.clear();
    set_view(kViewRemoteMixer);
    video->image_result = E_FAIL;
    pages->take_snapshot();
    EXPECT_EQ(video->log.back(), "release");
    video->image_result = S_OK;
    video->image = make_dib(64, 48, halves, 16);
    pages->take_snapshot();
    EXPECT_EQ(app.window.snapshot_counter, 2);
    EXPECT_FALSE(fs::exists(snapshots() / "snapshot3.jpg"));
    EXPECT_EQ(boxes.seen().size(), 1u); // the error trace only
}

TEST_F(PagesTest, RobotAndVideoSourcePages) {
    pages->show_robot_page();
    app.drive.selection_mask = 6;
    pages->show_robot_page();
    EXPECT_EQ(boxes.seen(), (std::vector<std::string>{"Info: Please select a robot to configure.",
                                                     "Info: Please select only one robot to configure."}));
    EXPECT_TRUE(c.at(kPaneWeb).visited.empty());
    app.drive.selection_mask = 4;
    c.at(robot_address(3)).address = {127, 0, 0, 13};
    c.at(robot_config_edit(3)).text = "15080";
    set_view(kViewLocalMixer);
    c.at(kMapRadio).checked = true;
    pages->show_robot_page();
    EXPECT_EQ(c.web_location(kPaneWeb), "http://127.0.0.13:15080");
    EXPECT_EQ(app.window.view.load(), kViewPages);
    EXPECT_FALSE(c.at(kMapRadio).checked);

    c.at(kWebPortEdit).text = "8090";
    pages->show_video_source_page(); // view 12: nothing
    EXPECT_EQ(c.at(kPaneWeb).visited.size(), 1u);
    set_view(kViewLocalMixer);
    pages->show_video_source_page();
    EXPECT_EQ(c.web_location(kPaneWeb), "http://127.0.0.1:8090/KAVRO/");
    set_view(7);
    c.at(camera_address(4)).address = {127, 0, 0, 24};
    pages->show_video_source_page();
    EXPECT_EQ(c.web_location(kPaneWeb), "http://127.0.0.24:8090");
}

TEST_F(PagesTest, HomePageIsTheShippedPageBesideTheMapWithTheWindowsPages) {
    // The setting names a page shipped beside the map page (both installed from console/pages/web/).
    const PagesOptions defaults;
    EXPECT_EQ(fs::path(defaults.home_page).parent_path(), fs::path(defaults.map_page).parent_path());
    EXPECT_TRUE(fs::is_regular_file(fs::path(KAVRO_SOURCE_DIR) / "console/pages/web" /
                                    fs::path(defaults.home_page).filename()));
    // Robots without an address are left out; the editor's port is the window's web server port.
    c.at(robot_address(1)).address = {127, 0, 0, 11};
    c.at(robot_config_edit(1)).text = "82";
    c.at(robot_address(3)).address = {10, 77, 0, 13};
    c.at(robot_config_edit(3)).text = "8082";
    c.at(kWebPortEdit).text = "8090";
    pages->show_home_page();
    EXPECT_EQ(c.web_location(kPaneWeb), "file://" + (drive.path() / "Program Files/KAVRO/Map/home.html").string() +
                                            "?robot1=127.0.0.11:82&robot3=10.77.0.13:8082&editor=8090");
    EXPECT_EQ(app.window.view.load(), kViewPages);
}

// A mixer's control port on loopback that answers each datagram with `answer` (when not empty).
struct FakeMixer {
    UdpEndpoint udp;
    std::vector<std::string> received;
    std::thread thread;
    explicit FakeMixer(std::string answer, int datagrams = 1) {
        EXPECT_TRUE(udp.open_bound(0, "127.0.0.1"));
        thread = std::thread([this, answer, datagrams] {
            for (int i = 0; i < datagrams; ++i) {
                const int n = udp.receive(3, 0);
                if (n <= 0) return;
                received.emplace_back(udp.buffer(), std::size_t(n));
                if (!answer.empty()) udp.send(answer.data(), static_cast<int>(answer.size()));
            }
        });
    }
    ~FakeMixer() { thread.join(); }
};

TEST(GetconfAnswer, NamesAsSentBoundedByWhatArrived) {
    auto parse = [](std::string_view s) { return parse_getconf_answer(s.data(), s.size()); };
    EXPECT_EQ(parse("2 a.xml b.xml"), (std::vector<std::string>{"a.xml ", "b.xml"}));
    EXPECT_EQ(parse("9 a.xml b.xml"), (std::vector<std::string>{"a.xml ", "b.xml"}));
    EXPECT_EQ(parse("1 a.xml b.xml"), (std::vector<std::string>{"a.xml "}));
    EXPECT_TRUE(parse("0 a.xml").empty());
    EXPECT_TRUE(parse("-3 a.xml").empty());
    EXPECT_TRUE(parse("2").empty());
    EXPECT_TRUE(parse("").empty());
}

// Another sender answering first (a stale or hostile peer) neither fills the list nor ends the wait.
TEST(GetconfAnswer, OnlyTheMixersAnswerCounts) {
    for (const bool mixer_answers : {true, false}) {
        UdpEndpoint mixer, impostor;
        ASSERT_TRUE(mixer.open_bound(0, "127.0.0.1"));
        ASSERT_TRUE(impostor.open_bound(0, "127.0.0.1"));
        std::thread peer([&] {
            if (mixer.receive(3, 0) <= 0) return;
            impostor.set_peer(mixer.peer());
            impostor.send("1 evil.xml", 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (mixer_answers) mixer.send("1 good.xml", 10);
        });
        const auto names = request_mixer_configs({127, 0, 0, 1}, mixer.local_port(), std::chrono::milliseconds(150));
        peer.join();
        EXPECT_EQ(names, mixer_answers ? std::vector<std::string>{"good.xml"} : std::vector<std::string>{});
    }
}

TEST_F(PagesTest, MixerListComesFromGetconfAndTheChoiceGoesBackAsSetconf) {
    c.at(kMixerAddress).address = {127, 0, 0, 1};
    set_view(kViewRemoteMixer);
    {
        FakeMixer mixer("3 a.xml KAVRO_old.xml b.xml");
        PagesOptions o;
        o.mixer_port = mixer.udp.local_port();
        o.setconf_pause = std::chrono::milliseconds(0);
        pages = std::make_unique<PagesSubsystem>(app, new_snapshots, o);
        pages->refresh_config_list();
        mixer.thread.join();
        mixer.thread = std::thread([] {});
        EXPECT_EQ(mixer.received, std::vector<std::string>{"getconf"});
    }
    EXPECT_EQ(c.at(kMixerConfigList).items, (std::vector<std::string>{"a.xml ", "KAVRO_old.xml ", "b.xml"}));
    EXPECT_EQ(c.at(kMixerConfigList).selected, 1);

    c.at(kWebCheck).checked = true;
    {
        FakeMixer mixer("");
        PagesOptions o;
        o.mixer_port = mixer.udp.local_port();
        o.setconf_pause = std::chrono::milliseconds(0);
        pages = std::make_unique<PagesSubsystem>(app, new_snapshots, o);
        c.at(kMixerConfigList).selected = 2;
        pages->apply_configuration();
        mixer.thread.join();
        mixer.thread = std::thread([] {});
        ASSERT_EQ(mixer.received.size(), 1u);
        std::string expected = "setconf b.xml";
        expected.resize(100, '\0');
        EXPECT_EQ(mixer.received[0], expected);

    }
}

TEST_F(PagesTest, NoAnswerEmptiesAListThatHeldNames) {
    c.at(kMixerAddress).address = {127, 0, 0, 1};
    set_view(kViewLocalMixer);
    std::ofstream(configs() / "kavro_old.xml") << "<a/>";
    pages->refresh_config_list();
    EXPECT_EQ(c.at(kMixerConfigList).items, std::vector<std::string>{"kavro_old.xml"});
    EXPECT_EQ(c.at(kMixerConfigList).selected, 0);
    UdpEndpoint silent; // a bound port that never answers
    ASSERT_TRUE(silent.open_bound(0, "127.0.0.1"));
    PagesOptions o;
    o.mixer_port = silent.local_port();
    o.configs_dir = configs().string() + "/";
    pages = std::make_unique<PagesSubsystem>(app, new_snapshots, o);
    pages->refresh_config_list(); // local again
    set_view(kViewRemoteMixer);
    const auto start = std::chrono::steady_clock::now();
    pages->refresh_config_list();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_TRUE(c.at(kMixerConfigList).items.empty());
}

TEST_F(PagesTest, LocalListCopyAndPendingLayout) {
    set_view(kViewLocalMixer);
    std::ofstream(configs() / "interface_old.xml") << "x";
    std::ofstream(configs() / "kavro.xml") << "x";
    std::ofstream(configs() / "day.xml") << "day";
    std::ofstream(configs() / "notes.txt") << "x";
    fs::remove(configs() / "kavro.xml");
    pages->refresh_config_list();
    EXPECT_EQ(c.at(kMixerConfigList).items, std::vector<std::string>{"day.xml"});

    c.at(kMixerConfigList).selected = 0;
    pages->apply_configuration();
    std::ifstream copied(configs() / "kavro.xml");
    std::string text;
    copied >> text;
    EXPECT_EQ(text, "day");
    // A name that leaves the folder is not copied.
    fs::remove(configs() / "kavro.xml");
    c.at(kMixerConfigList).items = {"../interface_old.xml"};
    pages->apply_configuration();
    EXPECT_FALSE(fs::exists(configs() / "kavro.xml"));

    // The pending file: read, handed to the panes, sensor channels 1..5 set, the composite run.
    RecordingSensor sensor;
    video->sensor = &sensor;
    fs::copy_file(fs::path(KAVRO_SOURCE_DIR) / "configs/kavro.xml", configs() / "kavro.xml");
    pages->apply_pending_local_layout();
    EXPECT_FALSE(fs::exists(configs() / "kavro.xml"));
    EXPECT_TRUE(fs::exists(configs() / "kavro_old.xml"));
    ASSERT_GE(video->log.size(), 2u);
    EXPECT_EQ(video->log.front().rfind("layout", 0), 0u);
    EXPECT_EQ(video->log.back(), "run");
    EXPECT_EQ(sensor.calls.size(), 10u);
    EXPECT_EQ(sensor.calls.back(), "set 5");
    pages->apply_pending_local_layout(); // nothing pending any more
    EXPECT_EQ(video->log.back(), "run");
    EXPECT_EQ(std::count(video->log.begin(), video->log.end(), "run"), 1);
}

TEST_F(PagesTest, LaunchSendsEightBytesToTheBaseStation) {
    UdpEndpoint base;
    ASSERT_TRUE(base.open_bound(0, "127.0.0.1"));
    c.at(kBaseInEdit).text = std::to_string(base.local_port());
    pages->launch(3); // base 0.0.0.0: nothing
    EXPECT_EQ(base.receive(0, 100000), 0);
    c.at(kBaseAddress).address = {127, 0, 0, 1};
    pages->launch(3);
    ASSERT_EQ(base.receive(1, 0), 8);
    EXPECT_EQ(std::string(base.buffer(), 8), "launch 3");
}

TEST_F(PagesTest, ReferenceNodeRulesAndMeshNames) {
    FakeMesh mesh;
    RecordingSensor sensor;
    video->mesh_source = &mesh;
    video->sensor = &sensor;
    app.window.node_addresses = {{1, {10, 0, 0, 1}}, {2, {10, 0, 0, 2}}, {5, {10, 0, 0, 5}}};
    app.own_address = {192, 168, 1, 9};
    app.own_address_known = true;
    c.at(kBaseAddress).address = {10, 0, 0, 5};
    c.at(kBaseOlsrEdit).text = "2010";
    c.at(kMixerAddress).address = {10, 0, 0, 50};

    // "Web": the base station's topology service; the reference is the chosen node's address.
    c.at(kWebCheck).checked = true;
    c.at(kReferenceList).text = "Robot 2";
    pages->apply_reference_node();
    // Local, "Virtual", "BASE": this station's own service and address.
    c.at(kWebCheck).checked = false;
    c.at(kVirtualCheck).checked = true;
    c.at(kReferenceList).text = "BASE";
    pages->apply_reference_node();
    // Local otherwise: the chosen node's own service; an unknown name keeps the reference.
    c.at(kVirtualCheck).checked = false;
    c.at(kReferenceList).text = "Robot 1";
    pages->apply_reference_node();
    c.at(kReferenceList).text = "Robot 9";
    pages->apply_reference_node();
    EXPECT_EQ(mesh.calls, (std::vector<std::string>{"server 10.0.0.5:2010", "server 127.0.0.1:2004",
                                                    "server 10.0.0.1:2004", "server 10.0.0.1:2004"}));
    EXPECT_EQ(sensor.calls, (std::vector<std::string>{"loopback 10.0.0.2", "loopback 192.168.1.9",
                                                      "loopback 10.0.0.1", "loopback 10.0.0.1"}));

    mesh.calls.clear();
    pages->name_mesh_nodes();
    EXPECT_EQ(mesh.calls, (std::vector<std::string>{"10.0.0.50=BASE", "192.168.1.9=BASE", "10.0.0.1=R1",
                                                    "10.0.0.2=R2", "0.0.0.0=R3", "0.0.0.0=R4"}));
}

} // namespace
} // namespace kavro::console
