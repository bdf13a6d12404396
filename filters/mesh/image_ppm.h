// Picture files: the default picture of the mesh filter is a raw PPM ("P6") file whose pixel bytes are
// taken unchanged as blue, green, red.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class image_pnm {
public:
    virtual ~image_pnm() = default;

    int width() const { return m_width; }
    int height() const { return m_height; }
    int max_value() const { return m_max; }
    // width x height x 3 bytes, rows packed, top row first; null when no picture was read.
    const std::uint8_t* pixels() const { return m_pixels.get(); }
    bool empty() const { return !m_pixels; }
    void release();

protected:
    int m_width = 0;
    int m_height = 0;
    int m_max = 0;
    std::unique_ptr<std::uint8_t[]> m_pixels;
};

class image_ppm : public image_pnm {
public:
    // Largest side accepted from a header: a damaged header must not ask for gigabytes.
    static constexpr int kMaxSide = 8192;

    // Reads the raw PPM file at path. A file that cannot be opened: message box "Fichier introuvable"; a file
    // that does not begin with "P6": "Type du fichier différent de P6" (caption "Erreur" for both). The
    // header is "P6", one byte, the width up to a space, the height up to a line feed, the maximum sample
    // value up to a line feed. A header that ends early or holds anything else, or pixel data shorter than
    // the header says, is reported on stderr. On every failure the result is false and no picture is held.
    bool read(const std::string& path);
    // The same from an open stream (not closed here); name is used in the messages.
    bool read(std::FILE* file, const std::string& name);
};
