// The console's datagrams to the video mixer and the base station: the mixer's list of configurations
// ("getconf"), the choice of one ("setconf"), and the "launch" commands; and the local list of configurations.
#pragma once

#include "util/ipv4_address.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kavro::console {

inline constexpr std::uint16_t kMixerControlPort = 11000;
inline constexpr std::size_t kSetconfSize = 100;        // "setconf <name>", its zero byte, zero filler
inline constexpr std::size_t kLaunchSize = 8;           // "launch <1..4>"
inline constexpr std::size_t kMaxConfigNameLength = 49; // longest name the list's OK button takes

// The names of a "getconf" answer: a decimal count, then that many names, all separated by single blanks. The
// answer is split at every single blank and each name but the last keeps its trailing blank, as sent. The count
// is bounded by the names actually received; a count of 0, a negative or unreadable count gives no names.
std::vector<std::string> parse_getconf_answer(const char* data, std::size_t size);

// Sends "getconf" (7 bytes) to the mixer's control port and waits up to `wait` for one answer datagram. No
// answer from the mixer's address and port, or a socket that cannot be opened: an empty list. Datagrams from
// other senders are ignored.
std::vector<std::string> request_mixer_configs(const Ipv4Address& mixer, std::uint16_t port,
                                               std::chrono::milliseconds wait);

// Sends "setconf <name>" in exactly 100 bytes to the mixer's control port, then keeps the socket `pause` before
// closing it. False (nothing sent) when the name does not fit the datagram or the socket fails.
bool send_setconf(const Ipv4Address& mixer, std::uint16_t port, const std::string& name,
                  std::chrono::milliseconds pause);

// "launch <number>" in exactly 8 bytes; number is 1..4. False when it was not sent.
bool send_launch(const Ipv4Address& base, std::uint16_t port, int number);

// The configuration files of `configs_dir` ("*.xml") in the order the file system gives them, without
// "interface_old.xml" and "kavro.xml" (exact names).
std::vector<std::string> local_config_list(const std::filesystem::path& configs_dir);

// "a.b.c.d".
std::string dotted(const Ipv4Address& a);

} // namespace kavro::console
