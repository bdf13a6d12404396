// The mixing core: input formats, placement, opacity, layering, the colour-keyed overlay and the hand-over
// between source threads and the composing thread. Expected colours are computed with exact arithmetic at
// pixel centres; pixman's 8-bit blending is allowed a small tolerance.
#include "platform/dshow/vmr9/compositor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

using namespace kavro::vmr9;

namespace {

struct Rgb {
    double r, g, b;
};

Rgb rgb_of(std::uint32_t c) { return {double(c >> 16 & 0xff), double(c >> 8 & 0xff), double(c & 0xff)}; }
Rgb mix(Rgb top, Rgb under, double alpha) {
    return {top.r * alpha + under.r * (1 - alpha), top.g * alpha + under.g * (1 - alpha),
            top.b * alpha + under.b * (1 - alpha)};
}

// A bitmap in one of the source layouts, built byte by byte from 0x00RRGGBB colours (rows top to bottom).
struct Bitmap {
    std::vector<std::uint8_t> bytes;
    int width, height;
    PixelFormat format;
    bool bottom_up;
    FrameView view() const { return {bytes.data(), bytes.size(), width, height, format, bottom_up, 0}; }
};

Bitmap make_bitmap(PixelFormat format, int w, int h, bool bottom_up, auto colour_at, std::uint8_t padding = 0xee) {
    const std::size_t stride = dib_stride(format, w);
    Bitmap b{std::vector<std::uint8_t>(stride * std::size_t(h), padding), w, h, format, bottom_up};
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = b.bytes.data() + stride * std::size_t(bottom_up ? h - 1 - y : y);
        for (int x = 0; x < w; ++x) {
            const std::uint32_t c = colour_at(x, y);
            const std::uint8_t r = c >> 16 & 0xff, g = c >> 8 & 0xff, bl = c & 0xff;
            switch (format) {
            case PixelFormat::rgb32:
                row[4 * x] = bl, row[4 * x + 1] = g, row[4 * x + 2] = r, row[4 * x + 3] = 0x00;
                break;
            case PixelFormat::rgb24: row[3 * x] = bl, row[3 * x + 1] = g, row[3 * x + 2] = r; break;
            case PixelFormat::rgb565: {
                const std::uint16_t v = std::uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (bl >> 3));
                row[2 * x] = std::uint8_t(v & 0xff), row[2 * x + 1] = std::uint8_t(v >> 8);
                break;
            }
            }
        }
    }
    return b;
}

Bitmap solid(std::uint32_t rgb, int w = 32, int h = 24, PixelFormat f = PixelFormat::rgb32) {
    return make_bitmap(f, w, h, false, [=](int, int) { return rgb; });
}

// Uniform but for its top-left pixel: goes through scaling rather than through a fill.
Bitmap marked(std::uint32_t rgb, int w = 32, int h = 24, PixelFormat f = PixelFormat::rgb32) {
    return make_bitmap(f, w, h, false, [=](int x, int y) { return x == 0 && y == 0 ? 0x808080u : rgb; });
}

struct Target {
    int w, h;
    std::vector<std::uint32_t> px;
    Target(int width, int height) : w(width), h(height), px(std::size_t(width) * std::size_t(height), 0xdeadbeef) {}
    ImageView view() { return {px.data(), w, h, std::size_t(w) * 4}; }
    std::uint32_t at(int x, int y) const { return px[std::size_t(y) * std::size_t(w) + std::size_t(x)] & 0xffffff; }
};

::testing::AssertionResult near(std::uint32_t got, Rgb want, double tolerance = 2.0) {
    const Rgb g = rgb_of(got);
    if (std::fabs(g.r - want.r) <= tolerance && std::fabs(g.g - want.g) <= tolerance &&
        std::fabs(g.b - want.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << g.r << "," << g.g << "," << g.b << ") want (" << want.r
                                         << "," << want.g << "," << want.b << ")";
}

constexpr std::uint32_t red = 0xff0000, green = 0x00ff00, blue = 0x0000ff, white = 0xffffff;

} // namespace

// Each source layout at 1:1 scale shows its pixels unchanged and the right way up; row padding never shows.
TEST(Vmr9Compositor, SourceLayoutsAtNativeSize) {
    auto colour_at = [](int x, int y) { return std::uint32_t((x * 40 + 10) << 16 | (y * 50 + 20) << 8 | (x * 7 + y * 30)); };
    struct Case {
        PixelFormat format;
        bool bottom_up;
        double tolerance; // 5-6-5 keeps 5 or 6 bits of each channel
    } cases[] = {{PixelFormat::rgb32, false, 0}, {PixelFormat::rgb32, true, 0},  {PixelFormat::rgb24, true, 0},
                 {PixelFormat::rgb24, false, 0}, {PixelFormat::rgb565, true, 8.5}, {PixelFormat::rgb565, false, 8.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "bits " << bits_per_pixel(c.format) << " bottom_up " << c.bottom_up);
        const Bitmap b = make_bitmap(c.format, 5, 4, c.bottom_up, colour_at); // odd width: padded rows
        Compositor mixer(1);
        ASSERT_EQ(mixer.submit(0, b.view()), Status::ok);
        Target t(5, 4);
        mixer.compose(t.view());
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) EXPECT_TRUE(near(t.at(x, y), rgb_of(colour_at(x, y)), c.tolerance)) << x << "," << y;
    }
}

