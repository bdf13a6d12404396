// Snapshots of the mixer views: a renderer's current image (a 32-bit device-independent bitmap) written as a
// 24-bit JPEG of quality 75, and the archive of the previous run's snapshot files.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace kavro::console {

// The largest picture a snapshot holds; a larger image is scaled down to fit, keeping its proportions.
inline constexpr int kSnapshotMaxWidth = 768;
inline constexpr int kSnapshotMaxHeight = 576;
inline constexpr int kSnapshotQuality = 75;

enum class SnapshotImageResult {
    written,
    not_32_bit,  // the image has another depth: the command ends without a word
    malformed,   // a header that does not describe the bytes that follow (size, planes, compression)
    write_failed,
};

// Writes `dib` (the 40-byte BITMAPINFOHEADER followed by the pixels; rows bottom-up for a positive height,
// top-down for a negative one; 4 bytes a pixel in blue, green, red, unused order) to `file` as a JPEG: blue,
// green and red of each pixel, rows without gaps, YCbCr with 2 x 2 chroma subsampling, quality 75. An image
// larger than 768 x 576 is scaled down by nearest pixel to fit inside it, keeping its proportions. `detail`
// receives a sentence for the log when the result is not `written`.
SnapshotImageResult write_snapshot_jpeg(const std::vector<std::uint8_t>& dib, const std::filesystem::path& file,
                                        std::string* detail = nullptr);

// Moves every "*.jpg" file of `folder` into its sub-folder "save_YYYYMMDD_hhmmss" named after `local_time`
// (made when needed, an existing one is used). A file that cannot be moved (its name is taken there) stays.
// Nothing is made when there is no such file. Answers the number of files moved.
int archive_snapshots(const std::filesystem::path& folder, const std::tm& local_time);

// "save_%04d%02d%02d_%02d%02d%02d" for the time.
std::string archive_folder_name(const std::tm& local_time);

} // namespace kavro::console
