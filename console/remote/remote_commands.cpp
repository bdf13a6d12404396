#include "console/remote/remote_commands.h"

#include "util/log_limit.h"
#include "util/text_split.h"

#include <cmath>

namespace kavro::console {

namespace {

constexpr std::size_t kLayoutTokens = 74;             // command, 72 pane values, overlay alpha
constexpr std::size_t kLayoutWithSensorTokens = 122;  // and 4 x 12 sensor values
constexpr std::size_t kAdjustTokens = 6;
constexpr int kCardInputs = 8;

void read_pane(const TextTokens& t, std::size_t first, CompositePane& p) {
    p.left = t.as_float(first);
    p.top = t.as_float(first + 1);
    p.right = t.as_float(first + 2);
    p.bottom = t.as_float(first + 3);
    p.alpha = t.as_float(first + 4);
    p.z = t.as_int(first + 5);
}

RemoteCommand layout(const TextTokens& t, RemoteCommandTarget& target, LogLimit& log) {
    if (t.count() < kLayoutTokens) {
        log.write("InterfaceKAVRO: layout message of %zu tokens ignored (74 needed)", t.count());
        return RemoteCommand::refused;
    }
    const float overlay_alpha = t.as_float(73);
    if (overlay_alpha != 0.0f && t.count() < kLayoutWithSensorTokens) {
        log.write("InterfaceKAVRO: layout message of %zu tokens with an overlay ignored (122 needed)", t.count());
        return RemoteCommand::refused;
    }
    CompositePane panes[kConsolePanes];
    for (int k = 0; k < 4; ++k) read_pane(t, 1 + 6 * std::size_t(k), panes[k]);
    for (int k = 4; k < 8; ++k) read_pane(t, 49 + 6 * std::size_t(k - 4), panes[k]);
    // Values the renderer refuses would release the whole video: such a message is refused here instead.
    bool usable = std::isfinite(overlay_alpha) && overlay_alpha >= 0.0f && overlay_alpha <= 1.0f;
    for (const CompositePane& p : panes)
        usable = usable && std::isfinite(p.left) && std::isfinite(p.top) && std::isfinite(p.right) &&
                 std::isfinite(p.bottom) && std::isfinite(p.alpha) && p.alpha >= 0.0f && p.alpha <= 1.0f;
    if (!usable) {
        log.write("InterfaceKAVRO: layout message ignored (a value is not a number, or an alpha outside 0..1)");
        return RemoteCommand::refused;
    }
    std::int32_t sensor[4][12] = {};
    if (overlay_alpha != 0.0f)
        for (std::size_t r = 0; r < 4; ++r)
            for (std::size_t i = 0; i < 12; ++i) sensor[r][i] = t.as_int(74 + 12 * r + i);
    target.layout(panes, overlay_alpha, overlay_alpha != 0.0f ? &sensor : nullptr);
    return RemoteCommand::layout;
}

RemoteCommand adjust(const TextTokens& t, RemoteCommandTarget& target, LogLimit& log) {
    const std::int32_t input = t.as_int(1);
    if (t.count() < kAdjustTokens || input < 1 || input > kCardInputs) {
        log.write("InterfaceKAVRO: picture adjustment ignored (input 1..8 and four values needed)");
        return RemoteCommand::refused;
    }
    const std::int32_t values[4] = {t.as_int(2), t.as_int(3), t.as_int(4), t.as_int(5)};
    target.adjust(input, values);
    return RemoteCommand::adjust;
}

RemoteCommand save(const TextTokens& t, RemoteCommandTarget& target, LogLimit& log) {
    const std::string name = remote_save_name(t.token(1));
    if (!is_plain_file_name(name, kMaxLayoutFileName)) {
        log.write("InterfaceKAVRO: save name refused: not a plain file name of at most %zu characters",
                  kMaxLayoutFileName);
        return RemoteCommand::refused;
    }
    target.save(name);
    return RemoteCommand::save;
}

} // namespace

std::string remote_save_name(std::string_view token) {
    while (!token.empty() && (token.back() == ' ' || token.back() == '\n' || token.back() == '\r'))
        token.remove_suffix(1);
    for (char c : token)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return {};
    return std::string(token);
}

RemoteCommand handle_remote_datagram(const char* data, std::size_t size, RemoteCommandTarget& target, LogLimit& log) {
    const TextTokens t(data, size);
    switch (t.as_int(0)) {
    case 1: return save(t, target, log);
    case 2: return layout(t, target, log);
    case 3: return adjust(t, target, log);
    case -2: target.shut_down(); return RemoteCommand::shut_down;
    case -1: target.close(); return RemoteCommand::close;
    default: return RemoteCommand::ignored;
    }
}

} // namespace kavro::console