// A frame that differs from its first pixel in one place only, anywhere, is a picture and not a fill: the
// uniform-picture check looks at every row. The unused byte of 32-bit pixels never counts.
TEST(Vmr9Compositor, OnePixelOffAnywhereIsNotAUniformFrame) {
    const PixelFormat formats[] = {PixelFormat::rgb32, PixelFormat::rgb24, PixelFormat::rgb565};
    const int places[][2] = {{31, 23}, {0, 23}, {17, 11}, {31, 0}};
    for (PixelFormat f : formats)
        for (const auto& at : places) {
            SCOPED_TRACE(testing::Message() << "bits " << bits_per_pixel(f) << " at " << at[0] << "," << at[1]);
            const Bitmap b = make_bitmap(f, 32, 24, false, [&](int x, int y) {
                return x == at[0] && y == at[1] ? white : green;
            });
            Compositor mixer(1);
            ASSERT_EQ(mixer.submit(0, b.view()), Status::ok);
            Target t(32, 24);
            mixer.compose(t.view());
            EXPECT_EQ(t.at(at[0], at[1]), white);
            EXPECT_EQ(t.at(at[0] == 0 ? 1 : 0, at[1]), green);
        }
    // 32-bit rows alike but for the unused byte are one colour; a real difference in a later row still counts.
    Bitmap b = solid(blue, 8, 4);
    for (int y = 1; y < 4; ++y) b.bytes[std::size_t(y) * 32 + 3] = std::uint8_t(y * 40);
    Compositor mixer(1);
    ASSERT_EQ(mixer.submit(0, b.view()), Status::ok);
    Target t(8, 4);
    mixer.compose(t.view());
    for (int y = 0; y < 4; ++y) EXPECT_EQ(t.at(0, y), blue);
    b.bytes[3 * 32 + 4 * 7 + 1] = 0x80; // green of the last pixel
    ASSERT_EQ(mixer.submit(0, b.view()), Status::ok);
    mixer.compose(t.view());
    EXPECT_EQ(t.at(7, 3), 0x0080ffu);
    EXPECT_EQ(t.at(6, 3), blue);
}

// 5-6-5 expands each channel to the full 0..255 range: full scale stays full scale, steps are 255/31 and 255/63.
TEST(Vmr9Compositor, Rgb565ChannelExpansion) {
    std::vector<std::uint8_t> words;
    const std::uint16_t values[] = {0xffff, 0x0000, 0xf800, 0x07e0, 0x001f, 0x8410, 0x0841};
    for (std::uint16_t v : values) words.push_back(std::uint8_t(v)), words.push_back(std::uint8_t(v >> 8));
    words.resize(16, 0); // 7 pixels: 14 bytes, padded to 16
    Compositor mixer(1);
    ASSERT_EQ(mixer.submit(0, {words.data(), words.size(), 7, 1, PixelFormat::rgb565, false, 0}), Status::ok);
    Target t(7, 1);
    mixer.compose(t.view());
    for (int i = 0; i < 7; ++i) {
        const std::uint16_t v = values[i];
        const Rgb want{(v >> 11) * 255.0 / 31, (v >> 5 & 0x3f) * 255.0 / 63, (v & 0x1f) * 255.0 / 31};
        EXPECT_TRUE(near(t.at(i, 0), want, 1.0)) << std::hex << v;
    }
}

// A frame that does not fit its buffer, or has no size, is refused and the previous picture stays.
TEST(Vmr9Compositor, RefusesFramesThatDoNotFitTheirBuffer) {
    Compositor mixer(2);
    const Bitmap good = solid(green, 8, 8);
    ASSERT_EQ(mixer.submit(0, good.view()), Status::ok);
    Bitmap shortb = solid(red, 8, 8, PixelFormat::rgb24);
    FrameView v = shortb.view();
    v.size -= 1;
    EXPECT_EQ(mixer.submit(0, v), Status::bad_frame);
    v = shortb.view();
    v.stride = 8 * 3 - 1; // narrower than a row
    EXPECT_EQ(mixer.submit(0, v), Status::bad_frame);
    v = shortb.view();
    v.data = nullptr;
    EXPECT_EQ(mixer.submit(0, v), Status::bad_frame);
    v = shortb.view();
    v.width = 0;
    EXPECT_EQ(mixer.submit(0, v), Status::bad_frame);
    v = shortb.view();
    v.height = Compositor::max_dimension + 1;
    EXPECT_EQ(mixer.submit(0, v), Status::bad_frame);
    EXPECT_EQ(mixer.submit(2, good.view()), Status::bad_stream);
    EXPECT_EQ(mixer.submit(-1, good.view()), Status::bad_stream);
    // The last row needs no padding after it.
    Bitmap tight = solid(red, 5, 2, PixelFormat::rgb24);
    v = tight.view();
    v.size = dib_stride(PixelFormat::rgb24, 5) + 15;
    EXPECT_EQ(mixer.submit(1, v), Status::ok);

    Target t(4, 4);
    mixer.set_z_order(1, 1); // behind stream 0
    mixer.compose(t.view());
    EXPECT_EQ(t.at(2, 2), green);
}

