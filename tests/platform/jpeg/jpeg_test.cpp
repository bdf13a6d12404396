#include "platform/jpeg/jpeg.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <jpeglib.h>

using namespace kavro::jpeg;

namespace {

// A smooth picture (so that a high-quality JPEG keeps it within a few levels), in memory as bgr24 top-down.
struct Picture {
    int width, height;
    std::vector<std::uint8_t> bgr;
    std::uint8_t at(int x, int y, int c) const { return bgr[(static_cast<std::size_t>(y) * width + x) * 3 + c]; }
};

Picture gradient(int width, int height) {
    Picture p{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto* px = &p.bgr[(static_cast<std::size_t>(y) * width + x) * 3];
            px[0] = static_cast<std::uint8_t>(x * 255 / width);
            px[1] = static_cast<std::uint8_t>(y * 255 / height);
            px[2] = static_cast<std::uint8_t>(128 + 100 * std::sin((x + y) / 40.0));
        }
    return p;
}

// Lays the picture out in memory in the given format, row order and stride (padding filled with 0xAB).
std::vector<std::uint8_t> layout(const Picture& p, PixelFormat f, bool bottom_up, std::size_t stride) {
    std::vector<std::uint8_t> out(stride * p.height, 0xAB);
    const int bpp = bytes_per_pixel(f);
    const bool rgb = f == PixelFormat::rgb24 || f == PixelFormat::rgbx32;
    for (int y = 0; y < p.height; ++y) {
        auto* row = &out[(bottom_up ? p.height - 1 - y : y) * stride];
        for (int x = 0; x < p.width; ++x)
            for (int c = 0; c < 3; ++c) row[x * bpp + (rgb ? 2 - c : c)] = p.at(x, y, c);
    }
    return out;
}

std::vector<std::uint8_t> encoded(const Picture& p, int quality = 95, bool subsample = false) {
    const ImageView v{p.bgr.data(), p.width, p.height, static_cast<std::size_t>(p.width) * 3, PixelFormat::bgr24,
                      false};
    std::vector<std::uint8_t> out;
    EXPECT_EQ(encode(v, EncodeOptions{quality, subsample}, out), Status::ok);
    return out;
}

// A grey or CMYK JPEG written straight with libjpeg (our encoder makes only colour pictures).
std::vector<std::uint8_t> raw_jpeg(J_COLOR_SPACE space, int components, int width, int height) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = width;
    c.image_height = height;
    c.input_components = components;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * components);
    for (int y = 0; y < height; ++y) {
        for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<std::uint8_t>(y * 4);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

int max_difference(const Picture& p, const std::vector<std::uint8_t>& mem, PixelFormat f, bool bottom_up,
                   std::size_t stride) {
    const std::vector<std::uint8_t> expected = layout(p, f, bottom_up, stride);
    const int bpp = bytes_per_pixel(f);
    int worst = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            for (int c = 0; c < 3; ++c) {
                const std::size_t i = y * stride + x * bpp + c;
                worst = std::max(worst, std::abs(int(mem[i]) - int(expected[i])));
            }
    return worst;
}

} // namespace

// Every source layout encodes to the same picture, and every target layout decodes it in the right place:
// colour order, row order, stride, padding bytes and the fourth byte all checked.
TEST(Jpeg, EveryLayoutRoundTrips) {
    const Picture p = gradient(97, 61); // odd sizes: partial MCUs on both edges
    for (PixelFormat f : {PixelFormat::bgr24, PixelFormat::rgb24, PixelFormat::bgrx32, PixelFormat::rgbx32})
        for (bool bottom_up : {false, true}) {
            SCOPED_TRACE(testing::Message() << "format " << int(f) << " bottom_up " << bottom_up);
            const std::size_t stride = static_cast<std::size_t>(p.width) * bytes_per_pixel(f) + 5;
            const std::vector<std::uint8_t> source = layout(p, f, bottom_up, stride);
            std::vector<std::uint8_t> jpeg;
            ASSERT_EQ(encode({source.data(), p.width, p.height, stride, f, bottom_up}, {95, false}, jpeg), Status::ok);

            std::vector<std::uint8_t> target(stride * p.height, 0xCD);
            Info info;
            ASSERT_EQ(decode(jpeg, {target.data(), target.size(), p.width, p.height, stride, f, bottom_up}, &info),
                      Status::ok);
            EXPECT_EQ(info.width, p.width);
            EXPECT_EQ(info.height, p.height);
            EXPECT_EQ(info.channels, 3);
            EXPECT_LE(max_difference(p, target, f, bottom_up, stride), 12);
            const int bpp = bytes_per_pixel(f);
            for (int y = 0; y < p.height; ++y) {
                for (std::size_t i = p.width * bpp; i < stride; ++i) ASSERT_EQ(target[y * stride + i], 0xCD);
                if (bpp == 4) {
                    for (int x = 0; x < p.width; ++x) ASSERT_EQ(target[y * stride + x * 4 + 3], 0xFF);
                }
            }
        }
}

