#include "platform/dshow/jpeg_frame.h"

#include <pixman.h>

namespace kavro::dshow {

namespace {

// Scales a packed top-down BGRX picture (fourth bytes 0xFF) to fill the destination; as both are treated as
// opaque ARGB, the destination gets 0xFF fourth bytes too.
void scale_bgrx(std::uint8_t* src, int sw, int sh, std::uint8_t* dst, int dw, int dh) {
    pixman_image_t* s =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, sw, sh, reinterpret_cast<std::uint32_t*>(src), sw * 4);
    pixman_image_t* d =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, dw, dh, reinterpret_cast<std::uint32_t*>(dst), dw * 4);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(double(sw) / dw), pixman_double_to_fixed(double(sh) / dh));
    pixman_image_set_transform(s, &t);
    pixman_image_set_filter(s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(s, PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, dw, dh);
    pixman_image_unref(s);
    pixman_image_unref(d);
}

} // namespace

jpeg::Status JpegFrameDecoder::decode(std::span<const std::uint8_t> sample, std::uint8_t* frame,
                                      std::size_t frame_bytes, int width, int height) {
    if (!frame || width <= 0 || height <= 0 || width > kMaxJpegDimension || height > kMaxJpegDimension ||
        frame_bytes < std::size_t(width) * std::size_t(height) * 4)
        return jpeg::Status::bad_argument;
    jpeg::Info info;
    if (const jpeg::Status st = jpeg::read_info(sample, info); st != jpeg::Status::ok) return st;
    const std::size_t stride = std::size_t(width) * 4;
    if (info.width == width && info.height == height)
        return jpeg::decode(sample, {frame, frame_bytes, width, height, stride, jpeg::PixelFormat::bgrx32, false});
    if (info.width > kMaxJpegDimension || info.height > kMaxJpegDimension) return jpeg::Status::does_not_fit;
    scratch_.resize(std::size_t(info.width) * std::size_t(info.height) * 4);
    const jpeg::Status st = jpeg::decode(sample, {scratch_.data(), scratch_.size(), info.width, info.height,
                                                  std::size_t(info.width) * 4, jpeg::PixelFormat::bgrx32, false});
    if (st == jpeg::Status::ok) scale_bgrx(scratch_.data(), info.width, info.height, frame, width, height);
    return st;
}

} // namespace kavro::dshow