TEST(Vmr9Compositor, RefusesBadSettings) {
    Compositor mixer(12);
    EXPECT_EQ(mixer.stream_count(), 12);
    EXPECT_EQ(mixer.set_alpha(0, -0.01f), Status::bad_value);
    EXPECT_EQ(mixer.set_alpha(0, 1.01f), Status::bad_value);
    EXPECT_EQ(mixer.set_alpha(0, std::nanf("")), Status::bad_value);
    EXPECT_EQ(mixer.set_alpha(12, 0.5f), Status::bad_stream);
    EXPECT_EQ(mixer.set_output_rect(0, {0, 0, INFINITY, 1}), Status::bad_value);
    EXPECT_EQ(mixer.set_output_rect(0, {std::nanf(""), 0, 1, 1}), Status::bad_value);
    EXPECT_EQ(mixer.set_z_order(12, 1), Status::bad_stream);
    float a = 0;
    EXPECT_EQ(mixer.get_alpha(0, a), Status::ok);
    EXPECT_EQ(a, 1.0f); // refused values left the default
    NormalizedRect r;
    EXPECT_EQ(mixer.set_output_rect(3, {0.1f, 0.2f, 0.3f, 0.4f}), Status::ok);
    EXPECT_EQ(mixer.get_output_rect(3, r), Status::ok);
    EXPECT_EQ(r, (NormalizedRect{0.1f, 0.2f, 0.3f, 0.4f}));
    std::uint32_t z = 0;
    EXPECT_EQ(mixer.set_z_order(3, 9), Status::ok);
    EXPECT_EQ(mixer.get_z_order(3, z), Status::ok);
    EXPECT_EQ(z, 9u);
}

// Three streams on a black background: rectangles, opacities and layers, checked where they overlap.
// Once with uniform pictures (drawn as fills) and once with pictures that must be scaled.
class Vmr9Layers : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(UniformOrScaled, Vmr9Layers, ::testing::Bool());

TEST_P(Vmr9Layers, RectanglesAlphasAndZOrder) {
    auto picture = GetParam() ? marked : solid;
    Compositor mixer(4);
    const Bitmap black = picture(0, 64, 48, PixelFormat::rgb565), r = picture(red, 32, 24, PixelFormat::rgb32),
                 g = picture(green, 32, 24, PixelFormat::rgb24), b = picture(blue, 32, 24, PixelFormat::rgb32);
    mixer.submit(0, black.view());
    mixer.submit(1, r.view());
    mixer.submit(2, g.view());
    mixer.submit(3, b.view());
    mixer.set_z_order(0, 15);
    mixer.set_output_rect(1, {0.0f, 0.0f, 0.5f, 1.0f});
    mixer.set_alpha(1, 1.0f);
    mixer.set_z_order(1, 10);
    mixer.set_output_rect(2, {0.25f, 0.0f, 0.75f, 0.5f});
    mixer.set_alpha(2, 0.5f);
    mixer.set_z_order(2, 5);
    mixer.set_output_rect(3, {0.25f, 0.25f, 1.0f, 1.0f});
    mixer.set_alpha(3, 0.8f);
    mixer.set_z_order(3, 1);

    Target t(200, 100);
    mixer.compose(t.view());
    const Rgb K{0, 0, 0}, R = rgb_of(red), G = rgb_of(green), B = rgb_of(blue);
    EXPECT_TRUE(near(t.at(10, 10), R));                                 // red alone
    EXPECT_TRUE(near(t.at(60, 10), mix(G, R, 0.5)));                    // green over red
    EXPECT_TRUE(near(t.at(120, 10), mix(G, K, 0.5)));                   // green over black
    EXPECT_TRUE(near(t.at(180, 10), K));                                // nothing but the background
    EXPECT_TRUE(near(t.at(60, 40), mix(B, mix(G, R, 0.5), 0.8)));       // all three
    EXPECT_TRUE(near(t.at(120, 40), mix(B, mix(G, K, 0.5), 0.8)));      // blue over green over black
    EXPECT_TRUE(near(t.at(60, 80), mix(B, R, 0.8)));                    // blue over red
    EXPECT_TRUE(near(t.at(180, 80), mix(B, K, 0.8)));                   // blue over black
    EXPECT_TRUE(near(t.at(20, 80), R));

    // Reversing the layers puts red in front, hiding what lies under it.
    mixer.set_z_order(1, 0);
    mixer.set_z_order(3, 10);
    mixer.compose(t.view());
    EXPECT_TRUE(near(t.at(60, 40), R));
    EXPECT_TRUE(near(t.at(120, 40), mix(G, mix(B, K, 0.8), 0.5)));
    // Equal layers stack by stream number.
    mixer.set_z_order(1, 4);
    mixer.set_z_order(2, 4);
    mixer.set_alpha(2, 1.0f);
    mixer.compose(t.view());
    EXPECT_TRUE(near(t.at(60, 10), G));
    // A stream at alpha 0 is not drawn; the background lies behind everything at z-order 15.
    mixer.set_alpha(2, 0.0f);
    mixer.compose(t.view());
    EXPECT_TRUE(near(t.at(60, 10), R));
}