// A smaller picture lands in the top-left corner of a larger target (bottom-up: the last rows in memory);
// the rest of the target is untouched. Quality changes the size; 4:2:0 is smaller than 4:4:4.
TEST(Jpeg, SmallerPictureAndEncoderOptions) {
    const Picture p = gradient(40, 30);
    const auto jpeg = encoded(p);
    const int tw = 64, th = 50;
    const std::size_t stride = tw * 4;
    std::vector<std::uint8_t> target(stride * th, 0x11);
    ASSERT_EQ(decode(jpeg, {target.data(), target.size(), tw, th, stride, PixelFormat::bgrx32, true}), Status::ok);
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x) {
            const bool inside = x < p.width && y >= th - p.height;
            const std::uint8_t* px = &target[y * stride + x * 4];
            if (inside)
                ASSERT_NEAR(px[0], p.at(x, th - 1 - y, 0), 12) << x << "," << y;
            else
                ASSERT_EQ(px[0], 0x11) << x << "," << y;
        }
    EXPECT_LT(encoded(gradient(256, 256), 30).size(), encoded(gradient(256, 256), 95).size());
    EXPECT_LT(encoded(gradient(256, 256), 75, true).size(), encoded(gradient(256, 256), 75, false).size());
}

// A picture decoded at a fraction of its size needs only a target of the scaled size (the full size is refused
// there) and keeps the picture's colours where they were; a scale outside 1..16 eighths is refused.
TEST(Jpeg, DecodesAtEighthsOfItsSize) {
    const Picture p = gradient(203, 101);
    const auto jpeg = encoded(p);
    EXPECT_EQ(scaled_size(203, 3), 77);
    EXPECT_EQ(scaled_size(101, 3), 38);
    const int tw = scaled_size(p.width, 3), th = scaled_size(p.height, 3);
    std::vector<std::uint8_t> target(static_cast<std::size_t>(tw) * th * 3, 0x11);
    Target t{target.data(), target.size(), tw, th, static_cast<std::size_t>(tw) * 3, PixelFormat::bgr24, false};
    EXPECT_EQ(decode(jpeg, t), Status::does_not_fit);
    t.scale_eighths = 3;
    ASSERT_EQ(decode(jpeg, t), Status::ok);
    for (int y = 2; y < th - 2; y += 5)
        for (int x = 2; x < tw - 2; x += 5)
            for (int c = 0; c < 2; ++c) // the two linear ramps; the third channel varies too fast to compare
                ASSERT_NEAR(target[(static_cast<std::size_t>(y) * tw + x) * 3 + c], p.at(x * 8 / 3, y * 8 / 3, c), 12)
                    << x << "," << y << " channel " << c;
    t.scale_eighths = 0;
    EXPECT_EQ(decode(jpeg, t), Status::bad_argument);
    t.scale_eighths = 17;
    EXPECT_EQ(decode(jpeg, t), Status::bad_argument);
}

// Grey pictures decode to equal channels; CMYK cannot be given as RGB and is refused before any write.
TEST(Jpeg, GreyAndCmyk) {
    const auto grey = raw_jpeg(JCS_GRAYSCALE, 1, 16, 16);
    Info info;
    ASSERT_EQ(read_info(grey, info), Status::ok);
    EXPECT_EQ(info.channels, 1);
    std::vector<std::uint8_t> target(16 * 16 * 3, 0);
    ASSERT_EQ(decode(grey, {target.data(), target.size(), 16, 16, 48, PixelFormat::bgr24, false}), Status::ok);
    EXPECT_NEAR(target[10 * 48 + 9], 40, 3);
    EXPECT_EQ(target[10 * 48 + 9], target[10 * 48 + 10]);

    const auto cmyk = raw_jpeg(JCS_CMYK, 4, 16, 16);
    std::fill(target.begin(), target.end(), 0x77);
    EXPECT_EQ(decode(cmyk, {target.data(), target.size(), 16, 16, 48, PixelFormat::bgr24, false}), Status::unsupported);
    EXPECT_TRUE(std::all_of(target.begin(), target.end(), [](std::uint8_t b) { return b == 0x77; }));
}

