// The control protocol's handlers: what one datagram on each port, or one pending configuration file, does to
// the mixer. The threads that receive them are in listeners.h. Each handler takes the graph lock for the whole
// change it makes.
#pragma once

#include "mixer/state.h"
#include "util/text_split.h"

#include <cstddef>
#include <optional>
#include <string>

namespace kavro::mixer {

inline constexpr std::size_t kDatagramSize = 1000;
inline constexpr std::size_t kLayoutTokens = 56;
inline constexpr std::size_t kTokensPerChannel = 12;

// Port 7000. A negative first token asks for the end (-2: with the machine's shutdown), which the caller
// carries out; any other datagram is a layout: positions and alphas of the eleven streams, the overlay alpha
// and, when that is not 0, the five sensor channels' settings; then the streams are applied and the graph run.
// Tokens that were not received read as 0.
enum class LayoutOutcome { applied, quit, quit_and_shut_down };
LayoutOutcome handle_layout(MixerState& s, const TextTokens& tokens);

// Port 8000: camera n (1..8) and four values, each scaled by 1.275 in single precision and handed to the
// camera's capture card (the first for n = 1..4, else the second) on input n - 1.
void handle_camera_picture(MixerState& s, const TextTokens& tokens);
// The scaling: value as a float times the float 1.275, truncated toward zero (100 -> 127, 200 -> 254);
// products outside 32 bits clamp to the range.
std::int32_t scale_picture_value(std::int32_t value);

// Port 10000: six integers for each of the four network cameras, with "init 1".."init 4" and "fin init" on
// standard output.
void handle_ip_camera(MixerState& s, const TextTokens& tokens);

// Port 11000. "getconf": the list of the configurations in the configs folder (not "interface_old.xml"), as a
// 1000-byte reply, or nothing when the folder holds no ".xml" file. "setconf NAME": NAME (a plain file name in
// the configs folder) is copied over "kavro.xml", which the watcher then applies; other names are refused with
// a line on stderr. Anything else: nothing. Answers the reply to send, if any.
std::optional<std::string> handle_configuration(MixerState& s, const TextTokens& tokens);
// The reply's text: "<count> <name> <name> ... " with the names that fit in 999 characters.
std::optional<std::string> configuration_list(const std::string& configs_dir);

// The watcher's step: when "kavro.xml" is pending it is read (and retired) and its streams applied. Answers
// false when the read failed: the graph is then released and the watcher ends.
bool apply_pending_configuration(MixerState& s);

} // namespace kavro::mixer