// A target pixel belongs to a rectangle when its centre lies inside; fractional edges work.
TEST(Vmr9Compositor, RectangleEdgesFollowPixelCentres) {
    Compositor mixer(1);
    const Bitmap w = solid(white);
    mixer.submit(0, w.view());
    mixer.set_output_rect(0, {0.25f, 0.5f, 0.2525f + 0.25f, 0.5f + 0.0075f}); // x 50 .. 100.5, y 50 .. 50.75
    Target t(200, 100);
    mixer.compose(t.view());
    EXPECT_EQ(t.at(49, 50), 0u);
    EXPECT_EQ(t.at(50, 50), white);
    EXPECT_EQ(t.at(99, 50), white);
    EXPECT_EQ(t.at(100, 50), 0u);  // centre 100.5 is not inside [50, 100.5)
    EXPECT_EQ(t.at(60, 49), 0u);
    EXPECT_EQ(t.at(60, 51), 0u);   // the rectangle ends at 50.75, before the centre of row 51
    // Out of the picture on every side: nothing drawn, nothing touched outside the target.
    mixer.set_output_rect(0, {-3.0f, -2.0f, -1.0f, -1.5f});
    mixer.compose(t.view());
    for (std::uint32_t p : t.px) ASSERT_EQ(p & 0xffffff, 0u);
    // Larger than the picture: covers all of it.
    mixer.set_output_rect(0, {-1.0f, -1.0f, 2.0f, 2.0f});
    mixer.compose(t.view());
    for (std::uint32_t p : t.px) ASSERT_EQ(p & 0xffffff, white);
}

// Bilinear scaling of a ramp: at every pixel centre the value is the ramp's value at the mapped position.
TEST(Vmr9Compositor, BilinearScalingOfARamp) {
    // Source: 64 wide, value 4*x in red; target 160 wide (x2.5) and 26 wide (/2.46), mirrored too.
    const Bitmap ramp = make_bitmap(PixelFormat::rgb32, 64, 8, true, [](int x, int) { return std::uint32_t(4 * x) << 16; });
    for (int tw : {160, 26}) {
        for (bool mirrored : {false, true}) {
            SCOPED_TRACE(testing::Message() << "width " << tw << " mirrored " << mirrored);
            Compositor mixer(1);
            mixer.submit(0, ramp.view());
            if (mirrored) mixer.set_output_rect(0, {1, 0, 0, 1});
            Target t(tw, 10);
            mixer.compose(t.view());
            const double scale = 64.0 / tw;
            for (int x = 0; x < tw; ++x) {
                const double u = ((mirrored ? tw - x - 1 : x) + 0.5) * scale - 0.5; // sample position, pixel units
                const double want = 4 * std::clamp(u, 0.0, 63.0);
                EXPECT_TRUE(near(t.at(x, 5), {want, 0, 0}, 1.5)) << x;
            }
        }
    }
}

// The overlay: black is transparent, other colours lie over everything at the overall opacity.
TEST(Vmr9Compositor, ColourKeyedOverlay) {
    Compositor mixer(2);
    const Bitmap g = solid(green, 16, 16), b = solid(blue, 16, 16);
    mixer.submit(0, g.view());
    mixer.submit(1, b.view());
    mixer.set_output_rect(1, {0.5f, 0, 1, 1});
    mixer.set_alpha(1, 0.5f);
    // 40x40 bitmap: black, a white square at 0..19 x 0..19, a red square at 20..39 x 20..39.
    const Bitmap o = make_bitmap(PixelFormat::rgb32, 40, 40, false, [](int x, int y) {
        return x < 20 && y < 20 ? white : x >= 20 && y >= 20 ? red : 0u;
    });
    AlphaBitmapParams p;
    p.alpha = 0.6f;
    p.use_colour_key = true;
    p.colour_key = 0;
    ASSERT_EQ(mixer.set_alpha_bitmap(o.view(), p), Status::ok);
    Target t(80, 80); // the overlay is scaled x2
    mixer.compose(t.view());
    const Rgb G = rgb_of(green), B = rgb_of(blue), W = rgb_of(white), R = rgb_of(red);
    const Rgb right = mix(B, G, 0.5);
    EXPECT_TRUE(near(t.at(10, 10), mix(W, G, 0.6)));
    EXPECT_TRUE(near(t.at(60, 10), right));             // black: transparent
    EXPECT_TRUE(near(t.at(10, 60), G));                 // black: transparent
    EXPECT_TRUE(near(t.at(60, 60), mix(R, right, 0.6)));
    AlphaBitmapParams got;
    ASSERT_TRUE(mixer.alpha_bitmap_params(got));
    EXPECT_EQ(got.source.right, 40); // an empty source rectangle means the whole bitmap
    EXPECT_FLOAT_EQ(got.alpha, 0.6f);

    // Another key (red, 0x00BBGGRR) makes red transparent and black visible; a source part, a smaller place.
    p.colour_key = 0x000000ff;
    p.source = {20, 0, 40, 40};                          // the right half: black above, red below
    p.destination = {0, 0, 0.5f, 1};
    ASSERT_EQ(mixer.set_alpha_bitmap(o.view(), p), Status::ok);
    mixer.compose(t.view());
    EXPECT_TRUE(near(t.at(20, 20), mix({0, 0, 0}, G, 0.6)));
    EXPECT_TRUE(near(t.at(20, 60), G));
    EXPECT_TRUE(near(t.at(60, 60), right));

    // Opacity 0 shows nothing; clearing removes it.
    p.alpha = 0;
    ASSERT_EQ(mixer.set_alpha_bitmap(o.view(), p), Status::ok);
    mixer.compose(t.view());
    EXPECT_TRUE(near(t.at(20, 20), G));
    p.alpha = 1;
    ASSERT_EQ(mixer.set_alpha_bitmap(o.view(), p), Status::ok);
    mixer.clear_alpha_bitmap();
    EXPECT_FALSE(mixer.alpha_bitmap_params(got));
    mixer.compose(t.view());
    EXPECT_TRUE(near(t.at(20, 20), G));

    // Refused: opacity out of range, a source part outside the bitmap.
    p.alpha = 1.5f;
    EXPECT_EQ(mixer.set_alpha_bitmap(o.view(), p), Status::bad_value);
    p.alpha = 1;
    p.source = {0, 0, 41, 40};
    EXPECT_EQ(mixer.set_alpha_bitmap(o.view(), p), Status::bad_value);
}

