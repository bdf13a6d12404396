// kavro-topology-service (--description FILE | --capture FILE) [--listen ADDRESS:PORT] [--mode stream|close]
//     [--interval S] [--watch S] [--repeat S] [--write-tick S] [--lockout MIN[-MAX]] [--max-pending BYTES]
//     [--verbose]
// Serves a mesh topology like the routing daemon's topology plug-in until interrupted.
#include "tools/kavro-topology-service/service.h"

#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

namespace {

using namespace kavro::topology;
using std::chrono::milliseconds;

std::atomic<bool> g_stop{false}; // set by the signal handler only

void on_signal(int) { g_stop.store(true, std::memory_order_relaxed); }

int usage(const std::string& why) {
    std::fprintf(stderr,
                 "kavro-topology-service: %s\n"
                 "usage: kavro-topology-service (--description FILE | --capture FILE) [--listen ADDRESS:PORT]\n"
                 "         [--mode stream|close] [--interval S] [--watch S] [--repeat S] [--write-tick S]\n"
                 "         [--lockout MIN[-MAX]] [--max-pending BYTES] [--verbose]\n"
                 "  --description FILE  topology description (self/link/asym/mpr/hna lines), read again on change\n"
                 "  --capture FILE      captured daemon output, its snapshots replayed in turn\n"
                 "  --listen            default 127.0.0.1:2004\n"
                 "  --mode              stream (default): one client, snapshots on change, lockout after a client\n"
                 "                      left; close: one snapshot per connection, then close\n"
                 "  --interval S        capture replay: seconds between snapshots (default 0.337)\n"
                 "  --watch S           description: seconds between looks at the file (default 0.2)\n"
                 "  --repeat S          stream: an unchanged topology is sent again after S (default 1, 0: never)\n"
                 "  --write-tick S      queued bytes go out at these ticks (default 0.1)\n"
                 "  --lockout MIN-MAX   stream: seconds of 0-byte answers after a client left (default 0.35-0.9)\n"
                 "  --max-pending BYTES most bytes queued for a client that does not read (default 65536)\n",
                 why.c_str());
    return 2;
}

// Seconds as a locale-free decimal number, 0..3600.
bool parse_seconds(std::string_view text, milliseconds& out) {
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    if (ec != std::errc{} || end != text.data() + text.size() || !(v >= 0 && v <= 3600)) return false;
    out = milliseconds(std::lround(v * 1000));
    return true;
}

bool parse_listen(const std::string& text, ServiceSettings& s) {
    auto colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    unsigned port = 0;
    const char* b = text.data() + colon + 1;
    const char* e = text.data() + text.size();
    auto [end, ec] = std::from_chars(b, e, port);
    if (ec != std::errc{} || end != e || b == e || port > 65535) return false;
    s.address = text.substr(0, colon);
    s.port = static_cast<std::uint16_t>(port);
    return true;
}

struct Options {
    ServiceSettings settings;
    std::string description, capture;
    milliseconds interval{337}, watch{200};
};

int parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--verbose" || arg == "-v") {
            o.settings.verbose = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") return usage("a stand-in for the mesh daemon's topology service"), 0;
        if (i + 1 >= argc) return usage(arg + " needs a value (or is unknown)");
        const std::string v = argv[++i];
        milliseconds ms{};
        if (arg == "--description") {
            o.description = v;
        } else if (arg == "--capture") {
            o.capture = v;
        } else if (arg == "--listen") {
            if (!parse_listen(v, o.settings)) return usage("--listen needs ADDRESS:PORT");
        } else if (arg == "--mode") {
            if (v != "stream" && v != "close") return usage("--mode is stream or close");
            o.settings.mode = v == "stream" ? Mode::stream : Mode::close;
        } else if (arg == "--lockout") {
            auto dash = v.find('-');
            milliseconds hi{};
            if (!parse_seconds(v.substr(0, dash), ms) ||
                !parse_seconds(dash == std::string::npos ? v : v.substr(dash + 1), hi) || hi < ms)
                return usage("--lockout needs MIN or MIN-MAX seconds");
            o.settings.lockout_min = ms;
            o.settings.lockout_max = hi;
        } else if (arg == "--max-pending") {
            std::size_t n = 0;
            auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (ec != std::errc{} || end != v.data() + v.size() || n < 1024 || n > (64u << 20))
                return usage("--max-pending needs 1024..67108864 bytes");
            o.settings.max_pending = n;
        } else if (parse_seconds(v, ms) && (arg == "--interval" || arg == "--watch" || arg == "--repeat" ||
                                            arg == "--write-tick")) {
            (arg == "--interval" ? o.interval : arg == "--watch" ? o.watch
                                            : arg == "--repeat"  ? o.settings.repeat
                                                                 : o.settings.write_tick) = ms;
        } else {
            return usage("unknown argument or bad value: " + arg + " " + v);
        }
    }
    if (o.description.empty() == o.capture.empty()) return usage("give exactly one of --description and --capture");
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (int rc = parse(argc, argv, o); rc >= 0) return rc;

    std::unique_ptr<SnapshotSource> source;
    std::string error;
    if (!o.capture.empty()) {
        std::string text;
        if (!read_file(o.capture, kMaxCaptureBytes, text, error)) {
            std::fprintf(stderr, "kavro-topology-service: %s\n", error.c_str());
            return 1;
        }
        auto snapshots = split_snapshots(text);
        if (snapshots.empty()) {
            std::fprintf(stderr, "kavro-topology-service: %s holds no snapshot\n", o.capture.c_str());
            return 1;
        }
        std::fprintf(stderr, "kavro-topology-service: %zu snapshot(s) from %s\n", snapshots.size(),
                     o.capture.c_str());
        source = std::make_unique<CaptureReplay>(std::move(snapshots), o.interval, Clock::now());
    } else {
        auto file = std::make_unique<DescriptionFile>(o.description, o.watch);
        if (!file->load(error)) {
            std::fprintf(stderr, "kavro-topology-service: %s\n", error.c_str());
            return 1;
        }
        source = std::move(file);
    }
    TopologyService service(*source, o.settings);
    if (!service.open(error)) {
        std::fprintf(stderr, "kavro-topology-service: %s\n", error.c_str());
        return 1;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::fprintf(stderr, "kavro-topology-service: serving on %s:%u (%s)\n", o.settings.address.c_str(),
                 unsigned{service.port()}, o.settings.mode == Mode::stream ? "stream" : "one snapshot, then close");
    service.run(g_stop);
    return 0;
}
