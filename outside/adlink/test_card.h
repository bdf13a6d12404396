// The picture of a capture card input with no camera: colour bars, a grey ramp, the card and input named in
// large letters, optional lines under them (e.g. "NO SIGNAL /dev/video0") and a running clock.
// The card is drawn once; each frame copies it and redraws only the clock box, so an input costs one copy a
// frame. The picture adjustments apply to the card once per change and to the clock box each frame.
#pragma once

#include "outside/adlink/picture_adjust.h"

#include <cstdint>
#include <string>
#include <vector>

namespace adlink {

inline constexpr int kWidth = 768;
inline constexpr int kHeight = 576;
inline constexpr int kFrameBytes = kWidth * kHeight * 4;

// Where the clock is drawn (pixels, right and bottom excluded); everything outside it is the same each frame.
struct Box {
    int left, top, right, bottom;
};
inline constexpr Box kClockBox{224, 480, 544, 528};

class TestCard {
public:
    // card 1 or 2, input 1..8 as operators count them.
    TestCard(int card, int input, std::string line = {});

    // Recomputes the adjusted card when the adjustments changed since the last call.
    void set_adjustments(const Adjustments& a);
    // One frame into `out` (kWidth x kHeight, `stride` pixels a row) with the clock showing `clock`
    // (e.g. "12:34:56:07").
    void render(std::uint32_t* out, std::ptrdiff_t stride, const std::string& clock) const;
    // Changes the line under the names (redraws the card).
    void set_line(const std::string& line);

private:
    void draw();

    int m_card, m_input;
    std::string m_line;
    Adjustments m_adjustments;
    ColourTransform m_transform;
    std::vector<std::uint32_t> m_card_pixels;     // as drawn
    std::vector<std::uint32_t> m_adjusted_pixels; // with the adjustments
};

// "HH:MM:SS:FF": local wall-clock time and the frame within the second at 25 frames a second.
std::string clock_text(long long frame);

} // namespace adlink
