// JPEG decoding of the camera frames: the decoder filter's core beside libjpeg-turbo's own decode of the same
// frames (768 x 576 test cards at quality 75, 4:2:0, as the camera simulator sends them) into 32-bit pixels.
#include "platform/dshow/jpeg_frame.h"
#include "tools/kavro-camera-sim/camera_sim.h"

#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

constexpr int kW = 768, kH = 576;

const std::vector<std::vector<std::uint8_t>>& frames() {
    static const auto all = [] {
        std::vector<std::vector<std::uint8_t>> out;
        std::vector<std::uint32_t> px;
        for (int f = 0; f < 8; ++f) {
            camsim::draw_card(px, kW, kH, "CAMERA 127.0.0.21:8080", "127.0.0.21:8080", std::uint64_t(f) * 7,
                              "12:34:56.0" + std::to_string(f));
            std::vector<std::uint8_t> jpeg;
            kavro::jpeg::encode({reinterpret_cast<const std::uint8_t*>(px.data()), kW, kH, kW * 4,
                                 kavro::jpeg::PixelFormat::bgrx32, false},
                                {75, true}, jpeg);
            out.push_back(std::move(jpeg));
        }
        return out;
    }();
    return all;
}

void BM_DecoderFilterCore(benchmark::State& state) {
    kavro::dshow::JpegFrameDecoder decoder;
    std::vector<std::uint8_t> frame(std::size_t(kW) * kH * 4);
    std::size_t i = 0;
    for (auto _ : state) {
        const auto& jpeg = frames()[i++ % frames().size()];
        if (decoder.decode(jpeg, frame.data(), frame.size(), kW, kH) != kavro::jpeg::Status::ok)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(BM_DecoderFilterCore)->Unit(benchmark::kMillisecond);

// libjpeg-turbo as its own example programs use it: default settings, whole picture into BGRA rows.
void BM_LibjpegTurboDecode(benchmark::State& state) {
    std::vector<std::uint8_t> frame(std::size_t(kW) * kH * 4);
    std::size_t i = 0;
    for (auto _ : state) {
        const auto& jpeg = frames()[i++ % frames().size()];
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_EXT_BGRA;
        jpeg_start_decompress(&cinfo);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = frame.data() + std::size_t(cinfo.output_scanline) * kW * 4;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(BM_LibjpegTurboDecode)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
