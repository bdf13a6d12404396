#include "tools/kavro-layout-editor/editor_server.h"

#include "console/link/udp_endpoint.h"

#include <httplib.h>

#include <chrono>

#include <cstdio>

namespace kavro::editor {

namespace {

// The server accepts once its loop runs; stopping it before then would leave the loop running for ever.
void wait_running(httplib::Server& server) {
    for (int i = 0; i < 2000 && !server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

EditorServer::EditorServer(std::string page, Sender send) : page_(std::move(page)), send_(std::move(send)) {
    server_ = std::make_unique<httplib::Server>();
    routes();
}

EditorServer::~EditorServer() { stop(); }

void EditorServer::routes() {
    httplib::Server& s = *server_;
    s.Get("/KAVRO", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/KAVRO/"); });
    auto page = [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(page_, "text/html; charset=utf-8");
    };
    s.Get("/KAVRO/", page);
    s.Get("/KAVRO/index.html", page);
    s.Get("/KAVRO/layout", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> hold(lock_);
        res.set_content(layout_form(layout_), "text/plain");
    });
    auto deliver = [this](httplib::Response& res, const std::string& datagram) {
        if (!send_(datagram)) {
            res.status = 502;
            res.set_content("the console's port could not be reached", "text/plain");
            return false;
        }
        res.set_content(datagram, "text/plain");
        return true;
    };
    s.Post("/KAVRO/layout", [this, deliver](const httplib::Request& req, httplib::Response& res) {
        const std::optional<Layout> layout = parse_layout_form(req.body);
        if (!layout) {
            res.status = 400;
            res.set_content("not a layout: 97 numbers (8 panes x 6, overlay alpha, 4 robots x 12)", "text/plain");
            return;
        }
        if (deliver(res, layout_datagram(*layout))) {
            std::lock_guard<std::mutex> hold(lock_);
            layout_ = *layout;
        }
    });
    s.Post("/KAVRO/picture", [deliver](const httplib::Request& req, httplib::Response& res) {
        const std::optional<Picture> picture = parse_picture_form(req.body);
        if (!picture) {
            res.status = 400;
            res.set_content("not a picture adjustment: input 1..4 and four values 0..200", "text/plain");
            return;
        }
        deliver(res, picture_datagram(*picture));
    });
    s.set_payload_max_length(4096);
}

bool EditorServer::start(const std::string& address, std::uint16_t port) {
    const int bound = port == 0 ? server_->bind_to_any_port(address) : (server_->bind_to_port(address, port) ? port : -1);
    if (bound <= 0) {
        std::fprintf(stderr, "kavro-layout-editor: cannot listen on %s:%u\n", address.c_str(), unsigned(port));
        return false;
    }
    port_ = static_cast<std::uint16_t>(bound);
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    wait_running(*server_);
    return true;
}

bool EditorServer::run(const std::string& address, std::uint16_t port) {
    if (!server_->bind_to_port(address, port)) {
        std::fprintf(stderr, "kavro-layout-editor: cannot listen on %s:%u\n", address.c_str(), unsigned(port));
        return false;
    }
    port_ = port;
    return server_->listen_after_bind();
}

void EditorServer::stop() {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
}

EditorServer::Sender udp_sender(const std::string& address, std::uint16_t port) {
    return [address, port](const std::string& datagram) {
        console::UdpEndpoint udp;
        if (!udp.open_towards(port, address.c_str())) return false;
        return udp.send(datagram.data(), static_cast<int>(datagram.size())) == static_cast<int>(datagram.size());
    };
}

} // namespace kavro::editor
