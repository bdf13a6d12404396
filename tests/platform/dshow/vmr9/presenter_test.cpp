// The display side: video position (which part of the composition lands where), pictures only when something
// changed, and the current image as a bottom-up 32-bit bitmap at the native size.
#include "platform/dshow/vmr9/presenter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace kavro::vmr9;

namespace {

std::vector<std::uint8_t> solid32(int w, int h, std::uint32_t rgb) {
    std::vector<std::uint8_t> f(std::size_t(w) * std::size_t(h) * 4);
    for (std::size_t i = 0; i < f.size(); i += 4) std::memcpy(&f[i], &rgb, 4);
    return f;
}

struct Shown {
    int calls = 0;
    std::intptr_t window = 0;
    int w = 0, h = 0;
    std::vector<std::uint32_t> px;
    std::uint32_t at(int x, int y) const { return px[std::size_t(y) * std::size_t(w) + std::size_t(x)] & 0xffffff; }
};

PictureSink recorder(Shown& s) {
    return [&s](std::intptr_t window, const ImageView& v) {
        ++s.calls;
        s.window = window;
        s.w = v.width;
        s.h = v.height;
        s.px.assign(v.pixels, v.pixels + std::size_t(v.width) * std::size_t(v.height));
    };
}

// Reference 200x100: stream 0 black; stream 1 red in the left half; stream 2 blue in the right half.
void two_halves(Presenter& p) {
    const auto black = solid32(200, 100, 0), red = solid32(8, 8, 0xff0000), blue = solid32(8, 8, 0x0000ff);
    p.mixer().submit(0, {black.data(), black.size(), 200, 100, PixelFormat::rgb32, false, 0});
    p.mixer().submit(1, {red.data(), red.size(), 8, 8, PixelFormat::rgb32, false, 0});
    p.mixer().submit(2, {blue.data(), blue.size(), 8, 8, PixelFormat::rgb32, false, 0});
    p.mixer().set_z_order(0, 15);
    p.mixer().set_output_rect(1, {0, 0, 0.5f, 1});
    p.mixer().set_output_rect(2, {0.5f, 0, 1, 1});
}

} // namespace

TEST(Vmr9Presenter, NothingShownWithoutSinkOrDestination) {
    Presenter p(3);
    two_halves(p);
    EXPECT_FALSE(p.present(true)); // no sink
    Shown s;
    p.set_sink(recorder(s));
    EXPECT_FALSE(p.present(true)); // empty destination
    EXPECT_EQ(s.calls, 0);
}

TEST(Vmr9Presenter, VideoPositionMapsThePictureIntoTheWindow) {
    Presenter p(3);
    two_halves(p);
    Shown s;
    p.set_sink(recorder(s));
    p.set_window(0x1234);
    const PixelRect dest{0, 0, 60, 30};
    ASSERT_TRUE(p.set_video_position(nullptr, &dest));
    ASSERT_TRUE(p.present());
    EXPECT_EQ(s.window, 0x1234);
    ASSERT_EQ(s.w, 60);
    ASSERT_EQ(s.h, 30);
    EXPECT_EQ(s.at(10, 15), 0xff0000u);
    EXPECT_EQ(s.at(50, 15), 0x0000ffu);
    PixelRect src, dst;
    p.video_position(src, dst);
    EXPECT_EQ(src.right, 200); // the whole native video by default
    EXPECT_EQ(src.bottom, 100);

    // The right half of the video (x 100..200) fills the destination: blue everywhere, but for a red column
    // when the source starts one quarter earlier.
    PixelRect right{100, 0, 200, 100};
    ASSERT_TRUE(p.set_video_position(&right, nullptr));
    ASSERT_TRUE(p.present());
    EXPECT_EQ(s.at(1, 15), 0x0000ffu);
    EXPECT_EQ(s.at(58, 15), 0x0000ffu);
    PixelRect wider{50, 0, 200, 100}; // 150 wide into 60: x 0..19 red, 20..59 blue
    ASSERT_TRUE(p.set_video_position(&wider, nullptr));
    ASSERT_TRUE(p.present());
    EXPECT_EQ(s.at(18, 5), 0xff0000u);
    EXPECT_EQ(s.at(21, 5), 0x0000ffu);

    // Refused: a source beyond the native video, an empty source, a destination of negative size.
    const PixelRect beyond{0, 0, 201, 100}, empty{10, 10, 10, 20}, negative{10, 10, 5, 20};
    EXPECT_FALSE(p.set_video_position(&beyond, nullptr));
    EXPECT_FALSE(p.set_video_position(&empty, nullptr));
    EXPECT_FALSE(p.set_video_position(nullptr, &negative));
    p.video_position(src, dst);
    EXPECT_EQ(src.left, 50);
    EXPECT_EQ(dst.right, 60);
}

