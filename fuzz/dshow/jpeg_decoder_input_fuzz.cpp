// The JPEG decoder filter's input on arbitrary samples: each sample is decoded into an exact-size frame of a
// size chosen by the first byte (so both the straight and the scaled path run). Nothing may be written past
// the frame, and a success must leave a whole picture (every fourth byte 0xFF).
#include "platform/dshow/jpeg_frame.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static kavro::dshow::JpegFrameDecoder decoder; // kept, like the filter's, from sample to sample
    const int width = 8 + (data[0] & 15) * 4, height = 8 + (data[0] >> 4) * 4;
    std::vector<std::uint8_t> frame(std::size_t(width) * height * 4, 0);
    const auto st = decoder.decode(std::span(data + 1, size - 1), frame.data(), frame.size(), width, height);
    if (st == kavro::jpeg::Status::ok)
        for (std::size_t i = 3; i < frame.size(); i += 4)
            if (frame[i] != 0xFF) std::abort();
    return 0;
}
