#include "filters/mesh/image_ppm.h"

#include "platform/ui/message_box.h"

#include <new>

namespace {

// Decimal digits up to the terminator; false on anything else, on the end of the file or past limit.
bool read_number(std::FILE* f, char terminator, int limit, int* value) {
    long long v = 0;
    int digits = 0;
    for (;;) {
        const int c = std::fgetc(f);
        if (c == EOF) return false;
        if (c == terminator) break;
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > limit) return false;
        ++digits;
    }
    if (digits == 0) return false;
    *value = int(v);
    return true;
}

} // namespace

void image_pnm::release() {
    m_pixels.reset();
    m_width = m_height = m_max = 0;
}

bool image_ppm::read(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        kavro::ui::message_box("Fichier introuvable", "Erreur", kavro::ui::MB_OK);
        return false;
    }
    const bool ok = read(f, path);
    std::fclose(f);
    return ok;
}

bool image_ppm::read(std::FILE* f, const std::string& name) {
    release();
    char magic[3];
    if (std::fread(magic, 1, 3, f) != 3 || magic[0] != 'P' || magic[1] != '6') {
        kavro::ui::message_box("Type du fichier différent de P6", "Erreur", kavro::ui::MB_OK);
        return false;
    }
    int w = 0, h = 0, max = 0;
    if (!read_number(f, ' ', kMaxSide, &w) || !read_number(f, '\n', kMaxSide, &h) ||
        !read_number(f, '\n', 65535, &max) || w == 0 || h == 0) {
        std::fprintf(stderr, "Mesh: %s: picture header is not \"P6 width height maximum\"\n", name.c_str());
        return false;
    }
    const std::size_t bytes = std::size_t(w) * std::size_t(h) * 3;
    std::unique_ptr<std::uint8_t[]> pixels(new (std::nothrow) std::uint8_t[bytes]);
    if (!pixels) {
        std::fprintf(stderr, "Mesh: %s: no memory for a %dx%d picture\n", name.c_str(), w, h);
        return false;
    }
    const std::size_t got = std::fread(pixels.get(), 1, bytes, f);
    if (got != bytes) {
        std::fprintf(stderr, "Mesh: %s: %zu of %zu picture bytes\n", name.c_str(), got, bytes);
        return false;
    }
    m_pixels = std::move(pixels);
    m_width = w;
    m_height = h;
    m_max = max;
    return true;
}