// The composition can land in part of a larger target; the rest shows the background colour.
TEST(Vmr9Compositor, ViewportAndBackground) {
    Compositor mixer(1);
    const Bitmap g = solid(green);
    mixer.submit(0, g.view());
    mixer.set_background(0x102030);
    EXPECT_EQ(mixer.background(), 0x102030u);
    Target t(120, 60);
    mixer.compose(t.view(), {10, 5, 100, 50});
    EXPECT_EQ(t.at(5, 30), 0x102030u);
    EXPECT_EQ(t.at(10, 5), green);
    EXPECT_EQ(t.at(109, 54), green);
    EXPECT_EQ(t.at(110, 30), 0x102030u);
    EXPECT_EQ(t.at(50, 56), 0x102030u);
}

TEST(Vmr9Compositor, FrameSizeAndChanges) {
    Compositor mixer(2);
    int w = 0, h = 0;
    EXPECT_FALSE(mixer.frame_size(0, w, h));
    const Bitmap f = solid(red, 30, 20);
    mixer.submit(0, f.view());
    ASSERT_TRUE(mixer.frame_size(0, w, h));
    EXPECT_EQ(w, 30);
    EXPECT_EQ(h, 20);
    Target t(8, 8);
    EXPECT_TRUE(mixer.dirty());
    mixer.compose(t.view());
    EXPECT_FALSE(mixer.dirty());
    mixer.set_alpha(1, 0.5f);
    EXPECT_TRUE(mixer.dirty());
    mixer.compose(t.view());
    mixer.submit(1, f.view());
    EXPECT_TRUE(mixer.dirty());
    mixer.compose(t.view());
    mixer.clear(0);
    EXPECT_TRUE(mixer.dirty());
    EXPECT_FALSE(mixer.frame_size(0, w, h));
    mixer.set_alpha(1, 1.0f);
    mixer.set_output_rect(1, {0, 0, 0.5f, 1});
    mixer.compose(t.view());
    EXPECT_EQ(t.at(1, 1), red);  // stream 1
    EXPECT_EQ(t.at(6, 1), 0u);   // stream 0 cleared: background
}

