// The multipart framing parser on arbitrary streams. The stream is fed twice, whole and in pieces whose sizes
// come from the first byte: both feeds must give the same parts and the same verdict, every part must respect
// the limit and the bytes held must stay bounded.
#include "outside/mjpeg/multipart.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {
constexpr kavro::mjpeg::Limits kLimits{4096, 512, 1024};

struct Run {
    std::vector<std::string> parts;
    bool failed = false;
    bool ended = false;
};

Run parse(std::span<const std::uint8_t> stream, std::size_t piece) {
    kavro::mjpeg::MultipartParser parser("frame", kLimits);
    Run run;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const auto chunk = stream.subspan(at, std::min(piece, stream.size() - at));
        parser.feed(chunk, [&](std::span<const std::uint8_t> body, std::string_view type) {
            if (body.empty() || body.size() > kLimits.max_part) std::abort();
            run.parts.emplace_back(reinterpret_cast<const char*>(body.data()), body.size());
            run.parts.back() += "|" + std::string(type);
        });
        if (parser.buffered() > kLimits.max_part + kLimits.max_headers + kLimits.max_junk + piece) std::abort();
    }
    run.failed = parser.failed();
    run.ended = parser.ended();
    return run;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = 1 + data[0] % 17;
    const std::span<const std::uint8_t> stream(data + 1, size - 1);
    const Run whole = parse(stream, stream.size() + 1);
    const Run split = parse(stream, piece);
    if (whole.failed != split.failed || whole.ended != split.ended) std::abort();
    if (whole.parts != split.parts) std::abort();
    // The content type helper must not read outside its text either.
    std::string type(reinterpret_cast<const char*>(stream.data()), std::min<std::size_t>(stream.size(), 200));
    (void)kavro::mjpeg::boundary_from_content_type(type);
    return 0;
}
