// The map-feed request reader and the answer built from it, on arbitrary bytes.
#include "console/link/map_feed.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<char> request(data, data + size);
    kavro::console::MapRequest r;
    for (auto& robot : r.waypoints)
        for (float& w : robot) w = 7.0f;
    const int fields = kavro::console::parse_map_request(request.data(), request.size(), r);
    if (fields < 0 || fields > 36) std::abort();
    // Fields after the last one read keep their values.
    for (int f = fields; f < 36; ++f) {
        const int robot = f / 9, k = f % 9;
        if (k < 8 && r.waypoints[robot][k] != 7.0f) std::abort();
    }
    int modes[4] = {1, 2, 3, 0};
    float positions[4][2];
    for (int k = 0; k < 4; ++k) {
        positions[k][0] = r.waypoints[k][0];
        positions[k][1] = r.waypoints[k][1];
    }
    // Whatever came in, the answer is one piece of text ending in its zero byte.
    std::string answer = kavro::console::format_map_answer(modes, positions, r.waypoints[0][2], r.waypoints[0][3],
                                                           r.values[0], r.values[1]);
    if (answer.empty() || answer.back() != '\0' || answer.find('\0') != answer.size() - 1) std::abort();
    return 0;
}
