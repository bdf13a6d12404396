// kavro-graph: frames converted from each RGB layout the renderers know, and the tool run on Noir as an
// operator would (registered, found by name, run for a second, last frame saved).
#include "tests/support/command.h"
#include "tests/support/registry.h"
#include "tests/support/temp_dir.h"
#include "tools/kavro-graph/graph_runner.h"

#include <gtest/gtest.h>

#include <QImage>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using kavro::graph::FrameLog;
using kavro::graph::Picture;

AM_MEDIA_TYPE video_type(const GUID& subtype, VIDEOINFOHEADER& vih, int bits, int height) {
    vih = {};
    vih.bmiHeader.biSize = 40;
    vih.bmiHeader.biWidth = 2;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biBitCount = std::uint16_t(bits);
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = subtype;
    mt.formattype = FORMAT_VideoInfo;
    mt.cbFormat = sizeof vih;
    mt.pbFormat = reinterpret_cast<BYTE*>(&vih);
    return mt;
}

Picture convert(const GUID& subtype, int bits, int height, const std::vector<BYTE>& bytes) {
    FrameLog log;
    VIDEOINFOHEADER vih;
    log.set_format(video_type(subtype, vih, bits, height));
    log.add({}, bytes.data(), bytes.size());
    Picture p;
    std::string error;
    EXPECT_TRUE(log.last_picture(p, error)) << error;
    return p;
}

// A 2x2 frame: red, green on the first row shown; blue, white on the second.
const std::vector<std::uint32_t> kExpected = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};

TEST(GraphFrames, EveryRgbLayoutBecomesTheSamePicture) {
    // 24-bit rows are padded to 4 bytes; bottom-up frames store the last row first.
    const std::vector<BYTE> rgb24_top = {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0};
    const std::vector<BYTE> rgb24_bottom = {255, 0, 0, 255, 255, 255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0};
    const std::vector<BYTE> rgb32_top = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};
    // RGB565 little-endian: red 0xF800, green 0x07E0, blue 0x001F, white 0xFFFF; bottom-up.
    const std::vector<BYTE> rgb565_bottom = {0x1F, 0x00, 0xFF, 0xFF, 0x00, 0xF8, 0xE0, 0x07};
    // RGB555: red 0x7C00, green 0x03E0, blue 0x001F, white 0x7FFF; top-down.
    const std::vector<BYTE> rgb555_top = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F};
    EXPECT_EQ(convert(MEDIASUBTYPE_RGB24, 24, -2, rgb24_top).pixels, kExpected);
    EXPECT_EQ(convert(MEDIASUBTYPE_RGB24, 24, 2, rgb24_bottom).pixels, kExpected);
    EXPECT_EQ(convert(MEDIASUBTYPE_RGB32, 32, -2, rgb32_top).pixels, kExpected);
    EXPECT_EQ(convert(MEDIASUBTYPE_RGB565, 16, 2, rgb565_bottom).pixels, kExpected);
    EXPECT_EQ(convert(MEDIASUBTYPE_RGB555, 16, -2, rgb555_top).pixels, kExpected);

    // A frame shorter than its format, or none at all, is refused rather than read past.
    FrameLog log;
    VIDEOINFOHEADER vih;
    Picture p;
    std::string error;
    log.set_format(video_type(MEDIASUBTYPE_RGB24, vih, 24, 2));
    EXPECT_FALSE(log.last_picture(p, error));
    log.add({}, rgb24_top.data(), rgb24_top.size() - 1);
    EXPECT_FALSE(log.last_picture(p, error));
    EXPECT_NE(error.find("shorter"), std::string::npos);
}

