// The system's JPEG calls: encoding pictures to memory or to a file, reading a JPEG's parameters, and
// decoding into a caller's buffer, on libjpeg-turbo.
//
// Pictures are described by their colour order (blue-green-red or red-green-blue, with or without a fourth
// padding byte), their row order (top-down or bottom-up) and their stride (bytes from one row to the next, at
// least the row's width in bytes; row padding is the caller's choice). Every call is thread-safe: each works on
// a libjpeg object of its own.
//
// Failures never crash and never leave a result that looks valid: corrupt or truncated input is an error
// (libjpeg's warnings, such as a premature end of data, count as errors here), and a picture that does not fit
// the caller's buffer is refused before anything is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kavro::jpeg {

enum class PixelFormat {
    bgr24,  // blue, green, red
    rgb24,  // red, green, blue
    bgrx32, // blue, green, red, padding (32-bit RGB as the video renderers use it)
    rgbx32, // red, green, blue, padding
};

// Bytes per pixel of a format.
int bytes_per_pixel(PixelFormat format) noexcept;

enum class Status {
    ok,
    bad_argument, // null pixels, non-positive size, a stride shorter than a row, a buffer smaller than the picture
    corrupt,      // not a JPEG, damaged or truncated data, too many progressive scans
    unsupported,  // a JPEG whose colours cannot be given in the requested format (e.g. CMYK)
    does_not_fit, // the picture is larger than the caller's buffer
    io_error,     // a file that cannot be read, written or renamed into place
};
const char* status_text(Status status) noexcept;

// A picture to encode. stride is the distance in bytes between the starts of two rows in memory order;
// it must be at least width * bytes_per_pixel(format). With bottom_up the first row in memory is the
// picture's last row.
struct ImageView {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
    PixelFormat format = PixelFormat::bgr24;
    bool bottom_up = false;
};

// A caller's buffer to decode into: size bytes at pixels, rows of stride bytes. The picture is written at the
// buffer's top-left corner (its first row is the first row in memory, or the last with bottom_up); bytes
// outside the picture are not touched. A padding byte of a 32-bit format is written as 0xFF.
struct Target {
    std::uint8_t* pixels = nullptr;
    std::size_t size = 0;
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
    PixelFormat format = PixelFormat::bgrx32;
    bool bottom_up = false;
    // Decode at scale_eighths / 8 of the picture's size (1..16, libjpeg's DCT scaling, far cheaper than
    // decoding whole and scaling after); the scaled size, scaled_size() of each side, is what must fit.
    int scale_eighths = 8;
};

// The size of one side of a picture decoded at eighths / 8 (rounded up, as the decoder does).
int scaled_size(int size, int eighths) noexcept;

// What a JPEG's header says: its size and its number of colour components (1 grey, 3 YCbCr/RGB, 4 CMYK).
struct Info {
    int width = 0;
    int height = 0;
    int channels = 0;
};

struct EncodeOptions {
    int quality = 75;          // 1..100; values outside are clamped
    bool subsample_420 = true; // 2 x 2 chroma subsampling (YCbCr 4:2:0); false keeps full chroma (4:4:4)
};

// Where a call may leave libjpeg's own message of a failure (optional).
using Detail = std::string;

// Encodes the picture as a baseline JFIF. On success out holds exactly the JPEG; on any failure out is
// empty and the status says why (bad_argument for a malformed view).
Status encode(const ImageView& image, const EncodeOptions& options, std::vector<std::uint8_t>& out,
              Detail* detail = nullptr);

// Encodes and writes the JPEG to path. The file is written beside the target and renamed over it, so a
// failure (io_error, or an encoding failure) leaves any previous file whole and no temporary file behind.
Status encode_file(const ImageView& image, const EncodeOptions& options, const std::string& path,
                   Detail* detail = nullptr);

// Reads the parameters from the JPEG's header. On failure info is left as it was.
Status read_info(std::span<const std::uint8_t> data, Info& info, Detail* detail = nullptr);
// Same for a file (io_error when it cannot be read).
Status read_info_file(const std::string& path, Info& info, Detail* detail = nullptr);

// Decodes the whole picture into target. info (optional) receives the header's parameters whenever they
// could be read, even when the decode then fails. Refused with does_not_fit (nothing written) when the picture
// is wider or taller than the target; with bad_argument (nothing written) when the target's stride or size
// cannot hold its own width and height. When decoding fails part-way (corrupt) the rows already written
// stay in the buffer: the caller must not use them.
Status decode(std::span<const std::uint8_t> data, const Target& target, Info* info = nullptr,
              Detail* detail = nullptr);
// Same for a file (io_error when it cannot be read).
Status decode_file(const std::string& path, const Target& target, Info* info = nullptr, Detail* detail = nullptr);

// Largest file the file calls read into memory (bytes); larger files are refused as io_error.
inline constexpr std::size_t kMaxFileSize = 64u << 20;

// Most scans a progressive JPEG may have; more is treated as corrupt (a crafted file could otherwise keep the
// decoder busy for minutes).
inline constexpr int kMaxScans = 500;

} // namespace kavro::jpeg