// Sources deliver on their own threads while one stream is connected and disconnected and the picture is
// composed continuously: every composed cell shows one whole frame of its own source.
TEST(Vmr9Compositor, StreamsOnTheirOwnThreads) {
    constexpr int streams = 4, w = 48, h = 32;
    Compositor mixer(streams);
    for (int s = 0; s < streams; ++s) mixer.set_output_rect(s, {s / 4.0f, 0, (s + 1) / 4.0f, 1});
    // Frame n of stream s: every pixel colour(s, n), except one corner pixel so that the picture is not uniform.
    auto colour = [](int s, int n) { return std::uint32_t(0x40 + s * 0x30) << 16 | std::uint32_t(n & 0xff) << 8 | 0x80; };
    std::atomic<bool> stop{false};
    std::atomic<int> delivered{0};
    std::vector<std::thread> sources;
    for (int s = 0; s < streams; ++s)
        sources.emplace_back([&, s] {
            for (int n = 0; !stop.load(std::memory_order_relaxed); ++n) {
                const std::uint32_t c = colour(s, n);
                const Bitmap f = make_bitmap(PixelFormat::rgb24, w, h, true,
                                             [&](int x, int y) { return x == 0 && y == 0 ? 0x010101u : c; });
                if (s == 3 && n % 7 == 6) mixer.clear(s); // disconnect, then come back with the next frame
                else ASSERT_EQ(mixer.submit(s, f.view()), Status::ok);
                delivered.fetch_add(1, std::memory_order_relaxed);
            }
        });
    struct Joiner {
        std::atomic<bool>& stop;
        std::vector<std::thread>& threads;
        ~Joiner() {
            stop = true;
            for (auto& th : threads) th.join();
        }
    } joiner{stop, sources};
    for (int s = 0, w0, h0; s < 3; ++s)
        while (!mixer.frame_size(s, w0, h0)) std::this_thread::yield();
    Target t(64, 16);
    int composed = 0, stream3_empty = 0, stream3_shown = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((composed < 300 || delivered.load(std::memory_order_relaxed) < 400 || stream3_shown == 0) &&
           std::chrono::steady_clock::now() < deadline) {
        mixer.compose(t.view());
        ++composed;
        for (int s = 0; s < streams; ++s) {
            const std::uint32_t top = t.at(s * 16 + 8, 3), bottom = t.at(s * 16 + 8, 13);
            ASSERT_EQ(top, bottom) << "stream " << s << " torn";
            if (s == 3 && top == 0) {
                ++stream3_empty;
                continue;
            }
            ASSERT_EQ(top >> 16, std::uint32_t(0x40 + s * 0x30)) << "stream " << s;
            ASSERT_EQ(top & 0xff, 0x80u);
            if (s == 3) ++stream3_shown;
        }
    }
    EXPECT_GT(stream3_shown, 0);
}

// A uniform picture is kept as its colour; sending the same one again is no change, anything else is.
TEST(Vmr9Compositor, UniformPicturesAndRepeats) {
    Compositor mixer(1);
    Target t(8, 6);
    const Bitmap black = solid(0, 16, 12, PixelFormat::rgb565);
    ASSERT_EQ(mixer.submit(0, black.view()), Status::ok);
    EXPECT_TRUE(mixer.dirty());
    mixer.compose(t.view());
    EXPECT_EQ(t.at(3, 3), 0u);
    ASSERT_EQ(mixer.submit(0, black.view()), Status::ok);
    EXPECT_FALSE(mixer.dirty()); // the same black again
    const Bitmap bigger = solid(0, 32, 12, PixelFormat::rgb565);
    ASSERT_EQ(mixer.submit(0, bigger.view()), Status::ok);
    EXPECT_TRUE(mixer.dirty()); // another size
    mixer.compose(t.view());

    // The unused byte of 32-bit pixels does not count.
    Bitmap grey = solid(0x404040, 8, 6, PixelFormat::rgb32);
    for (std::size_t i = 3; i < grey.bytes.size(); i += 4) grey.bytes[i] = std::uint8_t(i);
    ASSERT_EQ(mixer.submit(0, grey.view()), Status::ok);
    mixer.compose(t.view());
    EXPECT_EQ(t.at(7, 5), 0x404040u);

    // One different pixel, the very last one in memory, makes a picture: 24-bit bottom-up, so it is the
    // top-right pixel; the bytes after it (row padding) are not looked at.
    Bitmap almost = make_bitmap(PixelFormat::rgb24, 7, 6, true, [](int x, int y) {
        return x == 6 && y == 0 ? 0xff0000u : 0x404040u;
    });
    ASSERT_EQ(mixer.submit(0, almost.view()), Status::ok);
    EXPECT_TRUE(mixer.dirty());
    Target u(7, 6);
    mixer.compose(u.view());
    EXPECT_EQ(u.at(6, 0), 0xff0000u);
    EXPECT_EQ(u.at(0, 0), 0x404040u);
    EXPECT_EQ(u.at(6, 5), 0x404040u);
    // After a clear the same uniform picture shows again.
    mixer.submit(0, grey.view());
    mixer.compose(t.view());
    mixer.clear(0);
    mixer.compose(t.view());
    EXPECT_EQ(t.at(1, 1), 0u);
    ASSERT_EQ(mixer.submit(0, grey.view()), Status::ok);
    EXPECT_TRUE(mixer.dirty());
    mixer.compose(t.view());
    EXPECT_EQ(t.at(1, 1), 0x404040u);
}

namespace {

// A 32-bit top-down picture in memory a source lends: `pitch` pixels a row, the fourth byte of each pixel not
// an opacity (here anything).
struct Lent {
    std::vector<std::uint32_t> px;
    int w, h, pitch;
    Lent(int width, int height, int row_pixels, auto colour_at)
        : px(std::size_t(row_pixels) * std::size_t(height)), w(width), h(height), pitch(row_pixels) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                px[std::size_t(y) * std::size_t(pitch) + std::size_t(x)] =
                    (colour_at(x, y) & 0xffffffu) | std::uint32_t(x * 31 + y * 7) << 24;
    }
    FrameView view() const {
        return {reinterpret_cast<const std::uint8_t*>(px.data()), px.size() * 4, w, h, PixelFormat::rgb32, false,
                std::size_t(pitch) * 4};
    }
};

} // namespace

