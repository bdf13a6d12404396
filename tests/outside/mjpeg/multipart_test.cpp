#include "outside/mjpeg/multipart.h"

#include <gtest/gtest.h>

using kavro::mjpeg::boundary_from_content_type;
using kavro::mjpeg::Limits;
using kavro::mjpeg::MultipartParser;

namespace {

struct Parsed {
    std::vector<std::string> parts;
    std::vector<std::string> types;
    bool failed = false;
    bool ended = false;
    std::string error;
    std::size_t most_buffered = 0;
};

Parsed parse(const std::string& stream, std::size_t piece, const std::string& boundary = "frame",
             Limits limits = {}) {
    MultipartParser parser(boundary, limits);
    Parsed out;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const std::string chunk = stream.substr(at, piece);
        parser.feed(std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size()),
                    [&](std::span<const std::uint8_t> body, std::string_view type) {
                        out.parts.emplace_back(reinterpret_cast<const char*>(body.data()), body.size());
                        out.types.emplace_back(type);
                    });
        out.most_buffered = std::max(out.most_buffered, parser.buffered());
    }
    out.failed = parser.failed();
    out.ended = parser.ended();
    out.error = parser.error();
    return out;
}

} // namespace

TEST(MultipartContentType, Boundary) {
    EXPECT_EQ(boundary_from_content_type("multipart/x-mixed-replace; boundary=frame"), "frame");
    EXPECT_EQ(boundary_from_content_type("Multipart/X-Mixed-Replace;charset=x; Boundary=\"a b\""), "a b");
    EXPECT_EQ(boundary_from_content_type("multipart/x-mixed-replace;boundary=--myboundary"), "--myboundary");
    EXPECT_EQ(boundary_from_content_type("multipart/x-mixed-replace"), std::nullopt);
    EXPECT_EQ(boundary_from_content_type("multipart/x-mixed-replace; boundary="), std::nullopt);
    EXPECT_EQ(boundary_from_content_type("multipart/x-mixed-replace; boundary=\"\""), std::nullopt);
    EXPECT_EQ(boundary_from_content_type("text/html; boundary=frame"), std::nullopt);
    EXPECT_EQ(boundary_from_content_type("image/jpeg"), std::nullopt);
    EXPECT_EQ(boundary_from_content_type("multipart/x-mixed-replace; boundary=" + std::string(71, 'b')),
              std::nullopt);
    EXPECT_EQ(boundary_from_content_type(std::string("multipart/x-mixed-replace; boundary=a\x01", 39)),
              std::nullopt);
}

// The same stream gives the same parts whatever pieces it arrives in: parts by length and by boundary, a
// preamble, LF-only lines, padding after a boundary, body bytes that look like a boundary but are not one,
// an empty part (skipped), and the closing boundary ending the stream.
TEST(Multipart, PartsWhateverThePieces) {
    const std::string stream = "preamble text\r\n"
                               "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: 11\r\n\r\n"
                               "0123\r\n--fra\r\n"
                               "--frame  \r\ncontent-type: image/x\r\n\r\n"
                               "a--frame b\n--frameX\nend\r\n"
                               "--frame\nContent-Length:  3 \n\nxyz\n"
                               "--frame\r\n\r\n\r\n"
                               "--frame\r\nContent-Length: 0\r\n\r\n\r\n"
                               "--frame--\r\nepilogue --frame\r\n\r\nignored\r\n";
    for (std::size_t piece : {std::size_t(1), std::size_t(2), std::size_t(7), stream.size()}) {
        SCOPED_TRACE(piece);
        const Parsed p = parse(stream, piece);
        EXPECT_FALSE(p.failed) << p.error;
        EXPECT_TRUE(p.ended);
        ASSERT_EQ(p.parts.size(), 3u);
        EXPECT_EQ(p.parts[0], "0123\r\n--fra");
        EXPECT_EQ(p.types[0], "image/jpeg");
        EXPECT_EQ(p.parts[1], "a--frame b\n--frameX\nend");
        EXPECT_EQ(p.types[1], "image/x");
        EXPECT_EQ(p.parts[2], "xyz");
        EXPECT_EQ(p.types[2], "");
    }
    // A boundary parameter written with its dashes is matched as written.
    const Parsed dashed = parse("--myb\r\n\r\nabc\r\n--myb\r\n", 3, "--myb");
    ASSERT_EQ(dashed.parts.size(), 1u);
    EXPECT_EQ(dashed.parts[0], "abc");
}

// Everything is bounded: oversized parts (announced or not), endless headers, endless junk, bad lengths.
// The bytes held never grow much past the limits, even when a stream of 100 MB pours in.
TEST(Multipart, RefusalsAndBounds) {
    const Limits small{1000, 200, 300};
    const auto refused = [&](const std::string& stream, const std::string& why) {
        const Parsed p = parse(stream, 64, "frame", small);
        EXPECT_TRUE(p.failed) << stream.substr(0, 80);
        EXPECT_EQ(p.error, why);
        EXPECT_TRUE(p.parts.empty());
        EXPECT_LE(p.most_buffered, 1000u + 64 + 16);
    };
    refused("--frame\r\nContent-Length: 1001\r\n\r\n" + std::string(1001, 'x'), "part too large");
    refused("--frame\r\nContent-Length: 104857600\r\n\r\n", "part too large");
    refused("--frame\r\n\r\n" + std::string(5000, 'x'), "part too large");
    refused("--frame\r\nX-Long: " + std::string(500, 'h'), "part headers too long");
    refused(std::string(5000, 'j'), "no boundary found");
    refused(std::string(305, 'j') + "\n--frame\r\n", "too many bytes before the boundary");
    refused("--frame\r\nContent-Length: 12x\r\n\r\n", "malformed Content-Length");
    refused("--frame\r\nContent-Length: -1\r\n\r\n", "malformed Content-Length");
    refused("--frame\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", "conflicting Content-Length");
    refused("--frame\r\nno colon here\r\n\r\n", "malformed part header");
    refused("--frame" + std::string(400, ' '), "boundary line too long");

    // After a refusal, nothing more is taken.
    MultipartParser parser("frame", small);
    const std::string bad = std::string(5000, 'j');
    const std::string good = "--frame\r\n\r\nabc\r\n--frame\r\n";
    int parts = 0;
    const auto count = [&](std::span<const std::uint8_t>, std::string_view) { ++parts; };
    EXPECT_FALSE(parser.feed(std::span(reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size()), count));
    EXPECT_FALSE(parser.feed(std::span(reinterpret_cast<const std::uint8_t*>(good.data()), good.size()), count));
    EXPECT_EQ(parts, 0);
    EXPECT_EQ(parser.buffered(), 0u);

    // A 100 MB part without a length, in 16 KB pieces, with the default 8 MB limit.
    MultipartParser big("frame");
    const std::string head = "--frame\r\n\r\n";
    big.feed(std::span(reinterpret_cast<const std::uint8_t*>(head.data()), head.size()), count);
    const std::vector<std::uint8_t> chunk(16384, 0xAA);
    std::size_t fed = 0, most = 0;
    while (fed < (100u << 20) && big.feed(chunk, count)) {
        fed += chunk.size();
        most = std::max(most, big.buffered());
    }
    EXPECT_TRUE(big.failed());
    EXPECT_LE(fed, (8u << 20) + chunk.size());
    EXPECT_LE(most, (8u << 20) + chunk.size());
}
