// The remote-control port's commands: one plain-text datagram, split into blank-ended tokens, the first
// token's number choosing the command. No reply is ever sent.
//
//    1 NAME            save the current configuration as ./configs/NAME
//    2 ...             the composite layout (tokens 1..24 panes 0..3, 49..72 panes 4..7, six each: left, top,
//                      right, bottom, alpha, z), token 73 the overlay alpha, and when that is not 0 twelve
//                      sensor values for each robot 1..4 from token 74 on
//    3 C V1 V2 V3 V4   the four picture adjustments of capture-card input C (1..8), values 0..200
//   -2                 shut the machine down
//   -1                 close the console
// Anything else is ignored. Malformed messages are ignored whole, with a line on stderr: a save name that
// is not a plain file name, a layout with fewer than 74 tokens (122 with a non-zero overlay alpha) or with a value
// that is not a finite number or an alpha outside 0..1 (the renderer would refuse it and the video be lost), a
// picture adjustment with fewer than six tokens or an input outside 1..8.
#pragma once

#include "config_files/config_files.h"
#include "util/log_limit.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavro::console {

inline constexpr std::uint16_t kRemoteControlPort = 7000;

// The sensor values of one layout message: robot k (1..4) is row k - 1, in the message's order.
using RemoteSensorRows = std::int32_t[4][12];

// What the commands act on. Called on the listener thread.
class RemoteCommandTarget {
public:
    virtual ~RemoteCommandTarget() = default;
    virtual void save(const std::string& name) = 0;
    // `sensor` is null when the overlay alpha is 0 (the sensor settings are left as they are).
    virtual void layout(const CompositePane (&panes)[kConsolePanes], float overlay_alpha,
                        const RemoteSensorRows* sensor) = 0;
    virtual void adjust(int input, const std::int32_t (&values)[4]) = 0;
    virtual void shut_down() = 0;
    virtual void close() = 0;
};

enum class RemoteCommand { ignored, refused, save, layout, adjust, shut_down, close };

// Reads one datagram (at most `size` bytes; the text ends at a NUL byte) and runs its command on `target`.
// Never reads past the datagram. Answers what it did; a refusal is written to `log`.
RemoteCommand handle_remote_datagram(const char* data, std::size_t size, RemoteCommandTarget& target, LogLimit& log);

// The save name of a datagram's second token: a trailing line end (CR, LF) is dropped, as are the blanks
// that end the token. Empty when the name holds any other control character.
std::string remote_save_name(std::string_view token);

} // namespace kavro::console
