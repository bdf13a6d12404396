// SHA-1 and base64, as the WebSocket opening handshake needs them (not for anything that must be secret).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kavro {

std::array<std::uint8_t, 20> sha1(std::string_view data);
std::string base64(const std::uint8_t* data, std::size_t size);

} // namespace kavro
