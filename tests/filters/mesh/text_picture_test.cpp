// The mesh filter's text and picture routines: substitution in place, the default picture file, fitting a
// drawing into the frame.
#include "filters/mesh/fit.h"
#include "filters/mesh/image_ppm.h"
#include "filters/mesh/substitute.h"
#include "tests/support/message_boxes.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace mesh;

// The text after substitution in a buffer of the given capacity; bytes past the capacity must stay intact.
std::string after(std::string text, std::string_view p, std::string_view r, std::size_t capacity = 0,
                  SubstituteResult* result = nullptr) {
    if (capacity == 0) capacity = text.size() + 200;
    std::vector<char> buffer(capacity + 16, '#');
    std::memcpy(buffer.data(), text.c_str(), std::min(capacity, text.size() + 1));
    const SubstituteResult got = substitute(buffer.data(), capacity, p, r);
    if (result) *result = got;
    for (std::size_t i = capacity; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '#') << "written past the buffer";
    return std::string(buffer.data(), strnlen(buffer.data(), capacity));
}

TEST(Substitute, AddressesAreReplacedWithoutRegardToBoundaries) {
    EXPECT_EQ(after("\"10.0.0.12\" -> \"10.0.0.1\"", "10.0.0.1", "R1"), "\"R12\" -> \"R1\"");
    // Longer replacement containing the pattern: each occurrence once, the search resumes after it.
    EXPECT_EQ(after("a1b1", "1", "111"), "a111b111");
    EXPECT_EQ(after("0.0.0.0/0.0.0.0 x 0.0.0.0/0.0.0.0", "0.0.0.0/0.0.0.0", "HNA"), "HNA x HNA");
    // Same length: overwritten; equal texts and an empty pattern change nothing.
    EXPECT_EQ(after("abcabc", "abc", "xyz"), "xyzxyz");
    EXPECT_EQ(after("abcabc", "abc", "abc"), "abcabc");
    EXPECT_EQ(after("abc", "", "x"), "abc");
    // Shorter: no joined occurrence is searched for behind the replacement.
    EXPECT_EQ(after("aabb", "ab", "c"), "acb");
}

TEST(Substitute, EmptyReplacementAlsoRemovesOccurrencesFormedByJoining) {
    EXPECT_EQ(after("aabb", "ab", ""), "");
    EXPECT_EQ(after("x<<ab>>y", "<>", ""), "x<<ab>>y");
    EXPECT_EQ(after("x<<>>y", "<>", ""), "xy");
    EXPECT_EQ(after("HNAHNA", "HNA", ""), "");
}

TEST(Substitute, NeverGrowsPastItsBuffer) {
    SubstituteResult r;
    // "aaaa" in 7 bytes: two replacements fit (6 bytes and the terminator), the third does not.
    EXPECT_EQ(after("aaaa", "a", "bb", 7, &r), "bbbbaa");
    EXPECT_EQ(r.replaced, 2u);
    EXPECT_TRUE(r.incomplete);
    EXPECT_EQ(after("aaaa", "a", "bb", 9, &r), "bbbbbbbb");
    EXPECT_FALSE(r.incomplete);
    // No terminator inside the buffer: nothing is touched.
    std::vector<char> raw(8, 'a');
    EXPECT_EQ(substitute(raw.data(), raw.size(), "a", "b").replaced, 0u);
    EXPECT_EQ(std::string(raw.begin(), raw.end()), "aaaaaaaa");
}

// --- default picture file ---------------------------------------------------------------------------------

class PpmFile : public ::testing::Test {
protected:
    std::string write(const std::string& bytes) {
        const std::string path = dir + "/p.ppm";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    }
    kavro::test::TempDir temp{"kavro-ppm"};
    const std::string dir = temp.str();
    kavro::test::MessageBoxes boxes;
};

TEST_F(PpmFile, ReadsRawPixelsUnchanged) {
    std::string pixels;
    for (int i = 0; i < 4 * 2 * 3; ++i) pixels += char(i * 10);
    image_ppm ppm;
    ASSERT_TRUE(ppm.read(write("P6\n4 2\n255\n" + pixels)));
    EXPECT_EQ(ppm.width(), 4);
    EXPECT_EQ(ppm.height(), 2);
    EXPECT_EQ(ppm.max_value(), 255);
    EXPECT_EQ(std::memcmp(ppm.pixels(), pixels.data(), pixels.size()), 0);
    EXPECT_TRUE(boxes.seen().empty());
}

