// The four picture adjustments of one capture card input and the colour transform they make.
//
// Each adjustment is a value 0..254 with 127 as "leave the picture as it is":
// - brightness adds (v - 127) * 128 / 127 to every channel (-128..+128),
// - contrast scales the picture around mid grey 128 by v / 127 (0 flat grey .. 2),
// - saturation scales the colour away from grey by v / 127 (0 black and white .. 2),
// - hue turns the colour around the grey axis by (v - 127) / 127 x 180 degrees.
// Together they are one affine map of (R, G, B), worked out once per change and applied in fixed point.
#pragma once

#include <cstddef>
#include <cstdint>

namespace adlink {

inline constexpr int kNeutral = 127;
inline constexpr int kMaxAdjustment = 254;

struct Adjustments {
    int brightness = kNeutral;
    int contrast = kNeutral;
    int saturation = kNeutral;
    int hue = kNeutral;

    bool neutral() const {
        return brightness == kNeutral && contrast == kNeutral && saturation == kNeutral && hue == kNeutral;
    }
    friend bool operator==(const Adjustments&, const Adjustments&) = default;
};

// Values outside 0..254 are taken as the nearest end.
int clamp_adjustment(std::int32_t value);

class ColourTransform {
public:
    ColourTransform() = default; // the identity
    explicit ColourTransform(const Adjustments& a);

    bool identity() const { return m_identity; }
    // Applies the transform in place to `width` x `height` pixels 0x00RRGGBB, `stride` pixels a row. The
    // identity leaves the pixels untouched.
    void apply(std::uint32_t* pixels, int width, int height, std::ptrdiff_t stride) const;
    std::uint32_t apply(std::uint32_t pixel) const;

private:
    static constexpr int kShift = 16;
    bool m_identity = true;
    std::int32_t m_matrix[3][3] = {{1 << kShift, 0, 0}, {0, 1 << kShift, 0}, {0, 0, 1 << kShift}};
    std::int32_t m_offset[3] = {0, 0, 0}; // with the rounding half already added
};

} // namespace adlink