TEST(Vmr9Presenter, PicturesOnlyWhenSomethingChanged) {
    Presenter p(3);
    two_halves(p);
    Shown s;
    p.set_sink(recorder(s));
    const PixelRect dest{0, 0, 20, 10};
    p.set_video_position(nullptr, &dest);
    p.present();
    EXPECT_EQ(s.calls, 1);
    p.present();
    EXPECT_EQ(s.calls, 1);
    p.present(true);
    EXPECT_EQ(s.calls, 2);
    p.mixer().set_alpha(1, 0.5f);
    p.present();
    EXPECT_EQ(s.calls, 3);
    EXPECT_EQ(s.at(2, 2), 0x800000u);
    // A snapshot does not swallow a new frame: the next tick still shows it.
    const auto green = solid32(8, 8, 0x00ff00);
    p.mixer().submit(1, {green.data(), green.size(), 8, 8, PixelFormat::rgb32, false, 0});
    std::vector<std::uint8_t> dib;
    ASSERT_TRUE(p.current_image(dib));
    p.present();
    EXPECT_EQ(s.calls, 4);
    EXPECT_EQ(s.at(2, 2), 0x008000u);
}

TEST(Vmr9Presenter, CurrentImageIsABottomUpBitmapAtNativeSize) {
    Presenter p(3);
    std::vector<std::uint8_t> dib;
    EXPECT_FALSE(p.current_image(dib)); // no native size yet
    two_halves(p);
    p.mixer().set_output_rect(1, {0, 0, 0.5f, 0.5f}); // red: top-left quarter only
    const PixelRect dest{0, 0, 30, 20};
    p.set_video_position(nullptr, &dest); // the window size does not matter
    ASSERT_TRUE(p.current_image(dib));
    auto u32 = [&](std::size_t at) {
        std::uint32_t v;
        std::memcpy(&v, &dib[at], 4);
        return v;
    };
    ASSERT_EQ(dib.size(), 40u + 200u * 100u * 4u);
    EXPECT_EQ(u32(0), 40u);
    EXPECT_EQ(u32(4), 200u);
    EXPECT_EQ(u32(8), 100u);
    EXPECT_EQ(u32(12), 1u | 32u << 16);
    EXPECT_EQ(u32(16), 0u);
    EXPECT_EQ(u32(20), 200u * 100u * 4u);
    auto pixel = [&](int x, int y) { return u32(40 + (std::size_t(99 - y) * 200 + std::size_t(x)) * 4) & 0xffffff; };
    EXPECT_EQ(pixel(10, 10), 0xff0000u);  // top-left: red, stored in the last row
    EXPECT_EQ(pixel(10, 90), 0x000000u);  // bottom-left: black background
    EXPECT_EQ(pixel(190, 50), 0x0000ffu); // right half: blue
    // The connection's format decides the native size once known.
    p.set_reference_size(100, 50);
    ASSERT_TRUE(p.current_image(dib));
    EXPECT_EQ(u32(4), 100u);
    EXPECT_EQ(u32(8), 50u);
}

TEST(Vmr9Presenter, ShownPictureIsTheLastPictureShownScaledToTheAskedSize) {
    Presenter p(3);
    two_halves(p);
    std::vector<std::uint32_t> out(std::size_t(50) * 10, 0x12345678u);
    EXPECT_FALSE(p.shown_picture(out.data(), 40, 10, 50)); // nothing shown yet
    Shown s;
    p.set_sink(recorder(s));
    const PixelRect dest{0, 0, 30, 20};
    p.set_video_position(nullptr, &dest);
    ASSERT_TRUE(p.present());
    // Changes after the picture are not in it: it is what the window shows, not a new composition.
    p.mixer().set_output_rect(1, {0, 0, 1, 1});
    EXPECT_FALSE(p.shown_picture(out.data(), 40, 10, 39)); // rows overlap
    EXPECT_FALSE(p.shown_picture(nullptr, 40, 10, 50));
    ASSERT_TRUE(p.shown_picture(out.data(), 40, 10, 50)); // 30x20 widened and halved, rows 50 pixels apart
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(out[std::size_t(y) * 50 + std::size_t(x)] & 0xffffff, s.at(x * 30 / 40, y * 20 / 10))
                << x << "," << y;
        EXPECT_EQ(out[std::size_t(y) * 50 + 45], 0x12345678u); // the padding of each row is left alone
    }
    EXPECT_EQ(out[0] & 0xffffff, 0xff0000u);
    EXPECT_EQ(out[39] & 0xffffff, 0x0000ffu);
}