TEST_F(PpmFile, EveryFailureLeavesNoPictureAndNeverReadsPastTheFile) {
    image_ppm ppm;
    ASSERT_TRUE(ppm.read(write("P6\n1 1\n255\nabc")));
    ASSERT_FALSE(ppm.read(write("P3\n1 1\n255\n0 0 0\n")));
    EXPECT_TRUE(ppm.empty()); // the earlier picture is gone
    EXPECT_FALSE(ppm.read(dir + "/absent.ppm"));
    EXPECT_EQ(boxes.seen(), (std::vector<std::string>{"Erreur: Type du fichier différent de P6", "Erreur: Fichier introuvable"}));
    boxes.clear();
    for (const char* bad : {"P6\n", "P6\n768 57", "P6\n768\n576\n255\n", "P6\n768 576 255\n", "P6\n 768 576\n255\n",
                            "P6\n0 5\n255\n", "P6\n99999999999999999999 1\n255\n", "P6\n9000 9000\n255\n",
                            "P6\n4 2\n255\nshort"}) {
        EXPECT_FALSE(ppm.read(write(bad))) << bad;
        EXPECT_TRUE(ppm.empty()) << bad;
        EXPECT_EQ(ppm.width(), 0) << bad;
    }
    EXPECT_TRUE(boxes.seen().empty()); // reported on stderr, not in front of the operator
}

// --- fitting ----------------------------------------------------------------------------------------------

std::vector<std::uint8_t> pattern(int w, int h) {
    std::vector<std::uint8_t> p(std::size_t(w) * h * 3);
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = std::uint8_t(i % 251);
    return p;
}

const std::uint8_t* at(const std::vector<std::uint8_t>& frame, int row, int col) {
    return frame.data() + std::size_t(row) * kFrameStride + std::size_t(col) * 3;
}

bool white(const std::vector<std::uint8_t>& frame, int row, int col) {
    const std::uint8_t* p = at(frame, row, col);
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

void expect_centred(int w, int h, int left, int top) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const auto picture = pattern(w, h);
    std::vector<std::uint8_t> frame(kFrameBytes, 0);
    fit_picture(picture.data(), w, h, frame.data());
    for (int y = 0; y < kFrameHeight; ++y) {
        for (int x = 0; x < kFrameWidth; ++x) {
            const bool inside = y >= top && y < top + h && x >= left && x < left + w;
            if (!inside) {
                ASSERT_TRUE(white(frame, y, x)) << y << "," << x;
            } else {
                const std::uint8_t* want = picture.data() + (std::size_t(y - top) * w + (x - left)) * 3;
                ASSERT_EQ(std::memcmp(at(frame, y, x), want, 3), 0) << y << "," << x;
            }
        }
    }
}

TEST(Fit, PicturesThatFitAreCentredOnWhite) {
    expect_centred(500, 300, 134, 138);
    expect_centred(501, 301, 133, 137);
    expect_centred(768, 576, 0, 0);
    expect_centred(1, 576, 383, 0);
}

TEST(Fit, LargerPicturesAreReducedToGreyStrokes) {
    EXPECT_FLOAT_EQ(reduction_factor(800, 300), 1.05f);
    EXPECT_FLOAT_EQ(reduction_factor(768, 1152), 2.01f); // sy when the larger
    std::vector<std::uint8_t> picture(std::size_t(800) * 300 * 3, 255);
    auto set = [&](int x, int y, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
        std::uint8_t* p = picture.data() + (std::size_t(y) * 800 + x) * 3;
        p[0] = b, p[1] = g, p[2] = r;
    };
    set(799, 299, 10, 200, 30); // last pixel: row 284, column 760
    set(0, 0, 50, 0, 0);        // columns 0 and 1 both land on column 0: the first pixel is drawn last
    set(1, 0, 100, 0, 0);
    set(400, 100, 179, 0, 0);   // row 95, column 380, grey 179
    set(420, 100, 180, 0, 0);   // blue 180 and above are not drawn
    std::vector<std::uint8_t> frame(kFrameBytes, 0);
    fit_picture(picture.data(), 800, 300, frame.data());
    auto grey = [&](int row, int col, int v) {
        const std::uint8_t* p = at(frame, row, col);
        EXPECT_TRUE(p[0] == v && p[1] == v && p[2] == v) << row << "," << col << ": " << int(p[0]);
    };
    grey(284, 760, 10);
    grey(0, 0, 50);
    grey(95, 380, 179);
    std::size_t drawn = 0;
    for (int y = 0; y < kFrameHeight; ++y)
        for (int x = 0; x < kFrameWidth; ++x) drawn += !white(frame, y, x);
    EXPECT_EQ(drawn, 3u);
}

TEST(Fit, ExtremeShapesStayInsideTheFrame) {
    for (auto [w, h] : {std::pair{100, 2000}, {3000, 1}, {769, 577}, {5000, 353}}) {
        std::vector<std::uint8_t> picture(std::size_t(w) * h * 3, 0); // all dark: every target drawn
        std::vector<std::uint8_t> frame(kFrameBytes + 64, 7);
        fit_picture(picture.data(), w, h, frame.data());
        for (std::size_t i = kFrameBytes; i < frame.size(); ++i) ASSERT_EQ(frame[i], 7) << w << "x" << h;
        EXPECT_EQ(at(frame, 0, 0)[0], 0);
    }
    std::vector<std::uint8_t> frame(kFrameBytes, 0);
    fit_picture(nullptr, 0, 0, frame.data());
    EXPECT_TRUE(white(frame, 0, 0) && white(frame, 575, 767));
}

} // namespace