// A lent frame gives the same picture, to the bit, as the same frame handed over as a copy: scaled up and
// down, mirrored, opaque or not, over another stream.
TEST(Vmr9Compositor, LentFramesComposeLikeCopies) {
    const Lent f(37, 23, 40, [](int x, int y) { return std::uint32_t(x * 53 + y * 97) * 0x10203u; });
    const Bitmap under = make_bitmap(PixelFormat::rgb24, 16, 16, true,
                                     [](int x, int y) { return x < 8 ? red : y < 8 ? blue : white; });
    struct Case {
        NormalizedRect rect;
        float alpha;
        int tw, th;
    } cases[] = {{{0, 0, 1, 1}, 1.0f, 61, 47},      {{0.1f, 0.2f, 0.7f, 0.9f}, 0.8f, 61, 47},
                 {{0.9f, 0, 0.2f, 0.6f}, 0.5f, 20, 13}, {{0, 0, 1, 1}, 0.8f, 20, 13},
                 {{0.25f, 0.1f, 0.5f, 1}, 1.0f, 20, 13}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "alpha " << c.alpha << " target " << c.tw << "x" << c.th);
        Compositor copied(2), lent(2);
        for (Compositor* m : {&copied, &lent}) {
            ASSERT_EQ(m->submit(0, under.view()), Status::ok);
            m->set_output_rect(1, c.rect);
            m->set_alpha(1, c.alpha);
        }
        ASSERT_EQ(copied.submit(1, f.view()), Status::ok);
        ASSERT_EQ(lent.submit_in_place(1, f.view(), std::make_shared<int>(0)), Status::ok);
        Target a(c.tw, c.th), b(c.tw, c.th);
        copied.compose(a.view());
        lent.compose(b.view());
        EXPECT_EQ(a.px, b.px);
        EXPECT_EQ(lent.counts().in_place, 1u);
        EXPECT_EQ(lent.counts().converted, 1u); // the stream underneath
        EXPECT_EQ(lent.counts().compositions, 1u);
    }
}

// The compositor holds a lent frame while it may still be read (it is, or is about to be, on screen) and
// gives it back as soon as it is not: replaced in a composition, replaced before ever being shown, uniform
// (drawn as a fill), refused, cleared, or the compositor gone.
TEST(Vmr9Compositor, LeasesAreHeldWhileShownAndNoLonger) {
    auto picture = [](std::uint32_t c) { return Lent(8, 6, 8, [c](int x, int) { return x == 0 ? 0x808080u : c; }); };
    const Lent f1 = picture(red), f2 = picture(green), f3 = picture(blue), f4 = picture(white);
    auto compositor = std::make_unique<Compositor>(1);
    Compositor& mixer = *compositor;
    Target t(8, 6);
    auto lend = [&](const Lent& f, std::weak_ptr<int>& held) {
        auto lease = std::make_shared<int>(0);
        held = lease;
        return mixer.submit_in_place(0, f.view(), std::move(lease));
    };
    std::weak_ptr<int> l1, l2, l3, l4, l5, l6;
    ASSERT_EQ(lend(f1, l1), Status::ok);
    EXPECT_FALSE(l1.expired());
    mixer.compose(t.view());
    EXPECT_EQ(t.at(4, 3), red);
    EXPECT_FALSE(l1.expired()); // on screen
    ASSERT_EQ(lend(f2, l2), Status::ok);
    EXPECT_FALSE(l1.expired()); // still the front until the next composition
    mixer.compose(t.view());
    EXPECT_EQ(t.at(4, 3), green);
    EXPECT_TRUE(l1.expired());
    EXPECT_FALSE(l2.expired());
    ASSERT_EQ(lend(f3, l3), Status::ok);
    ASSERT_EQ(lend(f4, l4), Status::ok);
    EXPECT_TRUE(l3.expired()); // replaced before it was ever shown
    EXPECT_FALSE(l2.expired());
    mixer.compose(t.view());
    EXPECT_EQ(t.at(4, 3), white);
    EXPECT_TRUE(l2.expired());

    // A uniform frame is drawn as a fill: its memory is given back at once.
    const Lent grey(8, 6, 8, [](int, int) { return 0x404040u; });
    ASSERT_EQ(lend(grey, l5), Status::ok);
    EXPECT_TRUE(l5.expired());
    mixer.compose(t.view());
    EXPECT_EQ(t.at(0, 0), 0x404040u);
    EXPECT_TRUE(l4.expired());

    // Layouts that cannot be read in place are refused and their lease dropped.
    std::weak_ptr<int> refused;
    FrameView v = f1.view();
    v.bottom_up = true;
    auto try_lend = [&](const FrameView& fv) {
        auto lease = std::make_shared<int>(0);
        refused = lease;
        return mixer.submit_in_place(0, fv, std::move(lease));
    };
    EXPECT_EQ(try_lend(v), Status::bad_frame);
    EXPECT_TRUE(refused.expired());
    v = f1.view();
    v.format = PixelFormat::rgb24;
    EXPECT_EQ(try_lend(v), Status::bad_frame);
    v = f1.view();
    v.size -= 1; // one byte short of the last row
    EXPECT_EQ(try_lend(v), Status::bad_frame);
    v = f1.view();
    v.data += 2; // not on a pixel boundary
    v.size -= 4;
    EXPECT_EQ(try_lend(v), Status::bad_frame);
    v = f1.view();
    v.stride = 8 * 4 - 4; // rows overlap
    EXPECT_EQ(try_lend(v), Status::bad_frame);
    EXPECT_EQ(mixer.submit_in_place(1, f1.view(), nullptr), Status::bad_stream);
    EXPECT_TRUE(refused.expired());
    mixer.compose(t.view());
    EXPECT_EQ(t.at(4, 3), 0x404040u); // nothing refused reached the picture

    // A clear gives the frame back once the picture no longer shows it; so does the compositor's end.
    ASSERT_EQ(lend(f1, l6), Status::ok);
    mixer.compose(t.view());
    mixer.clear(0);
    EXPECT_FALSE(l6.expired());
    mixer.compose(t.view());
    EXPECT_EQ(t.at(4, 3), 0u);
    EXPECT_TRUE(l6.expired());
    ASSERT_EQ(lend(f2, l1), Status::ok);
    mixer.compose(t.view());
    ASSERT_EQ(lend(f3, l2), Status::ok);
    compositor.reset();
    EXPECT_TRUE(l1.expired());
    EXPECT_TRUE(l2.expired());
}

