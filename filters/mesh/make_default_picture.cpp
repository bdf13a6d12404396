// kavro-mesh-picture OUT.ppm: draws the mesh filter's default picture (Images/mesh.ppm), the 768 x 576
// frame shown while no topology has been drawn. Drawn with the same Graphviz, JPEG and fitting code as the
// topology pictures; grey on white, so the file reads the same in either colour order.
#include "filters/mesh/fit.h"
#include "platform/graphviz/render.h"
#include "platform/jpeg/jpeg.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kPicture = R"(digraph nothing {
  graph [bgcolor=white, pad=0.3, nodesep=0.8, ranksep=0.5, size="7.6,5.7"];
  node [shape=circle, style=dashed, color="#9a9a9a", fontcolor="#9a9a9a", fontname="Helvetica", fontsize=18,
        label="?", width=0.7, fixedsize=true];
  edge [dir=none, style=dashed, color="#9a9a9a"];
  a -> b; a -> c; b -> c;
  text [shape=plaintext, style=solid, fixedsize=false, fontcolor="#303030", label=<
    <FONT POINT-SIZE="30">No mesh topology yet</FONT><BR/><BR/>
    <FONT POINT-SIZE="16">Waiting for the mesh topology service</FONT>>];
  b -> text [style=invis]; c -> text [style=invis];
}
)";

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kavro-mesh-picture OUT.ppm\n");
        return 2;
    }
    std::string jpeg, message;
    if (kavro::graphviz::render_jpeg(kPicture, &jpeg, &message) != kavro::graphviz::RenderStatus::Ok) {
        std::fprintf(stderr, "kavro-mesh-picture: %s\n", message.c_str());
        return 1;
    }
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size());
    kavro::jpeg::Info info;
    if (kavro::jpeg::read_info(data, info) != kavro::jpeg::Status::ok) return 1;
    std::vector<std::uint8_t> pixels(std::size_t(info.width) * info.height * 3);
    kavro::jpeg::Target target{pixels.data(), pixels.size(), info.width, info.height, std::size_t(info.width) * 3,
                               kavro::jpeg::PixelFormat::bgr24, false};
    if (kavro::jpeg::decode(data, target) != kavro::jpeg::Status::ok) return 1;
    // Graphviz's JPEG drawings end with a grey last column and row: the picture's edge is white here.
    const std::size_t row = std::size_t(info.width) * 3;
    for (int y = 0; y < info.height; ++y) std::memset(pixels.data() + y * row + row - 3, 255, 3);
    std::memset(pixels.data() + (info.height - 1) * row, 255, row);
    std::vector<std::uint8_t> frame(mesh::kFrameBytes);
    mesh::fit_picture(pixels.data(), info.width, info.height, frame.data());
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out, "P6\n%d %d\n255\n", mesh::kFrameWidth, mesh::kFrameHeight);
    const bool ok = std::fwrite(frame.data(), 1, frame.size(), out) == frame.size();
    return std::fclose(out) == 0 && ok ? 0 : 1;
}
