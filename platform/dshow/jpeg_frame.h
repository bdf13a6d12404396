// The JPEG decoder filter's core: one Motion JPEG sample into one video frame of a fixed size.
#pragma once

#include "platform/jpeg/jpeg.h"

#include <cstdint>
#include <span>
#include <vector>

namespace kavro::dshow {

// Largest picture a sample may hold (either side); larger pictures are refused.
inline constexpr int kMaxJpegDimension = 4096;

class JpegFrameDecoder {
public:
    // Decodes the JPEG in `sample` into `frame`: width x height pixels of 32-bit RGB (blue, green, red, 0xFF),
    // rows top first and packed. A picture of that size is decoded straight into the frame; another size is
    // decoded aside and scaled (bilinear) to fill the frame. Anything but ok means the frame's contents are
    // not a picture (it may hold part of one) and must not be shown; bad_argument when frame_bytes is short.
    jpeg::Status decode(std::span<const std::uint8_t> sample, std::uint8_t* frame, std::size_t frame_bytes, int width,
                        int height);

private:
    std::vector<std::uint8_t> scratch_;
};

} // namespace kavro::dshow