// Sources write frames into a small pool of their own buffers, each taken back only when the compositor has
// let go of it, while the picture is composed continuously: every composed cell shows one whole frame, and
// the sources never run out of buffers for good.
TEST(Vmr9Compositor, LentBuffersAreNeverWrittenWhileRead) {
    constexpr int streams = 3, w = 48, h = 32, pool = 3;
    Compositor mixer(streams);
    for (int s = 0; s < streams; ++s) mixer.set_output_rect(s, {s / 3.0f, 0, (s + 1) / 3.0f, 1});
    auto colour = [](int s, int n) {
        return std::uint32_t(0x40 + s * 0x30) << 16 | std::uint32_t(n & 0xff) << 8 | 0x80;
    };
    struct Buffer {
        std::vector<std::uint32_t> px = std::vector<std::uint32_t>(std::size_t(w) * h);
        std::atomic<bool> lent{false};
    };
    std::atomic<bool> stop{false};
    std::atomic<int> delivered{0};
    std::vector<std::thread> sources;
    for (int s = 0; s < streams; ++s)
        sources.emplace_back([&, s] {
            Buffer buffers[pool];
            for (int n = 0; !stop.load(std::memory_order_relaxed); ++n) {
                Buffer* b = nullptr;
                while (!b && !stop.load(std::memory_order_relaxed)) {
                    for (Buffer& c : buffers)
                        if (!c.lent.load(std::memory_order_acquire)) b = &c;
                    if (!b) std::this_thread::yield();
                }
                if (!b) break;
                std::fill(b->px.begin(), b->px.end(), colour(s, n));
                b->px[0] = 0x010101; // not uniform
                b->lent.store(true, std::memory_order_relaxed);
                const FrameView v{reinterpret_cast<const std::uint8_t*>(b->px.data()), b->px.size() * 4, w, h,
                                  PixelFormat::rgb32, false, 0};
                auto lease = std::shared_ptr<const void>(
                    b, [](Buffer* p) { p->lent.store(false, std::memory_order_release); });
                ASSERT_EQ(mixer.submit_in_place(s, v, std::move(lease)), Status::ok);
                delivered.fetch_add(1, std::memory_order_relaxed);
            }
            // The pool dies with this thread: the compositor must hold none of it any more.
            mixer.clear(s);
            Target scratch(4, 4);
            mixer.compose(scratch.view());
            for (Buffer& c : buffers) ASSERT_FALSE(c.lent.load(std::memory_order_acquire));
        });
    struct Joiner {
        std::atomic<bool>& stop;
        std::vector<std::thread>& threads;
        ~Joiner() {
            stop = true;
            for (auto& th : threads) th.join();
        }
    } joiner{stop, sources};
    for (int s = 0, w0, h0; s < streams; ++s)
        while (!mixer.frame_size(s, w0, h0)) std::this_thread::yield();
    Target t(60, 16);
    int composed = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((composed < 300 || delivered.load(std::memory_order_relaxed) < 600) &&
           std::chrono::steady_clock::now() < deadline) {
        mixer.compose(t.view());
        ++composed;
        for (int s = 0; s < streams; ++s) {
            const std::uint32_t top = t.at(s * 20 + 10, 3), bottom = t.at(s * 20 + 10, 13);
            ASSERT_EQ(top, bottom) << "stream " << s << " torn";
            ASSERT_EQ(top >> 16, std::uint32_t(0x40 + s * 0x30)) << "stream " << s;
            ASSERT_EQ(top & 0xff, 0x80u);
        }
    }
    EXPECT_GE(delivered.load(), 600);
}
