// The drawing subset, checked pixel by pixel with the system's conventions.
#include <gtest/gtest.h>

#include "platform/ui/ui.h"

using namespace kavro::ui;

namespace {

constexpr Colour red = rgb(255, 0, 0), blue = rgb(0, 0, 255), grey = rgb(235, 233, 237), white = rgb(255, 255, 255);

TEST(Gdi, LinesLeaveOutTheirEndPointAndRectanglesTheirRightAndBottomEdge) {
    auto c = std::make_shared<Canvas>(20, 20);
    Dc dc(c);
    dc.select_pen(solid_pen(red));
    dc.move_to(2, 3);
    dc.line_to(10, 3);
    EXPECT_EQ(c->colour(2, 3), red);
    EXPECT_EQ(c->colour(9, 3), red);
    EXPECT_EQ(c->colour(10, 3), white);
    dc.line_to(10, 8); // continues from the current point
    EXPECT_EQ(c->colour(10, 3), red);
    EXPECT_EQ(c->colour(10, 7), red);
    EXPECT_EQ(c->colour(10, 8), white);
    // A diagonal covers one pixel per step.
    dc.move_to(0, 10);
    dc.line_to(5, 15);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(c->colour(i, 10 + i), red) << i;

    auto r = std::make_shared<Canvas>(10, 10);
    Dc d2(r);
    d2.select_pen(solid_pen(blue));
    d2.select_brush(solid_brush(grey));
    d2.rectangle(1, 1, 6, 5);
    EXPECT_EQ(r->colour(1, 1), blue);
    EXPECT_EQ(r->colour(5, 4), blue);
    EXPECT_EQ(r->colour(6, 4), white);
    EXPECT_EQ(r->colour(5, 5), white);
    EXPECT_EQ(r->colour(2, 2), grey);
    EXPECT_EQ(r->colour(4, 3), grey);
    d2.select_pen(null_pen());
    d2.select_brush(solid_brush(red));
    d2.rectangle(7, 7, 10, 10); // without an outline one pixel smaller
    EXPECT_EQ(r->colour(8, 8), red);
    EXPECT_EQ(r->colour(9, 9), white);
}

TEST(Gdi, FilledCircleOfRadiusFourIsSymmetricAndInsideItsBox) {
    auto c = std::make_shared<Canvas>(30, 30);
    Dc dc(c);
    dc.select_pen(solid_pen(red));
    dc.select_brush(solid_brush(red));
    const int x = 15, y = 15, r = 4;
    dc.ellipse(x - r, y - r, x + r, y + r);
    int count = 0;
    for (int yy = 0; yy < 30; ++yy)
        for (int xx = 0; xx < 30; ++xx)
            if (c->colour(xx, yy) == red) {
                ++count;
                EXPECT_GE(xx, x - r);
                EXPECT_LT(xx, x + r);
                EXPECT_GE(yy, y - r);
                EXPECT_LT(yy, y + r);
                // Mirror image about the box centre.
                EXPECT_EQ(c->colour(2 * x - 1 - xx, yy), red);
                EXPECT_EQ(c->colour(xx, 2 * y - 1 - yy), red);
            }
    EXPECT_GT(count, 40); // a disc, not an outline (an 8 × 8 box)
    EXPECT_LT(count, 64); // the corners stay out
    EXPECT_EQ(c->colour(x - r, y - r), white);
    // Outline and fill in different colours.
    dc.select_pen(solid_pen(blue));
    dc.select_brush(solid_brush(grey));
    dc.ellipse(0, 0, 11, 11);
    EXPECT_EQ(c->colour(5, 0), blue);
    EXPECT_EQ(c->colour(5, 5), grey);
    EXPECT_EQ(c->colour(0, 0), white);
}

TEST(Gdi, WindowCanvasFollowsTheWindowSizeAndTellsObservers) {
    DialogTemplate t;
    t.controls = {{1006, WindowClass::Static, "", {0, 0, 10, 10}, WS_VISIBLE | SS_BLACKFRAME}};
    const Hwnd dlg = create_dialog(t, {});
    const Hwnd pad = get_dlg_item(dlg, 1006);
    move_window(pad, 100, 100, 200, 200);
    int canvas_events = 0;
    const int token = add_observer([&](const Event& e) {
        if (e.kind == Event::Canvas && e.hwnd == pad) ++canvas_events;
    });
    EXPECT_EQ(window_canvas(pad), nullptr);
    {
        Dc dc = get_dc(pad);
        ASSERT_TRUE(dc);
        dc.select_pen(solid_pen(grey));
        dc.select_brush(solid_brush(grey));
        dc.rectangle(0, 0, 200, 200);
        dc.set_pixel(199, 199, red);
        EXPECT_EQ(canvas_events, 0);
    }
    EXPECT_EQ(canvas_events, 1);
    remove_observer(token);
    auto c = window_canvas(pad);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->width(), 200);
    EXPECT_EQ(c->colour(0, 0), grey);
    EXPECT_EQ(c->colour(199, 199), red);
    EXPECT_EQ(c->pixel(200, 0), 0u);
    destroy_window(dlg);
    EXPECT_FALSE(get_dc(pad));
}

// The bulk write must leave exactly what the pixel-by-pixel copy leaves, wherever the block lies: partly off
// every edge, off the canvas, empty. The unused byte is dropped, so black with garbage in it is the key's black.
TEST(Gdi, BulkWriteMatchesThePixelByPixelCopyClippedAtEveryEdge) {
    constexpr int bw = 7, bh = 5, pad = 3; // rows `pad` pixels longer than the block
    std::vector<std::uint32_t> block(std::size_t(bw + pad) * bh);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = std::uint32_t(i * 0x9E3779B9u);
    block[0] = 0x5A000000u; // black, unused byte set
    block[std::size_t(bw + pad) * 2 + 3] = 0xFF000000u;
    const std::size_t stride = std::size_t(bw + pad) * 4;
    const Point places[] = {{0, 0},  {-3, -2}, {8, 6},  {-3, 6},  {8, -2}, {2, 3},
                            {-7, 0}, {10, 0},  {0, -5}, {0, 8},   {-100, -100}};
    for (const Point at : places) {
        Canvas bulk(10, 8), each(10, 8);
        bulk.write_pixels(at.x, at.y, block.data(), bw, bh, stride);
        for (int y = 0; y < bh; ++y)
            for (int x = 0; x < bw; ++x)
                each.set_pixel(at.x + x, at.y + y,
                               0xFF000000u | (block[std::size_t(y) * (bw + pad) + std::size_t(x)] & 0xFFFFFFu));
        EXPECT_EQ(bulk.pixels(), each.pixels()) << at.x << "," << at.y;
    }
    Canvas c(10, 8);
    c.write_pixels(0, 0, block.data(), bw, bh, stride);
    EXPECT_EQ(c.pixel(0, 0), 0xFF000000u);
    EXPECT_EQ(c.pixel(3, 2), 0xFF000000u);
    EXPECT_EQ(c.pixel(bw, 0), 0xFFFFFFFFu); // the row's padding is not copied
    c.write_pixels(1, 1, block.data(), 0, bh, stride);
    c.write_pixels(1, 1, block.data(), -4, bh, stride);
    c.write_pixels(1, 1, nullptr, bw, bh, stride);
    c.write_pixels(0x7FFFFFF0, 0x7FFFFFF0, block.data(), bw, bh, stride); // no overflow at the far corner
    EXPECT_EQ(c.pixel(1, 1), 0xFF000000u | (block[std::size_t(bw + pad) + 1] & 0xFFFFFFu));
}

} // namespace
