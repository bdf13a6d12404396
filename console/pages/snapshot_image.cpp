#include "console/pages/snapshot_image.h"

#include "platform/jpeg/jpeg.h"
#include "platform/sys/paths.h"

#include <cstdio>
#include <cstring>
#include <system_error>

namespace kavro::console {

namespace {

constexpr std::size_t kHeaderSize = 40;

std::uint32_t u32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::uint16_t u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

void say(std::string* detail, std::string text) {
    if (detail) *detail = std::move(text);
}

// The size of the snapshot picture for a w x h image: itself when it fits, else scaled to touch the limit.
void fitted_size(int w, int h, int& out_w, int& out_h) {
    out_w = w;
    out_h = h;
    if (w <= kSnapshotMaxWidth && h <= kSnapshotMaxHeight) return;
    if (std::int64_t(w) * kSnapshotMaxHeight >= std::int64_t(h) * kSnapshotMaxWidth) {
        out_w = kSnapshotMaxWidth;
        out_h = static_cast<int>(std::int64_t(h) * kSnapshotMaxWidth / w);
    } else {
        out_h = kSnapshotMaxHeight;
        out_w = static_cast<int>(std::int64_t(w) * kSnapshotMaxHeight / h);
    }
    if (out_w < 1) out_w = 1;
    if (out_h < 1) out_h = 1;
}

} // namespace

SnapshotImageResult write_snapshot_jpeg(const std::vector<std::uint8_t>& dib, const std::filesystem::path& file,
                                        std::string* detail) {
    if (dib.size() < kHeaderSize || u32(dib.data()) < kHeaderSize) {
        say(detail, "the image has no bitmap header");
        return SnapshotImageResult::malformed;
    }
    const std::uint8_t* h = dib.data();
    const std::int32_t width = static_cast<std::int32_t>(u32(h + 4));
    const std::int32_t height_field = static_cast<std::int32_t>(u32(h + 8));
    const unsigned bits = u16(h + 14);
    const std::uint32_t compression = u32(h + 16);
    if (bits != 32) {
        say(detail, "the image has " + std::to_string(bits) + " bits a pixel, not 32");
        return SnapshotImageResult::not_32_bit;
    }
    // BI_RGB (0) or BI_BITFIELDS (3, with its three masks after the header) in the renderers' default order.
    const std::size_t masks = compression == 3 ? 12 : 0;
    if ((compression != 0 && compression != 3) || width <= 0 || height_field == 0 ||
        height_field == INT32_MIN) {
        say(detail, "the image header describes no picture");
        return SnapshotImageResult::malformed;
    }
    const bool bottom_up = height_field > 0;
    const int w = width;
    const int hgt = bottom_up ? height_field : -height_field;
    const std::size_t offset = u32(h) + masks;
    const std::size_t row = std::size_t(w) * 4;
    if (offset > dib.size() || (dib.size() - offset) / row < std::size_t(hgt)) {
        say(detail, "the image holds fewer pixels than its header says");
        return SnapshotImageResult::malformed;
    }
    const std::uint8_t* pixels = dib.data() + offset;

    int out_w = 0, out_h = 0;
    fitted_size(w, hgt, out_w, out_h);
    // The 24-bit copy: blue, green, red of each pixel, rows in the image's memory order and without gaps.
    std::vector<std::uint8_t> bgr(std::size_t(out_w) * std::size_t(out_h) * 3);
    for (int y = 0; y < out_h; ++y) {
        const std::size_t sy = std::size_t(std::int64_t(y) * hgt / out_h);
        const std::uint8_t* src = pixels + sy * row;
        std::uint8_t* dst = bgr.data() + std::size_t(y) * std::size_t(out_w) * 3;
        for (int x = 0; x < out_w; ++x) {
            const std::size_t sx = std::size_t(std::int64_t(x) * w / out_w);
            std::memcpy(dst + std::size_t(x) * 3, src + sx * 4, 3);
        }
    }
    jpeg::ImageView view{bgr.data(), out_w, out_h, std::size_t(out_w) * 3, jpeg::PixelFormat::bgr24, bottom_up};
    jpeg::Detail why;
    const jpeg::Status st = jpeg::encode_file(view, jpeg::EncodeOptions{kSnapshotQuality, true}, file.string(), &why);
    if (st != jpeg::Status::ok) {
        say(detail, std::string(jpeg::status_text(st)) + (why.empty() ? "" : ": " + why));
        return SnapshotImageResult::write_failed;
    }
    return SnapshotImageResult::written;
}

std::string archive_folder_name(const std::tm& t) {
    char name[64];
    std::snprintf(name, sizeof name, "save_%04d%02d%02d_%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return name;
}

int archive_snapshots(const std::filesystem::path& folder, const std::tm& local_time) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> found;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        if (p.extension() == ".jpg" && it->is_regular_file(ec)) found.push_back(p);
    }
    if (found.empty()) return 0;
    const fs::path archive = folder / archive_folder_name(local_time);
    fs::create_directories(archive, ec);
    int moved = 0;
    for (const fs::path& p : found) {
        if (sys::move_file(p, archive / p.filename(), 0, ec)) {
            ++moved;
        } else {
            std::fprintf(stderr, "InterfaceKAVRO: snapshot %s stays where it is (%s)\n", p.string().c_str(),
                         ec.message().c_str());
        }
    }
    return moved;
}

} // namespace kavro::console
