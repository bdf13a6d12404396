// The conversation between the layout component and its worker process (kavro-layout), over a stream
// socket. Once Graphviz is loaded and warmed up the worker sends one byte, kReady; then each request = 4-byte length (little-endian) + DOT text; reply = 1 status byte (RenderStatus) +
// 4-byte length + the JPEG bytes (Ok) or the error message (otherwise).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavro::graphviz {

inline constexpr std::uint8_t kReady = 'R';
inline constexpr std::size_t kMaxRequestBytes = std::size_t(4) << 20; // DOT text
inline constexpr std::size_t kMaxReplyBytes = std::size_t(64) << 20;  // JPEG

inline void put_u32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
inline std::uint32_t get_u32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

} // namespace kavro::graphviz
