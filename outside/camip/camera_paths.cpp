#include "outside/camip/camera_paths.h"

namespace camip {

const char* kind_name(std::int32_t kind) {
    switch (kind) {
    case 1: return "ZOOM";
    case 2: return "MJPEG";
    case 3: return "MPEG4";
    default: return nullptr;
    }
}

std::optional<std::string> kind_path(std::int32_t kind, Getenv getenv) {
    const char* name = kind_name(kind);
    if (!name) return std::nullopt;
    const std::string variable = std::string("KAVRO_CAMERA_PATH_") + name;
    if (const char* set = getenv(variable.c_str()); set && set[0] == '/') return std::string(set);
    return std::string(kind == 1 ? kDefaultZoomPath : kind == 2 ? kDefaultMjpegPath : kDefaultMpeg4Path);
}

std::string camera_url(int camera, std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, int port,
                       const std::string& path, Getenv getenv) {
    const std::string variable = "KAVRO_CAMIP" + std::to_string(camera) + "_URL";
    if (const char* set = getenv(variable.c_str()); set && set[0]) return set;
    if ((a | b | c | d) == 0 || port <= 0) return {};
    return "http://" + std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." +
           std::to_string(d) + ":" + std::to_string(port) + path;
}

} // namespace camip
