// The sender's HTTP side: serves the latest JPEG picture as an MJPEG stream (multipart/x-mixed-replace) to
// any number of viewers, and as a single picture (docs/mjpeg-over-http.md), on cpp-httplib.
//
// publish() only swaps a pointer and wakes the viewers, so the graph never waits for the network. Each viewer
// has a connection thread of its own that sends the newest picture it has not sent yet: a slow viewer gets
// fewer pictures. The server listens from start() to stop(); when the port cannot be bound (e.g. held by
// another program) it says so on stderr and tries again every 2 s.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace sender {

inline constexpr int kDefaultPort = 9000;
inline constexpr const char* kStreamPath = "/video.mjpg";
inline constexpr const char* kPicturePath = "/image.jpg";
inline constexpr const char* kBoundary = "kavroframe";
inline constexpr int kMaxStreams = 32;

struct ServerOptions {
    std::string address = "0.0.0.0";
    int port = kDefaultPort; // 0: any free port (tests)
    std::chrono::milliseconds write_timeout{2000};
    std::chrono::milliseconds retry{2000};
    int max_streams = kMaxStreams;
};

// Port and address from KAVRO_JPEG_SENDER_PORT / KAVRO_JPEG_SENDER_ADDRESS, else the defaults.
ServerOptions options_from_environment();

using Jpeg = std::shared_ptr<const std::vector<std::uint8_t>>;

class MjpegServer {
public:
    explicit MjpegServer(ServerOptions options);
    ~MjpegServer(); // stop()
    MjpegServer(const MjpegServer&) = delete;
    MjpegServer& operator=(const MjpegServer&) = delete;

    void start();
    // Closes the port and every connection; waits for the connection threads (a viewer blocked in a write
    // holds it up to the write timeout).
    void stop();

    // Makes `jpeg` the latest picture. Never blocks on the network.
    void publish(Jpeg jpeg);

    // The bound port once listening (useful with port 0), else 0.
    int port() const { return m_bound_port.load(); }
    int streams() const { return m_streams.load(); }
    // Pictures written to viewers, all viewers together.
    std::uint64_t parts_sent() const { return m_parts.load(); }

private:
    void run();
    void listen();
    // Waits up to `limit` for a picture newer than `generation`; null on time-out or stop.
    Jpeg wait_newer(std::uint64_t& generation, std::chrono::milliseconds limit);
    void install_routes();

    const ServerOptions m_options;
    std::unique_ptr<httplib::Server> m_server;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_finished{false}; // the listener thread has nothing more to do
    std::atomic<int> m_bound_port{0};
    std::atomic<int> m_streams{0};
    std::atomic<std::uint64_t> m_parts{0};

    std::mutex m_lock;              // guards m_latest, m_generation
    std::condition_variable m_newer; // a picture was published, or stopping
    Jpeg m_latest;
    std::uint64_t m_generation = 0;

    std::thread m_thread; // binds (with retries) and listens
};

} // namespace sender
