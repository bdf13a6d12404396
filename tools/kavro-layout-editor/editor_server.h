// The layout editor's web server (cpp-httplib): the page at /KAVRO/, the current layout at GET /KAVRO/layout,
// and POST /KAVRO/layout and /KAVRO/picture, whose checked content goes to the console as one datagram each.
#pragma once

#include "tools/kavro-layout-editor/layout_editor.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace kavro::editor {

class EditorServer {
public:
    // `send` hands one datagram to the console and answers whether it went.
    using Sender = std::function<bool(const std::string&)>;
    EditorServer(std::string page, Sender send);
    ~EditorServer();
    EditorServer(const EditorServer&) = delete;
    EditorServer& operator=(const EditorServer&) = delete;

    // Binds and serves on a thread of its own; port 0 picks one. False (message on stderr) when it cannot bind.
    bool start(const std::string& address, std::uint16_t port);
    std::uint16_t port() const { return port_; }
    // Serves on the calling thread until stop() (for the program).
    bool run(const std::string& address, std::uint16_t port);
    void stop();

private:
    void routes();
    std::string page_;
    Sender send_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::uint16_t port_ = 0;
    std::mutex lock_;          // guards layout_ (requests are served on the server's threads)
    Layout layout_ = default_layout();
};

// Sends datagrams to the console's remote-control port (UDP).
EditorServer::Sender udp_sender(const std::string& address, std::uint16_t port);

} // namespace kavro::editor
