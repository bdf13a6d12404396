#include "outside/sender/mjpeg_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>

namespace sender {

namespace {

constexpr int kSendBuffer = 64 * 1024; // the kernel doubles it

// One thread per connection, so that a viewer's stream never waits for a free worker; finished threads are
// joined as new connections come, the rest when the server stops.
class ThreadPerConnection final : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> fn) override {
        std::lock_guard g(m_lock);
        reap();
        auto done = std::make_shared<std::atomic<bool>>(false);
        try {
            m_threads.push_back({std::thread([fn = std::move(fn), done] {
                                     fn();
                                     done->store(true);
                                 }),
                                 done});
        } catch (const std::system_error&) {
            // No thread to be had: the connection is dropped (its socket closes with the task).
        }
    }
    void shutdown() override {
        std::list<Entry> all;
        {
            std::lock_guard g(m_lock);
            all.swap(m_threads);
        }
        for (auto& e : all) e.thread.join();
    }

private:
    struct Entry {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void reap() {
        for (auto it = m_threads.begin(); it != m_threads.end();) {
            if (it->done->load()) {
                it->thread.join();
                it = m_threads.erase(it);
            } else {
                ++it;
            }
        }
    }
    std::mutex m_lock; // guards m_threads
    std::list<Entry> m_threads;
};

std::string part_header(std::size_t length) {
    char text[128];
    const int n = std::snprintf(text, sizeof text, "--%s\r\nContent-Type: image/jpeg\r\nContent-Length: %zu\r\n\r\n",
                                kBoundary, length);
    return std::string(text, std::size_t(n));
}

} // namespace

ServerOptions options_from_environment() {
    ServerOptions options;
    if (const char* port = std::getenv("KAVRO_JPEG_SENDER_PORT")) {
        int value = 0;
        const char* end = port + std::strlen(port);
        const auto [p, ec] = std::from_chars(port, end, value);
        if (ec == std::errc{} && p == end && value > 0 && value <= 65535)
            options.port = value;
        else
            std::fprintf(stderr, "Jpeg Sender: KAVRO_JPEG_SENDER_PORT=\"%s\" is not a port; using %d\n", port,
                         options.port);
    }
    if (const char* address = std::getenv("KAVRO_JPEG_SENDER_ADDRESS"); address && *address)
        options.address = address;
    return options;
}

MjpegServer::MjpegServer(ServerOptions options) : m_options(std::move(options)) {}

MjpegServer::~MjpegServer() { stop(); }

void MjpegServer::start() {
    if (m_thread.joinable()) return;
    m_stopping = false;
    m_finished = false;
    m_server = std::make_unique<httplib::Server>();
    m_server->new_task_queue = [] { return new ThreadPerConnection; };
    const auto timeout = std::chrono::duration_cast<std::chrono::microseconds>(m_options.write_timeout).count();
    m_server->set_write_timeout(timeout / 1000000, timeout % 1000000);
    m_server->set_read_timeout(5, 0);
    // Connections inherit the listening socket's send buffer: a small one keeps at most a few pictures queued
    // for a viewer, so a slow viewer sees recent pictures rather than a growing backlog.
    m_server->set_socket_options([](socket_t sock) {
        httplib::default_socket_options(sock);
        const int size = kSendBuffer;
        ::setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    });
    install_routes();
    m_thread = std::thread([this] { run(); });
}

void MjpegServer::stop() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard g(m_lock);
        m_stopping = true;
    }
    m_newer.notify_all();
    // The listener may be between binding and listening, where a stop is not seen yet: ask until it ends.
    while (!m_finished) {
        m_server->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_thread.join();
    m_server.reset();
    m_bound_port = 0;
}

void MjpegServer::run() {
    listen();
    m_finished = true;
}

void MjpegServer::listen() {
    bool reported = false;
    while (!m_stopping) {
        if (m_options.port == 0) {
            const int port = m_server->bind_to_any_port(m_options.address);
            if (port > 0) m_bound_port = port;
        } else if (m_server->bind_to_port(m_options.address, m_options.port)) {
            m_bound_port = m_options.port;
        }
        if (m_bound_port > 0) {
            m_server->listen_after_bind(); // returns at stop
            return;
        }
        if (!reported)
            std::fprintf(stderr, "Jpeg Sender: cannot listen on %s:%d; trying again every %lld ms\n",
                         m_options.address.c_str(), m_options.port, (long long)m_options.retry.count());
        reported = true;
        std::unique_lock g(m_lock);
        m_newer.wait_for(g, m_options.retry, [this] { return m_stopping.load(); });
    }
}

void MjpegServer::publish(Jpeg jpeg) {
    {
        std::lock_guard g(m_lock);
        m_latest = std::move(jpeg);
        ++m_generation;
    }
    m_newer.notify_all();
}

Jpeg MjpegServer::wait_newer(std::uint64_t& generation, std::chrono::milliseconds limit) {
    std::unique_lock g(m_lock);
    if (!m_newer.wait_for(g, limit, [&] { return m_stopping || (m_latest && m_generation != generation); }))
        return nullptr;
    if (m_stopping) return nullptr;
    generation = m_generation;
    return m_latest;
}

void MjpegServer::install_routes() {
    m_server->Get(kPicturePath, [this](const httplib::Request&, httplib::Response& res) {
        Jpeg latest;
        {
            std::lock_guard g(m_lock);
            latest = m_latest;
        }
        if (!latest) {
            res.status = 503;
            res.set_content("no picture yet\n", "text/plain");
            return;
        }
        res.set_content(reinterpret_cast<const char*>(latest->data()), latest->size(), "image/jpeg");
    });

    m_server->Get(kStreamPath, [this](const httplib::Request&, httplib::Response& res) {
        if (m_streams.fetch_add(1) >= m_options.max_streams) {
            m_streams.fetch_sub(1);
            res.status = 503;
            res.set_header("Connection", "close");
            res.set_content("too many viewers\n", "text/plain");
            return;
        }
        res.set_header("Cache-Control", "no-cache");
        const std::string type = std::string("multipart/x-mixed-replace; boundary=") + kBoundary;
        auto generation = std::make_shared<std::uint64_t>(0);
        res.set_content_provider(
            type,
            [this, generation](std::size_t, httplib::DataSink& sink) {
                if (m_stopping) return false;
                const Jpeg jpeg = wait_newer(*generation, std::chrono::milliseconds(500));
                if (!jpeg) return !m_stopping; // nothing new yet: asked again
                const std::string header = part_header(jpeg->size());
                if (!sink.write(header.data(), header.size()) ||
                    !sink.write(reinterpret_cast<const char*>(jpeg->data()), jpeg->size()) || !sink.write("\r\n", 2))
                    return false;
                m_parts.fetch_add(1);
                return true;
            },
            [this](bool) { m_streams.fetch_sub(1); });
    });
}

} // namespace sender
