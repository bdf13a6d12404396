#include "outside/adlink/test_card.h"

#include "util/pixel_text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace adlink {

namespace {

using kavro::pixels::draw_text;
using kavro::pixels::fill_rect;
using kavro::pixels::Image;
using kavro::pixels::text_width;

// 75 % colour bars: white, yellow, cyan, green, magenta, red, blue.
constexpr std::uint32_t kBars[] = {0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00, 0xBF00BF, 0xBF0000, 0x0000BF};
constexpr std::uint32_t kPanel = 0x101010;
constexpr std::uint32_t kText = 0xFFFFFF;
constexpr std::uint32_t kLineText = 0xFFD040;

void centred(const Image& image, int y, const std::string& text, std::uint32_t colour, int scale) {
    draw_text(image, (kWidth - text_width(text, scale)) / 2, y, text, colour, scale);
}

} // namespace

TestCard::TestCard(int card, int input, std::string line)
    : m_card(card), m_input(input), m_line(std::move(line)), m_card_pixels(std::size_t(kWidth) * kHeight) {
    draw();
}

void TestCard::set_line(const std::string& line) {
    if (line == m_line) return;
    m_line = line;
    draw();
}

void TestCard::draw() {
    const Image image{m_card_pixels.data(), kWidth, kHeight, kWidth};
    // Bars over the top two thirds, a grey ramp below them, a dark band for the texts and the clock.
    const int bar_width = kWidth / 7 + 1;
    for (int i = 0; i < 7; ++i) fill_rect(image, i * bar_width, 0, (i + 1) * bar_width, 288, kBars[i]);
    for (int x = 0; x < kWidth; ++x) {
        const std::uint32_t v = std::uint32_t(x * 255 / (kWidth - 1));
        fill_rect(image, x, 288, x + 1, 336, v << 16 | v << 8 | v);
    }
    fill_rect(image, 0, 336, kWidth, kHeight, kPanel);
    char names[64];
    std::snprintf(names, sizeof names, "ADLINK %d - INPUT %d", m_card, m_input);
    centred(image, 352, names, kText, 5);
    // The line, in rows of at most 60 characters, broken at line feeds.
    int y = 406;
    for (std::size_t at = 0; at < m_line.size() && y < kClockBox.top - 16; y += 22) {
        const std::size_t end = std::min(m_line.find('\n', at), m_line.size());
        centred(image, y, m_line.substr(at, std::min<std::size_t>(end - at, 60)), kLineText, 2);
        at = end + 1;
    }
    fill_rect(image, kClockBox.left, kClockBox.top, kClockBox.right, kClockBox.bottom, 0);
    m_adjusted_pixels = m_card_pixels;
    m_transform.apply(m_adjusted_pixels.data(), kWidth, kHeight, kWidth);
}

void TestCard::set_adjustments(const Adjustments& a) {
    if (a == m_adjustments) return;
    m_adjustments = a;
    m_transform = ColourTransform(a);
    m_adjusted_pixels = m_card_pixels;
    m_transform.apply(m_adjusted_pixels.data(), kWidth, kHeight, kWidth);
}

void TestCard::render(std::uint32_t* out, std::ptrdiff_t stride, const std::string& clock) const {
    for (int y = 0; y < kHeight; ++y)
        std::memcpy(out + y * stride, m_adjusted_pixels.data() + std::size_t(y) * kWidth, kWidth * 4);
    const Image image{out, kWidth, kHeight, stride};
    fill_rect(image, kClockBox.left, kClockBox.top, kClockBox.right, kClockBox.bottom, 0);
    const int scale = 4;
    const int x = kClockBox.left + (kClockBox.right - kClockBox.left - text_width(clock, scale)) / 2;
    draw_text(image, x, kClockBox.top + 10, clock, kText, scale);
    const int width = kClockBox.right - kClockBox.left;
    m_transform.apply(out + kClockBox.top * stride + kClockBox.left, width, kClockBox.bottom - kClockBox.top,
                      stride);
}

std::string clock_text(long long frame) {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec,
                  int(frame % 25));
    return text;
}

} // namespace adlink
