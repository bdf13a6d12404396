#include "outside/capteur/overlay.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace capteur {

namespace {

struct Glyph {
    char c;
    std::uint8_t rows[7]; // five dots per row, bit 4 leftmost
};

// Digits and the few letters and signs the overlay writes.
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}}, {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}}, {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}}, {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {'*', {0x00, 0x04, 0x15, 0x0E, 0x15, 0x04, 0x00}},
};

const Glyph* glyph(char c) {
    for (const Glyph& g : kFont)
        if (g.c == c) return &g;
    return nullptr;
}

// Layout of one row.
constexpr int kLeft = 16;
constexpr int kTop = 16;
constexpr int kRowHeight = 28;
constexpr int kNameWidth = 80;     // "BASE*" at scale 2
constexpr int kLabelWidth = 40;    // "BAT " at scale 1 ...
constexpr int kValueWidth = 40;    // "100%"
constexpr int kBarHeight = 12;
constexpr int kGroupWidth = kLabelWidth + kBarLength + 2 + 8 + kValueWidth;

void fill(std::uint32_t* pixels, int stride, Rect r, std::uint32_t colour) {
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    r.right = std::min(r.right, kFrameWidth);
    r.bottom = std::min(r.bottom, kFrameHeight);
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) pixels[std::size_t(y) * std::size_t(stride) + std::size_t(x)] = colour;
}

void outline(std::uint32_t* pixels, int stride, Rect r, std::uint32_t colour) {
    fill(pixels, stride, {r.left, r.top, r.right, r.top + 1}, colour);
    fill(pixels, stride, {r.left, r.bottom - 1, r.right, r.bottom}, colour);
    fill(pixels, stride, {r.left, r.top, r.left + 1, r.bottom}, colour);
    fill(pixels, stride, {r.right - 1, r.top, r.right, r.bottom}, colour);
}

int row_top(int index) { return kTop + (index - kFirstIndex) * kRowHeight; }

} // namespace

Rect bar_rect(int index, Bar bar) {
    const int group = static_cast<int>(bar);
    const int left = kLeft + kNameWidth + group * kGroupWidth + kLabelWidth;
    const int top = row_top(index) + 2;
    return {left, top, left + kBarLength + 2, top + kBarHeight};
}

int wheel_speed(int wheel) { return wheel >= 64 ? wheel - 64 : -wheel; }

int speed_magnitude(int wheel1, int wheel2) {
    return std::min(63, std::abs((wheel_speed(wheel1) + wheel_speed(wheel2)) / 2));
}

int draw_text(std::uint32_t* pixels, int stride, int x, int y, std::string_view text, std::uint32_t colour,
              int scale) {
    for (char c : text) {
        if (const Glyph* g = glyph(c)) {
            for (int row = 0; row < 7; ++row)
                for (int col = 0; col < 5; ++col)
                    if (g->rows[row] & (0x10 >> col))
                        fill(pixels, stride, {x + col * scale, y + row * scale, x + (col + 1) * scale, y + (row + 1) * scale},
                             colour);
        }
        x += 6 * scale;
    }
    return x;
}

void draw_overlay(std::uint32_t* pixels, int stride, const std::array<ChannelView, kLastIndex + 1>& views) {
    for (int y = 0; y < kFrameHeight; ++y)
        std::memset(pixels + std::size_t(y) * std::size_t(stride), 0, std::size_t(kFrameWidth) * 4);

    static constexpr const char* kLabels[] = {"BAT", "SPD", "SIG"};
    for (int i = kFirstIndex; i <= kLastIndex; ++i) {
        const ChannelView& v = views[std::size_t(i)];
        if (!v.configured) continue;
        const int top = row_top(i);
        char name[8];
        if (i == kBaseIndex)
            std::snprintf(name, sizeof name, "BASE%s", v.reference ? "*" : "");
        else
            std::snprintf(name, sizeof name, "R%d%s", i, v.reference ? "*" : "");
        // A robot never heard, or silent, is named in grey.
        const bool live = v.heard && !v.silent;
        draw_text(pixels, stride, kLeft, top, name, live ? kWhite : kGrey, 2);

        const int battery = std::clamp<int>(v.status.battery, 0, 100);
        const int speed = speed_magnitude(v.status.wheel1, v.status.wheel2);
        const int signal = std::clamp<int>(v.status.signal, 0, 100);
        const int lengths[3] = {battery, speed * kBarLength / 63, signal};
        const int values[3] = {battery, speed, signal};
        const std::uint32_t colours[3] = {battery < 20 ? kRed : kGreen, kCyan, v.silent ? kRed : kYellow};
        for (int b = 0; b < 3; ++b) {
            const Rect r = bar_rect(i, static_cast<Bar>(b));
            draw_text(pixels, stride, r.left - kLabelWidth, r.top + 2, kLabels[b], kGrey, 1);
            outline(pixels, stride, r, kFrame);
            fill(pixels, stride, {r.left + 1, r.top + 1, r.left + 1 + lengths[b], r.bottom - 1}, colours[b]);
            char text[8];
            std::snprintf(text, sizeof text, b == 1 ? "%d" : "%d%%", values[b]);
            draw_text(pixels, stride, r.right + 8, r.top + 2, text, kWhite, 1);
        }
        if (!v.silent && v.heard && !v.has_position) draw_text(pixels, stride, bar_rect(i, Bar::Signal).right + 8 + kValueWidth, top + 4, "NO FIX", kGrey, 1);
    }
}

} // namespace capteur