// Refusals write nothing: a picture too large for the buffer, a target whose stride or size cannot hold its
// own rows, a malformed source description.
TEST(Jpeg, RefusalsWriteNothing) {
    const auto jpeg = encoded(gradient(80, 60));
    std::vector<std::uint8_t> target(80 * 60 * 4, 0x5A);
    const auto untouched = [&] {
        return std::all_of(target.begin(), target.end(), [](std::uint8_t b) { return b == 0x5A; });
    };
    Info info;
    EXPECT_EQ(decode(jpeg, {target.data(), target.size(), 79, 60, 80 * 4, PixelFormat::bgrx32, false}, &info),
              Status::does_not_fit);
    EXPECT_EQ(info.width, 80); // the header was read
    EXPECT_EQ(decode(jpeg, {target.data(), target.size(), 80, 59, 80 * 4, PixelFormat::bgrx32, false}),
              Status::does_not_fit);
    EXPECT_EQ(decode(jpeg, {target.data(), target.size() - 1, 80, 60, 80 * 4, PixelFormat::bgrx32, false}),
              Status::bad_argument);
    EXPECT_EQ(decode(jpeg, {target.data(), target.size(), 80, 60, 80 * 4 - 1, PixelFormat::bgrx32, false}),
              Status::bad_argument);
    EXPECT_EQ(decode(jpeg, {nullptr, target.size(), 80, 60, 80 * 4, PixelFormat::bgrx32, false}), Status::bad_argument);
    EXPECT_TRUE(untouched());

    std::vector<std::uint8_t> out{1, 2, 3};
    EXPECT_EQ(encode({target.data(), 80, 60, 80 * 3 - 1, PixelFormat::bgr24, false}, {}, out), Status::bad_argument);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(encode({nullptr, 80, 60, 240, PixelFormat::bgr24, false}, {}, out), Status::bad_argument);
    EXPECT_EQ(encode({target.data(), 0, 60, 240, PixelFormat::bgr24, false}, {}, out), Status::bad_argument);
}

// Damaged input is an error, never a success: every truncation, a flipped marker, garbage, nothing at all.
TEST(Jpeg, DamagedInputIsAnError) {
    const auto jpeg = encoded(gradient(48, 32), 75, true);
    std::vector<std::uint8_t> target(48 * 32 * 4);
    const Target t{target.data(), target.size(), 48, 32, 48 * 4, PixelFormat::bgrx32, false};
    for (std::size_t n = 0; n < jpeg.size(); ++n) {
        const std::span<const std::uint8_t> cut(jpeg.data(), n);
        ASSERT_NE(decode(cut, t), Status::ok) << "truncated to " << n << " bytes";
    }
    std::string detail;
    EXPECT_EQ(decode(std::span(jpeg.data(), jpeg.size() - 100), t, nullptr, &detail), Status::corrupt);
    EXPECT_FALSE(detail.empty());

    const Picture big = gradient(256, 192);
    auto damaged = encoded(big, 75, true);
    const std::size_t at = damaged.size() * 3 / 4; // inside the entropy-coded data, past the tables
    damaged[at] = 0xFF; // an end-of-picture marker in the middle of the picture
    damaged[at + 1] = 0xD9;
    std::vector<std::uint8_t> big_target(256 * 192 * 3);
    EXPECT_EQ(decode(damaged, {big_target.data(), big_target.size(), 256, 192, 768, PixelFormat::bgr24, false}),
              Status::corrupt);

    const std::vector<std::uint8_t> garbage(1000, 0x42);
    Info info{1, 2, 3};
    EXPECT_EQ(read_info(garbage, info), Status::corrupt);
    EXPECT_EQ(info.width, 1); // unchanged on failure
    EXPECT_EQ(read_info({}, info), Status::corrupt);
    EXPECT_EQ(decode({}, t), Status::corrupt);
    ASSERT_EQ(decode(jpeg, t), Status::ok); // the same target still takes the whole picture
}

// Files: written whole or not at all (a failure keeps the previous file), read back by parameters and pixels.
TEST(Jpeg, Files) {
    const kavro::test::TempDir temp("kavro-jpeg");
    const std::filesystem::path& dir = temp.path();
    const std::string path = (dir / "snap.jpg").string();
    const Picture p = gradient(64, 48);
    const ImageView v{p.bgr.data(), p.width, p.height, 64 * 3, PixelFormat::bgr24, false};
    ASSERT_EQ(encode_file(v, {}, path), Status::ok);
    Info info;
    ASSERT_EQ(read_info_file(path, info), Status::ok);
    EXPECT_EQ(info.width, 64);
    EXPECT_EQ(info.height, 48);
    std::vector<std::uint8_t> target(64 * 48 * 3);
    ASSERT_EQ(decode_file(path, {target.data(), target.size(), 64, 48, 64 * 3, PixelFormat::bgr24, false}),
              Status::ok);
    EXPECT_LE(max_difference(p, target, PixelFormat::bgr24, false, 64 * 3), 20);

    const auto before = std::filesystem::file_size(path);
    EXPECT_EQ(encode_file({nullptr, 64, 48, 64 * 3, PixelFormat::bgr24, false}, {}, path), Status::bad_argument);
    EXPECT_EQ(std::filesystem::file_size(path), before);
    EXPECT_EQ(encode_file(v, {}, (dir / "missing" / "x.jpg").string()), Status::io_error);
    EXPECT_EQ(read_info_file((dir / "none.jpg").string(), info), Status::io_error);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
}
