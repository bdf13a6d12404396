// JPEG encoding and decoding on libjpeg's own interface. libjpeg reports errors by calling a handler that
// must not return; here it jumps back to the call, which destroys the libjpeg object and reports the error.
// The functions that set the jump point hold only plain C data, so no destructor is skipped by the jump.
#include "platform/jpeg/jpeg.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <jpeglib.h>

namespace kavro::jpeg {

namespace {

struct ErrorState {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void on_error(j_common_ptr cinfo) {
    auto* state = reinterpret_cast<ErrorState*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, state->message);
    std::longjmp(state->jump, 1);
}

// Warnings (level -1) mean damaged data: a premature end, a corrupt marker, bad Huffman codes. They end the
// call as errors; trace messages (level >= 0) are ignored.
void on_message(j_common_ptr cinfo, int level) {
    if (level < 0) on_error(cinfo);
}

void on_progress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) {
        auto* state = reinterpret_cast<ErrorState*>(cinfo->err);
        std::snprintf(state->message, sizeof state->message, "more than %d scans", kMaxScans);
        std::longjmp(state->jump, 1);
    }
}

void init_errors(ErrorState& state) {
    jpeg_std_error(&state.pub);
    state.pub.error_exit = on_error;
    state.pub.emit_message = on_message;
    state.message[0] = '\0';
}

Status fail(Status status, const char* message, Detail* detail) {
    if (detail) *detail = message;
    return status;
}

J_COLOR_SPACE colour_space(PixelFormat format) {
    switch (format) {
    case PixelFormat::bgr24: return JCS_EXT_BGR;
    case PixelFormat::rgb24: return JCS_EXT_RGB;
    case PixelFormat::bgrx32: return JCS_EXT_BGRA; // same layout as BGRX; the fourth byte is written as 0xFF
    case PixelFormat::rgbx32: return JCS_EXT_RGBA;
    }
    return JCS_UNKNOWN;
}

bool valid_format(PixelFormat format) {
    return format == PixelFormat::bgr24 || format == PixelFormat::rgb24 || format == PixelFormat::bgrx32 ||
           format == PixelFormat::rgbx32;
}

// Whether width x height pixels with this stride lie inside size bytes.
bool layout_fits(int width, int height, std::size_t stride, std::size_t size, PixelFormat format) {
    if (width <= 0 || height <= 0 || !valid_format(format)) return false;
    const std::size_t row = static_cast<std::size_t>(width) * static_cast<std::size_t>(bytes_per_pixel(format));
    if (stride < row) return false;
    const std::size_t rows = static_cast<std::size_t>(height) - 1;
    if (rows != 0 && stride > (SIZE_MAX - row) / rows) return false;
    return rows * stride + row <= size;
}

// Memory destination: malloc'd by libjpeg through jpeg_mem_dest, freed here on every path.
struct MemoryDest {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
};

Status encode_raw(const ImageView& image, int quality, bool subsample_420, MemoryDest& dest, char* message) {
    jpeg_compress_struct cinfo;
    ErrorState errors;
    cinfo.err = &errors.pub;
    init_errors(errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::memcpy(message, errors.message, sizeof errors.message);
        return Status::corrupt;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &dest.buffer, &dest.size);
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    cinfo.input_components = bytes_per_pixel(image.format);
    cinfo.in_color_space = image.format == PixelFormat::bgrx32   ? JCS_EXT_BGRX
                           : image.format == PixelFormat::rgbx32 ? JCS_EXT_RGBX
                                                                 : colour_space(image.format);
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
    if (!subsample_420) {
        cinfo.comp_info[0].h_samp_factor = 1;
        cinfo.comp_info[0].v_samp_factor = 1;
    }
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[16];
    while (cinfo.next_scanline < cinfo.image_height) {
        JDIMENSION n = 0;
        for (; n < 16 && cinfo.next_scanline + n < cinfo.image_height; ++n) {
            const std::size_t y = cinfo.next_scanline + n;
            const std::size_t mem_row = image.bottom_up ? static_cast<std::size_t>(image.height) - 1 - y : y;
            rows[n] = const_cast<JSAMPROW>(image.pixels + mem_row * image.stride);
        }
        jpeg_write_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return Status::ok;
}

Status decode_raw(const std::uint8_t* data, std::size_t size, const Target* target, Info* info, char* message) {
    jpeg_decompress_struct cinfo;
    ErrorState errors;
    jpeg_progress_mgr progress;
    cinfo.err = &errors.pub;
    init_errors(errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::memcpy(message, errors.message, sizeof errors.message);
        return Status::corrupt;
    }
    jpeg_create_decompress(&cinfo);
    progress.progress_monitor = on_progress;
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    if (info) *info = Info{static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height),
                           cinfo.num_components};
    if (!target) {
        jpeg_destroy_decompress(&cinfo);
        return Status::ok;
    }
    cinfo.scale_num = static_cast<unsigned>(target->scale_eighths);
    cinfo.scale_denom = 8;
    jpeg_calc_output_dimensions(&cinfo);
    const int width = static_cast<int>(cinfo.output_width), height = static_cast<int>(cinfo.output_height);
    Status refused = Status::ok;
    if (width > target->width || height > target->height)
        refused = Status::does_not_fit;
    else if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK)
        refused = Status::unsupported;
    if (refused != Status::ok) {
        jpeg_destroy_decompress(&cinfo);
        return refused;
    }
    cinfo.out_color_space = colour_space(target->format);
    jpeg_start_decompress(&cinfo);
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
        JDIMENSION n = 0;
        for (; n < 16 && cinfo.output_scanline + n < cinfo.output_height; ++n) {
            const std::size_t y = cinfo.output_scanline + n;
            const std::size_t mem_row = target->bottom_up ? static_cast<std::size_t>(target->height) - 1 - y : y;
            rows[n] = target->pixels + mem_row * target->stride;
        }
        jpeg_read_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return Status::ok;
}

