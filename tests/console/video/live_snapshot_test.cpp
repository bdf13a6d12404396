// Snapshots of live pictures through the whole path: the composite running with Noir, the capture card's four
// inputs, four simulated network cameras and the sensor overlay, its renderer's current image written by the
// snapshot command as a JPEG, and a camera player's own picture saved by the same command in a camera view.
#include "console/pages/pages.h"
#include "platform/jpeg/jpeg.h"
#include "tests/console/video/video_test_support.h"
#include "tests/support/message_boxes.h"
#include "tools/kavro-camera-sim/camera_sim.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

namespace kavro::test {
namespace {

using namespace console;
using namespace std::chrono_literals;

struct Picture {
    jpeg::Info info;
    std::vector<std::uint8_t> rgb;
    // Mean of a channel (0 red, 1 green, 2 blue) over x0..x1, y0..y1 (from the top, ends excluded).
    int mean(int x0, int y0, int x1, int y1, int channel) const {
        long sum = 0, n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x, ++n)
                sum += rgb[(std::size_t(y) * std::size_t(info.width) + std::size_t(x)) * 3 + std::size_t(channel)];
        return int(sum / n);
    }
    // "r g b" means of a region, for messages and comparisons.
    std::array<int, 3> colour(int x0, int y0, int x1, int y1) const {
        return {mean(x0, y0, x1, y1, 0), mean(x0, y0, x1, y1, 1), mean(x0, y0, x1, y1, 2)};
    }
};

Picture decode(const fs::path& file) {
    Picture p;
    EXPECT_EQ(jpeg::read_info_file(file.string(), p.info), jpeg::Status::ok) << file;
    p.rgb.resize(std::size_t(p.info.width) * std::size_t(p.info.height) * 3);
    const jpeg::Target t{p.rgb.data(), p.rgb.size(), p.info.width, p.info.height, std::size_t(p.info.width) * 3,
                         jpeg::PixelFormat::rgb24, false};
    EXPECT_EQ(jpeg::decode_file(file.string(), t), jpeg::Status::ok) << file;
    return p;
}

// Each channel within 48 of the expected 0xRRGGBB.
void expect_colour(const std::array<int, 3>& got, std::uint32_t want, const char* what) {
    const int w[3] = {int(want >> 16 & 0xFF), int(want >> 8 & 0xFF), int(want & 0xFF)};
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(got[std::size_t(c)], w[c], 48) << what << ": " << got[0] << " " << got[1] << " " << got[2];
}

bool eventually(const std::function<bool()>& ok, std::chrono::milliseconds limit = 15s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (ok()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return ok();
}

// The colour of the composite's current image at (x, y) from the top, as 0xRRGGBB; 0 when there is no image.
std::uint32_t composite_pixel(ConsoleVideo& video, int x, int y) {
    std::vector<std::uint8_t> dib;
    if (FAILED(video.current_image(kViewLocalMixer, dib)) || dib.size() < 40 + 768u * 576u * 4u) return 0;
    const std::uint8_t* px = dib.data() + 40 + 4 * (768 * std::size_t(575 - y) + std::size_t(x));
    return std::uint32_t(px[2]) << 16 | std::uint32_t(px[1]) << 8 | px[0];
}

class LiveSnapshot : public VideoFixture {
protected:
    void SetUp() override {
        VideoFixture::SetUp();
        if (HasFatalFailure()) return;
        setenv("KAVRO_DRIVE_C", (temp_ / "drive").c_str(), 1);
        // Camera m of the window plays the m-th simulated camera, of kind "ZOOM".
        for (int m = 1; m <= 4; ++m) {
            camsim::CameraOptions options;
            options.port = 0;
            cameras_.push_back(std::make_unique<camsim::Camera>(options));
            app_.controls->set_address(ids::camera_address(m), {127, 0, 0, 1});
            app_.controls->set_number(ids::camera_port(m), unsigned(cameras_.back()->port()));
            app_.controls->set_checked(ids::camera_zoom_kind(m), true);
            app_.controls->set_checked(ids::camera_mjpeg_kind(m), false);
            app_.controls->set_checked(ids::camera_mpeg4_kind(m), false);
        }
        auto video = make_video();
        video_ = video.get();
        app_.subsystems.video = std::move(video);
        ASSERT_EQ(video_->build(), S_OK);
        PagesOptions options;
        options.configs_dir = configs_.string() + "/";
        pages_ = std::make_unique<PagesSubsystem>(app_, std::make_shared<std::atomic<int>>(0), options);
    }
    void TearDown() override {
        pages_.reset();
        app_.subsystems.video.reset();
        cameras_.clear();
        unsetenv("KAVRO_DRIVE_C");
        VideoFixture::TearDown();
    }
    fs::path snapshot(int n) const {
        return temp_ / "drive/Program Files/KAVRO/Map/snapshot" / ("snapshot" + std::to_string(n) + ".jpg");
    }

    MessageBoxes boxes_;
    std::vector<std::unique_ptr<camsim::Camera>> cameras_;
    ConsoleVideo* video_ = nullptr;
    std::unique_ptr<PagesSubsystem> pages_;
};

TEST_F(LiveSnapshot, CompositeAndCameraPlayerPicturesBecomeJpegFilesShowingWhatIsLive) {
    // The capture card's inputs 1..4 along the top (y 0..0.4), cameras 1..4 along the bottom (y 0.6..1), black
    // between them, and the overlay at 0.8: the remote layout command's own path, which runs the composite.
    CompositePane panes[kConsolePanes]{};
    for (int k = 0; k < kConsolePanes; ++k) {
        const float left = float(k % 4) / 4, top = k < 4 ? 0.0f : 0.6f;
        panes[k] = CompositePane{left, top, left + 0.25f, top + 0.4f, 1.0f, k, false};
    }
    video_->apply_remote_layout(panes, 0.8f, nullptr);
    for (int k = 0; k < kConsolePanes; ++k) ASSERT_TRUE(video_->layout().panes[k].connected) << k;
    ASSERT_TRUE(video_->layout().overlay_enabled);
    app_.window.view = kViewLocalMixer;
    // Wait for camera 4's picture in the bottom right pane: its cyan bar (x 624..648 of the composite).
    ASSERT_TRUE(eventually([&] {
        const std::uint32_t c = composite_pixel(*video_, 636, 380);
        return (c >> 16 & 0xFF) < 64 && (c >> 8 & 0xFF) > 192 && (c & 0xFF) > 192;
    })) << std::hex << composite_pixel(*video_, 636, 380);

    pages_->take_snapshot();
    ASSERT_TRUE(fs::exists(snapshot(1)));
    const Picture composite = decode(snapshot(1));
    EXPECT_EQ(composite.info.width, 768);
    EXPECT_EQ(composite.info.height, 576);
    EXPECT_EQ(composite.info.channels, 3);
    // Noir between the rows; input 4's yellow bar (the card's second, x 603..631); camera 4's cyan bar and
    // camera 1's green bar (the cameras' third and fourth, 24 pixels wide each in a pane).
    expect_colour(composite.colour(400, 260, 740, 320), 0x000000, "black background");
    expect_colour(composite.colour(608, 20, 626, 100), 0xBFBF00, "capture input 4");
    expect_colour(composite.colour(628, 360, 644, 410), 0x00FFFF, "camera 4");
    expect_colour(composite.colour(76, 360, 92, 410), 0x00FF00, "camera 1");
    EXPECT_EQ(app_.window.snapshot_counter, 1);
    EXPECT_EQ(app_.window.view.load(), kViewPages);  // the map is shown after a snapshot

    // Camera 2's view: the ZOOM player shows it; once it has a picture, the snapshot is the player's own.
    app_.window.view = kViewCameraFirst + 1;
    video_->start_view(kViewCameraFirst + 1);
    ASSERT_TRUE(eventually([&] { return SUCCEEDED(video_->save_player_picture(CameraKind::zoom, "C:/probe.jpg")); }));
    pages_->take_snapshot();
    ASSERT_TRUE(fs::exists(snapshot(2)));
    const Picture player = decode(snapshot(2));
    EXPECT_EQ(player.info.width, 768);
    EXPECT_EQ(player.info.height, 576);
    // The camera's own bars over the top third, 96 pixels each: white, yellow, cyan, green, magenta, red.
    expect_colour(player.colour(10, 20, 86, 170), 0xFFFFFF, "player white");
    expect_colour(player.colour(298, 20, 374, 170), 0x00FF00, "player green");
    expect_colour(player.colour(490, 20, 566, 170), 0xFF0000, "player red");
    EXPECT_EQ(app_.window.snapshot_counter, 2);
    for (const std::string& box : boxes_.seen()) EXPECT_EQ(box.find("Snapshot"), std::string::npos) << box;
    EXPECT_TRUE(reported_.empty());
}

} // namespace
} // namespace kavro::test
