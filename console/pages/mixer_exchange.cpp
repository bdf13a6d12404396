#include "console/pages/mixer_exchange.h"

#include "console/link/udp_endpoint.h"
#include "util/text_split.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace kavro::console {

std::string dotted(const Ipv4Address& a) {
    return std::to_string(a[0]) + '.' + std::to_string(a[1]) + '.' + std::to_string(a[2]) + '.' +
           std::to_string(a[3]);
}

std::vector<std::string> parse_getconf_answer(const char* data, std::size_t size) {
    std::vector<std::string> names;
    if (!data) return names;
    const TextTokens tokens(data, size);
    const std::int32_t announced = tokens.as_int(0);
    if (announced <= 0 || tokens.count() < 2) return names;
    const std::size_t n = std::min<std::size_t>(std::size_t(announced), tokens.count() - 1);
    names.reserve(n);
    for (std::size_t i = 1; i <= n; ++i) names.emplace_back(tokens.token(i));
    return names;
}

std::vector<std::string> request_mixer_configs(const Ipv4Address& mixer, std::uint16_t port,
                                               std::chrono::milliseconds wait) {
    UdpEndpoint udp;
    if (!udp.open_towards(port, dotted(mixer).c_str())) return {};
    static constexpr char kGetconf[] = "getconf";
    if (udp.send(kGetconf, 7) != 7) return {};
    // Only the mixer's answer counts: a datagram from any other sender within the wait is passed over.
    const sockaddr_in mixer_peer = udp.peer();
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline -
                                                                                 std::chrono::steady_clock::now());
        if (left.count() <= 0) return {};
        const long us = static_cast<long>(left.count());
        const int got = udp.receive(us / 1000000, us % 1000000);
        if (got <= 0) return {};
        if (udp.peer().sin_addr.s_addr == mixer_peer.sin_addr.s_addr && udp.peer().sin_port == mixer_peer.sin_port)
            return parse_getconf_answer(udp.buffer(), static_cast<std::size_t>(got));
        std::fprintf(stderr, "getconf: an answer from a sender other than the mixer is ignored\n");
        udp.set_peer(mixer_peer);
    }
}

bool send_setconf(const Ipv4Address& mixer, std::uint16_t port, const std::string& name,
                  std::chrono::milliseconds pause) {
    char datagram[kSetconfSize] = {};
    const std::string text = "setconf " + name;
    if (text.size() + 1 > kSetconfSize || text.find('\0') != std::string::npos) return false;
    std::copy(text.begin(), text.end(), datagram);
    UdpEndpoint udp;
    if (!udp.open_towards(port, dotted(mixer).c_str())) return false;
    const bool sent = udp.send(datagram, static_cast<int>(kSetconfSize)) == static_cast<int>(kSetconfSize);
    std::this_thread::sleep_for(pause);
    return sent;
}

bool send_launch(const Ipv4Address& base, std::uint16_t port, int number) {
    if (number < 1 || number > 4) return false;
    char text[16];
    std::snprintf(text, sizeof text, "launch %d", number);
    UdpEndpoint udp;
    if (!udp.open_towards(port, dotted(base).c_str())) return false;
    return udp.send(text, static_cast<int>(kLaunchSize)) == static_cast<int>(kLaunchSize);
}

std::vector<std::string> local_config_list(const std::filesystem::path& configs_dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(configs_dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->path().extension() != ".xml") continue;
        if (name == "interface_old.xml" || name == "kavro.xml") continue;
        names.push_back(name);
    }
    return names;
}

} // namespace kavro::console
