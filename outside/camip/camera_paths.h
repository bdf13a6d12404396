// Where a network camera's MJPEG stream is found: the HTTP path of each stream kind the console passes
// (1 "ZOOM", 2 "MJPEG", 3 "MPEG4"), and the URL built from the camera's address, port and kind.
//
// The paths can be changed without rebuilding, for cameras that serve their streams elsewhere:
//   KAVRO_CAMERA_PATH_ZOOM, KAVRO_CAMERA_PATH_MJPEG, KAVRO_CAMERA_PATH_MPEG4   a path for every camera of a kind
//   KAVRO_CAMIP1_URL .. KAVRO_CAMIP4_URL                                      the whole URL of one camera
//                                                                             (e.g. with user:password@)
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace camip {

// The built-in paths, which the camera simulator serves.
inline constexpr const char* kDefaultZoomPath = "/zoom.mjpg";
inline constexpr const char* kDefaultMjpegPath = "/video.mjpg";
inline constexpr const char* kDefaultMpeg4Path = "/mpeg4.mjpg";
// A single JPEG picture of the camera.
inline constexpr const char* kSnapshotPath = "/image.jpg";

// The name of a kind ("ZOOM", "MJPEG", "MPEG4"), or nullptr for another number.
const char* kind_name(std::int32_t kind);

// The path of a kind: the environment's setting when present, else the built-in one; nothing for another kind.
// getenv is passed in so that tests can give their own environment.
using Getenv = const char* (*)(const char*);
std::optional<std::string> kind_path(std::int32_t kind, Getenv getenv);

// "http://a.b.c.d:port/path" for camera n (1..4), or the camera's whole-URL setting when present.
// An empty string for address 0.0.0.0 or port 0 (the console's "no camera").
std::string camera_url(int camera, std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, int port,
                       const std::string& path, Getenv getenv);

} // namespace camip