Status read_file(const std::string& path, std::vector<std::uint8_t>& bytes, Detail* detail) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return fail(Status::io_error, std::strerror(errno), detail);
    bytes.clear();
    std::uint8_t chunk[65536];
    std::size_t n = 0;
    bool too_large = false;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (bytes.size() + n > kMaxFileSize) {
            too_large = true;
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    const bool error = std::ferror(f) != 0;
    std::fclose(f);
    if (too_large) return fail(Status::io_error, "file too large", detail);
    if (error) return fail(Status::io_error, "read error", detail);
    return Status::ok;
}

bool valid_view(const ImageView& image) {
    return image.pixels && layout_fits(image.width, image.height, image.stride,
                                       SIZE_MAX, image.format) &&
           image.width <= JPEG_MAX_DIMENSION && image.height <= JPEG_MAX_DIMENSION;
}

} // namespace

int bytes_per_pixel(PixelFormat format) noexcept {
    return format == PixelFormat::bgrx32 || format == PixelFormat::rgbx32 ? 4 : 3;
}

const char* status_text(Status status) noexcept {
    switch (status) {
    case Status::ok: return "ok";
    case Status::bad_argument: return "bad argument";
    case Status::corrupt: return "corrupt or truncated JPEG data";
    case Status::unsupported: return "unsupported JPEG colour space";
    case Status::does_not_fit: return "picture larger than the buffer";
    case Status::io_error: return "file error";
    }
    return "unknown";
}

Status encode(const ImageView& image, const EncodeOptions& options, std::vector<std::uint8_t>& out, Detail* detail) {
    out.clear();
    if (!valid_view(image)) return fail(Status::bad_argument, "invalid picture description", detail);
    MemoryDest dest;
    char message[JMSG_LENGTH_MAX] = {};
    const Status status = encode_raw(image, options.quality, options.subsample_420, dest, message);
    if (status == Status::ok) out.assign(dest.buffer, dest.buffer + dest.size);
    std::free(dest.buffer);
    if (status != Status::ok) return fail(status, message, detail);
    return Status::ok;
}

Status encode_file(const ImageView& image, const EncodeOptions& options, const std::string& path, Detail* detail) {
    std::vector<std::uint8_t> bytes;
    if (const Status s = encode(image, options, bytes, detail); s != Status::ok) return s;
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return fail(Status::io_error, std::strerror(errno), detail);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    const int write_errno = errno;
    const bool closed = ::close(fd) == 0;
    if (written != bytes.size() || !closed) {
        ::unlink(temp.c_str());
        return fail(Status::io_error, std::strerror(write_errno), detail);
    }
    ::chmod(temp.c_str(), 0644); // mkstemp creates the file readable by its owner only
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        ::unlink(temp.c_str());
        return fail(Status::io_error, std::strerror(e), detail);
    }
    return Status::ok;
}

Status read_info(std::span<const std::uint8_t> data, Info& info, Detail* detail) {
    char message[JMSG_LENGTH_MAX] = {};
    Info read;
    const Status status = decode_raw(data.data(), data.size(), nullptr, &read, message);
    if (status != Status::ok) return fail(status, message, detail);
    info = read;
    return Status::ok;
}

Status read_info_file(const std::string& path, Info& info, Detail* detail) {
    std::vector<std::uint8_t> bytes;
    if (const Status s = read_file(path, bytes, detail); s != Status::ok) return s;
    return read_info(bytes, info, detail);
}

int scaled_size(int size, int eighths) noexcept {
    return static_cast<int>((static_cast<long long>(size) * eighths + 7) / 8);
}

Status decode(std::span<const std::uint8_t> data, const Target& target, Info* info, Detail* detail) {
    if (target.scale_eighths < 1 || target.scale_eighths > 16)
        return fail(Status::bad_argument, "scale out of range", detail);
    if (!target.pixels || !layout_fits(target.width, target.height, target.stride, target.size, target.format))
        return fail(Status::bad_argument, "invalid target buffer", detail);
    char message[JMSG_LENGTH_MAX] = {};
    const Status status = decode_raw(data.data(), data.size(), &target, info, message);
    if (status != Status::ok) return fail(status, message[0] ? message : status_text(status), detail);
    return Status::ok;
}

Status decode_file(const std::string& path, const Target& target, Info* info, Detail* detail) {
    std::vector<std::uint8_t> bytes;
    if (const Status s = read_file(path, bytes, detail); s != Status::ok) return s;
    return decode(bytes, target, info, detail);
}

} // namespace kavro::jpeg
