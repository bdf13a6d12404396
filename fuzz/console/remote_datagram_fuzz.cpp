// The remote-control datagram handler on any bytes: it never reads past the datagram (ASan), hands on only
// plain save names within the length limit, and pane values only from layouts of enough tokens, finite and
// with alphas in 0..1.
#include "console/remote/remote_commands.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Checker : kavro::console::RemoteCommandTarget {
    void save(const std::string& name) override {
        if (!kavro::is_plain_file_name(name, kavro::kMaxLayoutFileName)) std::abort();
        for (char c : name)
            if (static_cast<unsigned char>(c) < 0x20) std::abort();
    }
    void layout(const kavro::CompositePane (&panes)[kavro::kConsolePanes], float overlay,
                const kavro::console::RemoteSensorRows* sensor) override {
        volatile float sum = overlay;
        for (const auto& p : panes) {
            if (!(p.alpha >= 0.0f && p.alpha <= 1.0f) || !std::isfinite(p.left) || !std::isfinite(p.top) ||
                !std::isfinite(p.right) || !std::isfinite(p.bottom))
                std::abort();
            sum = sum + p.left + p.top + p.right + p.bottom + p.alpha + float(p.z);
        }
        if ((overlay != 0.0f) != (sensor != nullptr)) std::abort();
        if (sensor) {
            volatile std::int64_t s = 0;  // every value is read (48 values of 32 bits cannot overflow it)
            for (const auto& row : *sensor)
                for (std::int32_t v : row) s = s + v;
        }
    }
    void adjust(int input, const std::int32_t (&)[4]) override {
        if (input < 1 || input > 8) std::abort();
    }
    void shut_down() override {}
    void close() override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1000) return 0;  // the listener never receives more
    // A copy of exactly the datagram's length, so that any read past it is caught.
    char* copy = static_cast<char*>(std::malloc(size ? size : 1));
    if (size) std::memcpy(copy, data, size);
    Checker checker;
    static kavro::LogLimit log;
    kavro::console::handle_remote_datagram(copy, size, checker, log);
    std::free(copy);
    return 0;
}
