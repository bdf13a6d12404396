// A camera's frame as the viewer controls take it: any bytes decoded (or refused) and scaled into a small pane,
// filling it and keeping proportions. Whatever the bytes, the pane picture is exactly the pane's size.
#include "outside/viewers/player.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int width = 1 + data[0] % 64, height = 1 + data[1] % 48;
    std::vector<std::uint32_t> out;
    for (bool stretch : {true, false}) {
        if (viewers::draw_jpeg({data + 2, size - 2}, width, height, stretch, out) &&
            out.size() != std::size_t(width) * std::size_t(height))
            std::abort();
    }
    return 0;
}
