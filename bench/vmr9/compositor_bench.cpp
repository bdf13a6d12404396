// Frames per second and CPU time per frame of the mixing core on the mixer's picture: a black 768x576
// RGB 5-6-5 background, eleven 768x576 RGB32 cameras in a 4x3 grid at alpha 0.8, composed into 720x576,
// with and without the colour-keyed 768x576 sensor overlay. Single-threaded; frames handed over beforehand.
#include "platform/dshow/vmr9/compositor.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace kavro::vmr9;

namespace {

constexpr int in_w = 768, in_h = 576, out_w = 720, out_h = 576;

// Seven vertical colour bars over a horizontal brightness ramp, tinted per camera.
std::vector<std::uint8_t> camera_frame(int camera) {
    static const std::uint32_t bars[7] = {0xc0c0c0, 0xc0c000, 0x00c0c0, 0x00c000, 0xc000c0, 0xc00000, 0x0000c0};
    std::vector<std::uint8_t> f(std::size_t(in_w) * in_h * 4);
    for (int y = 0; y < in_h; ++y)
        for (int x = 0; x < in_w; ++x) {
            std::uint32_t c = bars[x * 7 / in_w];
            const std::uint32_t ramp = std::uint32_t((y * 63) / in_h + camera * 5);
            c = ((c >> 16 & 0xff) * 3 / 4 + ramp) << 16 | ((c >> 8 & 0xff) * 3 / 4 + ramp) << 8 |
                ((c & 0xff) * 3 / 4 + ramp);
            std::memcpy(&f[(std::size_t(y) * in_w + x) * 4], &c, 4);
        }
    return f;
}

// A sensor picture: black (transparent) with gauges and a text band, about a fifth of it drawn.
std::vector<std::uint8_t> overlay_frame() {
    std::vector<std::uint8_t> f(std::size_t(in_w) * in_h * 4, 0);
    auto put = [&](int x, int y, std::uint32_t c) { std::memcpy(&f[(std::size_t(y) * in_w + x) * 4], &c, 4); };
    for (int y = 0; y < in_h; ++y)
        for (int x = 0; x < in_w; ++x) {
            const bool gauge = (x > 20 && x < 60 && y > 100 + (x % 7) * 40) || (x > 700 && x < 740 && y > 300);
            const bool text = y > 520 && y < 560 && ((x / 3 + y / 2) % 5 == 0);
            const bool frame = x < 4 || x >= in_w - 4 || y < 4 || y >= in_h - 4;
            if (gauge) put(x, y, 0x00ff40);
            else if (text || frame) put(x, y, 0xffffff);
        }
    return f;
}

struct Picture {
    Compositor mixer{12};
    std::vector<std::uint32_t> out = std::vector<std::uint32_t>(std::size_t(out_w) * out_h);

    explicit Picture(bool overlay) {
        std::vector<std::uint8_t> black(std::size_t(in_w) * in_h * 2, 0);
        mixer.submit(0, {black.data(), black.size(), in_w, in_h, PixelFormat::rgb565, true, 0});
        mixer.set_z_order(0, 15);
        for (int k = 1; k <= 11; ++k) {
            const auto f = camera_frame(k);
            mixer.submit(k, {f.data(), f.size(), in_w, in_h, PixelFormat::rgb32, false, 0});
            const int c = (k - 1) % 4, r = (k - 1) / 4;
            mixer.set_output_rect(k, {c / 4.0f, r / 3.0f, (c + 1) / 4.0f, (r + 1) / 3.0f});
            mixer.set_alpha(k, 0.8f);
            mixer.set_z_order(k, 12 - k % 3);
        }
        if (overlay) {
            const auto o = overlay_frame();
            AlphaBitmapParams p;
            p.source = {0, 0, in_w, in_h};
            p.alpha = 0.8f;
            p.use_colour_key = true;
            p.colour_key = 0;
            mixer.set_alpha_bitmap({o.data(), o.size(), in_w, in_h, PixelFormat::rgb32, false, 0}, p);
        }
    }
    void compose() { mixer.compose({out.data(), out_w, out_h, out_w * 4u}); }
};

void report(benchmark::State& state) {
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_FullPictureWithOverlay(benchmark::State& state) {
    Picture p(true);
    for (auto _ : state) {
        p.compose();
        benchmark::DoNotOptimize(p.out.data());
    }
    report(state);
}

void BM_GridWithoutOverlay(benchmark::State& state) {
    Picture p(false);
    for (auto _ : state) {
        p.compose();
        benchmark::DoNotOptimize(p.out.data());
    }
    report(state);
}

// The overlay changes with every sensor frame: its hand-over (colour key applied) plus a composition.
void BM_FullPictureNewOverlayEachFrame(benchmark::State& state) {
    Picture p(true);
    const auto o = overlay_frame();
    AlphaBitmapParams prm;
    prm.alpha = 0.8f;
    prm.use_colour_key = true;
    for (auto _ : state) {
        p.mixer.set_alpha_bitmap({o.data(), o.size(), in_w, in_h, PixelFormat::rgb32, false, 0}, prm);
        p.compose();
        benchmark::DoNotOptimize(p.out.data());
    }
    report(state);
}

// What a source thread pays per frame to hand a 768x576 frame over: a camera picture, and a uniform one
// (Noir's black, kept as a colour).
void BM_HandOver(benchmark::State& state) {
    const auto format = PixelFormat(state.range(0));
    const bool uniform = state.range(1) != 0;
    const std::size_t stride = dib_stride(format, in_w), size = stride * in_h;
    std::vector<std::uint8_t> frame(size, 0);
    if (!uniform) {
        const auto camera = camera_frame(3); // the same picture in the source's layout
        const int bytes = bits_per_pixel(format) / 8;
        for (int y = 0; y < in_h; ++y)
            for (int x = 0; x < in_w; ++x) {
                std::uint32_t c;
                std::memcpy(&c, &camera[(std::size_t(y) * in_w + x) * 4], 4);
                std::uint8_t* p = &frame[stride * std::size_t(y) + std::size_t(x) * std::size_t(bytes)];
                if (bytes == 2) {
                    const std::uint16_t v = std::uint16_t((c >> 19 & 0x1f) << 11 | (c >> 10 & 0x3f) << 5 | (c >> 3 & 0x1f));
                    std::memcpy(p, &v, 2);
                } else {
                    std::memcpy(p, &c, std::size_t(bytes));
                }
            }
    }
    Compositor mixer(1);
    for (auto _ : state) {
        mixer.submit(0, {frame.data(), size, in_w, in_h, format, true, 0});
        mixer.clear(0); // every hand-over counts as new
    }
    state.SetLabel(std::string(format == PixelFormat::rgb565 ? "rgb565" : format == PixelFormat::rgb24 ? "rgb24" : "rgb32") +
                   (uniform ? " uniform" : " camera"));
    report(state);
}

} // namespace

BENCHMARK(BM_FullPictureWithOverlay)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_GridWithoutOverlay)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FullPictureNewOverlayEachFrame)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_HandOver)
    ->Args({int(PixelFormat::rgb565), 0})
    ->Args({int(PixelFormat::rgb24), 0})
    ->Args({int(PixelFormat::rgb32), 0})
    ->Args({int(PixelFormat::rgb565), 1})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
