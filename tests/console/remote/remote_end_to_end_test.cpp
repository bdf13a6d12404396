// The remote-control port end to end: datagrams over UDP on loopback to the listener, acting on the console's
// video built with the real plug-ins (and a capture card that records its adjustments).
#include "console/install_video.h"
#include "console/link/udp_endpoint.h"
#include "console/remote/remote_listener.h"
#include "tests/console/video/video_test_support.h"
#include "util/text_split.h"

#include <chrono>
#include <fstream>
#include <random>
#include <sys/resource.h>
#include <thread>

namespace kavro::test {
namespace {

using namespace console;
using namespace std::chrono_literals;

bool eventually(const std::function<bool()>& ok, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (ok()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return ok();
}

std::vector<std::string> files_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string layout_message(const std::vector<std::string>& panes, const std::string& overlay,
                           const std::string& sensor = {}) {
    std::string m = "2";
    for (int k = 0; k < 4; ++k) m += " " + panes[std::size_t(k)];
    for (int i = 25; i <= 48; ++i) m += " 0";
    for (int k = 4; k < 8; ++k) m += " " + panes[std::size_t(k)];
    m += " " + overlay;
    if (!sensor.empty()) m += " " + sensor;
    return m;
}

class RemoteControlTest : public VideoFixture {
protected:
    void SetUp() override {
        factory_.fake_card = true;
        VideoFixture::SetUp();
        if (HasFatalFailure()) return;
        video_ = make_video();
        ASSERT_EQ(video_->build(), S_OK);
        target_ = std::make_unique<ConsoleRemoteTarget>(app_, *video_, shutdown_);
        target_->set_window(window_);
        listener_ = std::make_unique<RemoteControlListener>(*target_, app_.drive.quit, std::uint16_t(0));
        listener_->start_listener();
        const std::uint16_t port = listener_->wait_bound();
        ASSERT_NE(port, 0);
        ASSERT_TRUE(sender_.open_towards(port, "127.0.0.1"));
    }
    void TearDown() override {
        listener_.reset();
        target_.reset();
        video_.reset();
        VideoFixture::TearDown();
    }
    // Sends and waits until the listener has handled the datagram.
    void send(const std::string& text) {
        const long before = listener_->handled();
        ASSERT_EQ(sender_.send(text.data(), int(text.size())), int(text.size()));
        ASSERT_TRUE(eventually([&] { return listener_->handled() > before; })) << text;
    }
    ComPtr<IVMRMixerControl9> mixer() {
        ComPtr<IVMRMixerControl9> m;
        EXPECT_EQ(ComPtr<IBaseFilter>(video_->composite_renderer()).as(IID_IVMRMixerControl9, m), S_OK);
        return m;
    }

    sys::RecordingShutdown shutdown_;
    std::unique_ptr<ConsoleVideo> video_;
    std::unique_ptr<ConsoleRemoteTarget> target_;
    std::unique_ptr<RemoteControlListener> listener_;
    UdpEndpoint sender_;
};

TEST_F(RemoteControlTest, SaveWritesTheCurrentLayoutAndRefusedNamesWriteNothing) {
    send("1 test.xml");
    ASSERT_TRUE(fs::exists(configs_ / "test.xml"));
    MinXL::t_xml_node saved("_EMPTY_", "");
    saved.load_file((configs_ / "test.xml").string());
    EXPECT_EQ(saved.child(kConsoleFirstPane + 4).child(4).node_text(), "1");  // camera 1 shown
    EXPECT_EQ(saved.child(kConsoleFirstPane + 1).child(0).node_text(), "0.5");
    EXPECT_EQ(saved.child(kConsoleSensorBlock).child(1).node_text(), "0.8");  // overlay alpha

    send("1 lf.xml\n");  // the line end is not part of the name
    EXPECT_TRUE(fs::exists(configs_ / "lf.xml"));

    const auto before = files_in(configs_);
    const auto parent_before = files_in(configs_.parent_path());
    for (const std::string& bad : std::vector<std::string>{"1 ../escape.xml", "1 sub/x.xml", "1 ..", "1 ", "1 " + std::string(120, 'n'),
                                  "1 a\\b.xml"})
        send(bad);
    EXPECT_EQ(files_in(configs_), before);
    EXPECT_EQ(files_in(configs_.parent_path()), parent_before);
}

TEST_F(RemoteControlTest, LayoutReachesTheRenderersStreamsAndTheSensorFilter) {
    // Pane 0 at alpha 0.1 stays (0.1f lies above the double 0.1), pane 4 at 0.05 goes, camera 2 (pane 5)
    // comes at z 3, the others as they are; overlay 0.6 with robot 1's settings 1 on, 11, 12 ...
    const std::vector<std::string> panes = {
        "0 0 0.5 0.5 0.1 0", "0.5 0 1 0.5 1 1", "0 0.5 0.5 1 1 2", "0.5 0.5 1 1 1 3",
        "0 0 0.5 0.5 0.05 4", "0.25 0.25 0.75 0.75 0.5 3", "0 0 0 0 0 0", "0 0 0 0 0 0"};
    std::string sensor = "1 11 12 0 41 42 1 21 22 0 31 32";
    for (int r = 2; r <= 4; ++r) sensor += " 0 0 0 0 0 0 0 0 0 0 0 0";
    send(layout_message(panes, "0.6", sensor));

    const ConsoleLayout layout = video_->layout();
    EXPECT_TRUE(layout.panes[0].connected);
    EXPECT_FALSE(layout.panes[4].connected);
    EXPECT_EQ(layout.panes[4].alpha, 0.0f);
    EXPECT_TRUE(layout.panes[5].connected);
    EXPECT_FALSE(layout.panes[6].connected);
    EXPECT_TRUE(layout.overlay_enabled);
    EXPECT_EQ(layout.overlay_alpha, 0.6f);

    ComPtr<IVMRMixerControl9> m = mixer();
    float alpha = 0;
    DWORD z = 0;
    VMR9NormalizedRect r{};
    ASSERT_EQ(m->GetAlpha(6, &alpha), S_OK);
    EXPECT_EQ(alpha, 0.5f);
    ASSERT_EQ(m->GetZOrder(6, &z), S_OK);
    EXPECT_EQ(z, 9u);
    ASSERT_EQ(m->GetOutputRect(6, &r), S_OK);
    EXPECT_EQ(r.left, 0.25f);
    EXPECT_EQ(r.bottom, 0.75f);
    ASSERT_EQ(m->GetAlpha(1, &alpha), S_OK);
    EXPECT_EQ(alpha, 0.1f);
    // One decoder: camera 1's went with its pane, camera 2's came with its own.
    EXPECT_EQ(filters_of_class(video_->composite_graph(), CLSID_JpegDecoder), 1);

    ConsoleSensorChannelRecord rec{};
    ASSERT_EQ(video_->sensor()->GetConfig(1, &rec), S_OK);
    EXPECT_EQ(rec.settings.setting1_on, 1);
    EXPECT_EQ(rec.settings.setting1_a, 11);
    EXPECT_EQ(rec.settings.setting4_a, 41);
    EXPECT_EQ(rec.settings.setting2_on, 1);
    EXPECT_EQ(rec.settings.setting3_b, 32);

    OAFilterState state{};
    EXPECT_EQ(video_->media_control(10)->GetState(2000, &state), S_OK);
    EXPECT_EQ(state, State_Running);

    // A short layout changes nothing.
    send(layout_message(panes, "0").substr(0, layout_message(panes, "0").rfind(' ')));
    ASSERT_EQ(m->GetAlpha(6, &alpha), S_OK);
    EXPECT_EQ(alpha, 0.5f);
    EXPECT_EQ(video_->layout().overlay_alpha, 0.6f);
    EXPECT_TRUE(reported_.empty());
}

TEST_F(RemoteControlTest, AdjustmentsReachTheCaptureCardScaledAndAFailureReleasesTheVideo) {
    ASSERT_NE(factory_.card, nullptr);
    send("3 1 100 100 100 100");
    send("3 4 0 200 50 7");
    using Call = FakeCard::Call;
    EXPECT_EQ(factory_.card->calls(), (std::vector<Call>{{1, 127, 0}, {2, 127, 0}, {3, 127, 0}, {4, 127, 0},
                                                         {1, 0, 3}, {2, 254, 3}, {3, 63, 3}, {4, 8, 3}}));
    factory_.card->fail_which = 2;
    send("3 2 1 1 1 1");
    EXPECT_EQ(reported_, std::vector<int>{video_location::kAdjustFirst + 1});
    EXPECT_FALSE(video_->video_ready());
    EXPECT_FALSE(video_->sensor());
}

TEST_F(RemoteControlTest, ShutDownGoesThroughTheShutdownAndCloseReachesTheWindow) {
    send("-2");
    EXPECT_EQ(shutdown_.privilege_requests.load(), 1);
    EXPECT_EQ(shutdown_.shutdown_requests.load(), 1);

    send("-1\n");
    EXPECT_TRUE(app_.drive.quit.load());
    ui::Msg msg{};
    bool destroy = false;
    for (int i = 0; i < 1000 && !destroy && ui::peek_message(msg); ++i)  // paint requests come without end
        destroy = msg.hwnd == window_ && msg.message == ui::WM_DESTROY;
    EXPECT_TRUE(destroy);
    // The listener ends within a second of quit.
    const auto start = std::chrono::steady_clock::now();
    listener_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

double process_cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A hundred thousand malformed datagrams: the listener stays up and serves the next good one, writes nothing
// but inside the configs folder, and is idle afterwards.
TEST_F(RemoteControlTest, HundredThousandMalformedDatagramsLeaveItUpIdleAndWritingOnlyIntoConfigs) {
    const fs::path root = configs_.parent_path();
    const auto outside_before = files_in(root);
    std::mt19937 rng(12345);
    auto random_text = [&](std::size_t n) {
        std::string s(n, ' ');
        for (char& c : s) c = char(rng() % 256);
        return s;
    };
    const std::string good_layout = layout_message(std::vector<std::string>(8, "0 0 1 1 1 0"), "0.5");
    long sent = 0;
    for (int i = 0; i < 100000; ++i) {
        std::string d;
        switch (rng() % 5) {
        case 0: d = random_text(rng() % 1000); break;
        case 1: d = good_layout.substr(0, rng() % good_layout.size()); break;              // cut short
        case 2: {  // hostile names: a folder part, a way up, a control character
            const char* bad[] = {"/", "\\", "..", "\n", "\t"};
            std::string t = random_text(rng() % 120);
            std::replace(t.begin(), t.end(), '\0', 'x');  // the name would end before the bad part
            std::replace(t.begin(), t.end(), ' ', 'x');
            const std::size_t at = t.empty() ? 0 : rng() % t.size();
            d = "1 " + t.substr(0, at) + bad[rng() % 5] + t.substr(at);
            break;
        }
        case 3: d = "1 ../" + random_text(rng() % 8) + "/x.xml"; break;
        default: d = "3 " + std::to_string(int(rng() % 20) - 5) + " " + random_text(rng() % 16); break;
        }
        const std::int32_t command = TextTokens(d).as_int(0);
        if (command == -1 || command == -2 || d.empty()) continue;  // a real close or shutdown; no text
        sender_.send(d.data(), int(d.size()));
        ++sent;
        // Keep the socket's queue short so that none is dropped unseen.
        if (sent % 64 == 0) {
            ASSERT_TRUE(eventually([&] { return listener_->handled() >= sent; }, 30s)) << sent;
        }
    }
    ASSERT_TRUE(eventually([&] { return listener_->handled() >= sent; }, 30s));
    send("1 still-up.xml");
    EXPECT_TRUE(fs::exists(configs_ / "still-up.xml"));
    EXPECT_EQ(files_in(root), outside_before);  // only the configs folder was written into

    video_->stop_graphs();
    const double before = process_cpu_seconds();
    std::this_thread::sleep_for(1s);
    EXPECT_LT(process_cpu_seconds() - before, 0.25);  // under a quarter of a core with the video stopped
}

} // namespace
} // namespace kavro::test
