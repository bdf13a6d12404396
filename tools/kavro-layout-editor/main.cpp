// kavro-layout-editor [--listen ADDRESS:PORT] [--console ADDRESS:PORT]
// Serves the console's video source page (the composite layout editor) at http://ADDRESS:PORT/KAVRO/
// (default 127.0.0.1:8080) and sends what the operator sets there to the console's remote-control port
// (default 127.0.0.1:7000). Runs until interrupted.
#include "tools/kavro-layout-editor/editor_server.h"
#include "util/c_numbers.h"

#include <csignal>
#include <cstdio>
#include <string>

extern const char* const kEditorPage;

namespace {

kavro::editor::EditorServer* g_server = nullptr; // for the signal handler

bool parse_endpoint(const std::string& text, std::string& address, std::uint16_t& port) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    const std::string p = text.substr(colon + 1);
    if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long v = kavro::c_strtoul(p.c_str(), nullptr, 10);
    if (v == 0 || v > 65535) return false;
    address = text.substr(0, colon);
    port = static_cast<std::uint16_t>(v);
    return true;
}

int usage(const char* why) {
    std::fprintf(stderr, "kavro-layout-editor: %s\nusage: kavro-layout-editor [--listen ADDRESS:PORT] "
                         "[--console ADDRESS:PORT]\n", why);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string listen_address = "127.0.0.1", console_address = "127.0.0.1";
    std::uint16_t listen_port = 8080, console_port = 7000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return usage("missing value");
        if (arg == "--listen") {
            if (!parse_endpoint(argv[++i], listen_address, listen_port)) return usage("bad --listen");
        } else if (arg == "--console") {
            if (!parse_endpoint(argv[++i], console_address, console_port)) return usage("bad --console");
        } else {
            return usage("unknown option");
        }
    }
    kavro::editor::EditorServer server(kEditorPage, kavro::editor::udp_sender(console_address, console_port));
    g_server = &server;
    std::signal(SIGINT, [](int) { if (g_server) g_server->stop(); });
    std::signal(SIGTERM, [](int) { if (g_server) g_server->stop(); });
    std::printf("kavro-layout-editor: http://%s:%u/KAVRO/ -> console %s:%u\n", listen_address.c_str(),
                unsigned(listen_port), console_address.c_str(), unsigned(console_port));
    std::fflush(stdout);
    return server.run(listen_address, listen_port) ? 0 : 1;
}