TEST(GraphFrames, SavedAsPngAndJpeg) {
    const kavro::test::TempDir temp("kavro-graph");
    const std::string dir = temp.str();
    Picture p{64, 32, std::vector<std::uint32_t>(64 * 32, 0xFF2040C0)};
    p.pixels[0] = 0xFFFFFFFF;
    std::string error;
    ASSERT_TRUE(kavro::graph::save_picture(p, dir + "/a.png", 90, error)) << error;
    ASSERT_TRUE(kavro::graph::save_picture(p, dir + "/a.JPG", 95, error)) << error;
    EXPECT_FALSE(kavro::graph::save_picture(p, dir + "/a.bmp", 90, error));
    QImage png(QString::fromStdString(dir + "/a.png"));
    ASSERT_EQ(png.size(), QSize(64, 32));
    EXPECT_EQ(png.pixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(png.pixel(10, 10), 0xFF2040C0u);
    QImage jpg(QString::fromStdString(dir + "/a.JPG"), "JPG");
    ASSERT_EQ(jpg.size(), QSize(64, 32));
    const QColor c = jpg.pixelColor(32, 16);
    EXPECT_NEAR(c.red(), 0x20, 6);
    EXPECT_NEAR(c.green(), 0x40, 6);
    EXPECT_NEAR(c.blue(), 0xC0, 6);
}

// Runs the tool; answers what it printed (standard output and error) and sets its exit code.
std::string run_tool(const std::string& args, int& status) {
    kavro::test::CommandResult r = kavro::test::run_command(std::string(KAVRO_GRAPH) + " " + args + " 2>&1");
    status = r.status;
    return std::move(r.output);
}

TEST(GraphTool, RunsNoirForASecondAndSavesItsLastFrame) {
    const kavro::test::ScopedRegistry registry;
    const std::string dir = registry.dir().str();
    int status = 0;
    std::string out = run_tool("Noir --seconds 1", status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("no registered filter is called \"Noir\""), std::string::npos) << out;

    out = run_tool(std::string("--register ") + NOIR_AX + " Noir --seconds 1 --save " + dir + "/noir.png", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Noir: 768x576 RGB565 bottom-up"), std::string::npos) << out;
    // Noir's samples carry no time stamps: the renderer shows them at its 50 Hz display ticks.
    EXPECT_NE(out.find("frame 1: no time stamp"), std::string::npos) << out;
    unsigned long frames = 0;
    double seconds = 0;
    const auto at = out.find(" frames in ");
    ASSERT_NE(at, std::string::npos) << out;
    const auto line = out.rfind('\n', at) + 1;
    ASSERT_EQ(std::sscanf(out.c_str() + line, "%lu frames in %lf", &frames, &seconds), 2) << out;
    EXPECT_GE(frames, 10u);
    EXPECT_LE(frames, 80u);
    QImage png(QString::fromStdString(dir + "/noir.png"));
    ASSERT_EQ(png.size(), QSize(768, 576));
    EXPECT_EQ(png.pixel(0, 0), 0xFF000000u);
    EXPECT_EQ(png.pixel(767, 575), 0xFF000000u);

    out = run_tool("{9E237DA7-8506-453F-99D9-8B80F69254FB} --seconds 0.3 --quiet --save " + dir + "/noir.gif", status);
    EXPECT_NE(status, 0) << "a picture name it cannot write";
    EXPECT_NE(out.find("must end in .png, .jpg or .jpeg"), std::string::npos) << out;
    EXPECT_EQ(out.find("frame 1:"), std::string::npos) << "--quiet";
}

// The mesh filter's page comes from Mesh.ax itself: named by the filter, created by CLSID through the registry,
// shown in the property frame with the plug-in's own dialog.
TEST(GraphTool, OpensTheMeshFiltersPropertyPage) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the frame is shown through Qt, which is not built for the thread sanitizer";
#endif
    const kavro::test::ScopedRegistry registry;
    const std::string dir = registry.dir().str();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int status = 0;
    const std::string out = run_tool(std::string("--register ") + MESH_AX + " --register " + WINGRAPHVIZ +
                                         " Mesh --pages --seconds 1 --quiet --screenshot " + dir + "/pages.png",
                                     status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Mesh: 768x576 RGB24 top-down"), std::string::npos) << out;
    EXPECT_EQ(out.find("no property pages"), std::string::npos) << out;
    QImage shot(QString::fromStdString(dir + "/pages.png"));
    // The frame holds the 224 x 177 dialog-unit page (336 x 287 pixels) above its buttons.
    EXPECT_GE(shot.width(), 336) << out;
    EXPECT_GE(shot.height(), 287 + 23) << out;
}

} // namespace
