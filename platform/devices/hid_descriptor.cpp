// Report lengths from a HID report descriptor: the bits of every Input and Output main item are added up per
// report identifier; the longest report of each kind, rounded up to bytes, plus the identifier byte.
#include "platform/devices/hid.h"

#include <algorithm>
#include <map>

namespace kavro::devices {

namespace {

struct Globals {
    std::uint32_t report_size = 0;
    std::uint32_t report_count = 0;
    std::uint32_t report_id = 0;
};

} // namespace

HidCaps caps_from_report_descriptor(const std::uint8_t* d, std::size_t size) {
    std::map<std::uint32_t, std::uint64_t> input_bits, output_bits;
    std::vector<Globals> stack;
    Globals g;
    bool numbered = false;
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t prefix = d[i++];
        if (prefix == 0xFE) { // long item: data size, tag, data
            if (i >= size) break;
            i += 2 + d[i];
            continue;
        }
        std::size_t n = prefix & 3u;
        if (n == 3) n = 4;
        if (i + n > size) break; // truncated descriptor: what was read so far counts
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < n; ++k) value |= static_cast<std::uint32_t>(d[i + k]) << (8 * k);
        i += n;
        const unsigned type = (prefix >> 2) & 3u;
        const unsigned tag = prefix >> 4;
        if (type == 0) { // main
            const std::uint64_t bits = static_cast<std::uint64_t>(g.report_size) * g.report_count;
            if (tag == 0x8) input_bits[g.report_id] += bits;
            else if (tag == 0x9) output_bits[g.report_id] += bits;
        } else if (type == 1) { // global
            switch (tag) {
            case 0x7: g.report_size = value; break;
            case 0x8:
                g.report_id = value;
                numbered = true;
                break;
            case 0x9: g.report_count = value; break;
            case 0xA: stack.push_back(g); break;
            case 0xB:
                if (!stack.empty()) {
                    g = stack.back();
                    stack.pop_back();
                }
                break;
            default: break;
            }
        }
    }
    auto longest = [](const std::map<std::uint32_t, std::uint64_t>& m) -> std::uint16_t {
        std::uint64_t bits = 0;
        for (auto& [id, b] : m) bits = std::max(bits, b);
        if (bits == 0) return 0;
        return static_cast<std::uint16_t>(std::min<std::uint64_t>((bits + 7) / 8 + 1, 0xFFFF));
    };
    return {longest(input_bits), longest(output_bits), numbered};
}

} // namespace kavro::devices
