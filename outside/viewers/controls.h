// Helpers of the viewer controls that the tests reach through the linked objects.
#pragma once

#include "outside/camip/camera_paths.h"

#include <cstdint>
#include <filesystem>
#include <vector>

struct ICameraViewer;

namespace viewers {

class CameraPlayer;

// The camera kinds, numbered as the console numbers them.
enum class Kind { Zoom = 1, Mjpeg = 2, Mpeg4 = 3 };

// Writes the bytes beside the file and renames them over it, creating the folder when needed: a reader never
// sees half a file.
bool write_file_whole(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);

// The player inside a control of this library (tests only).
CameraPlayer* player_of(ICameraViewer* control);

} // namespace viewers
