// Fetching one topology text from the mesh daemon's topology service over TCP.
//
// The service streams complete DOT snapshots ("digraph topology\n{\n" ... "}\n\n") for as long as the
// connection stays open, one receive may hold several of them, and it serves one client at a time: a
// connection made shortly after the previous client left is accepted and closed without a byte. So a fetch
// takes the first complete graph of what arrives, and an empty connection is tried once more after a pause.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace mesh {

struct FetchTiming {
    std::chrono::milliseconds connect_limit{1000}; // a connection attempt that hangs is given up
    std::chrono::milliseconds settle{500};         // after connecting, before reading
    std::chrono::milliseconds read_limit{1000};    // then, for the rest of the first graph
    std::chrono::milliseconds retry_pause{500};    // before the second try of an empty connection
};

// Sleeps that end early when the owner asks its thread to stop.
class StopSignal {
public:
    void request() {
        { std::lock_guard g(m_lock); m_stop = true; }
        m_cv.notify_all();
    }
    void clear() {
        std::lock_guard g(m_lock);
        m_stop = false;
    }
    bool requested() const {
        std::lock_guard g(m_lock);
        return m_stop;
    }
    // False when stopped before the time was up.
    bool sleep(std::chrono::milliseconds ms) {
        std::unique_lock g(m_lock);
        return !m_cv.wait_for(g, ms, [this] { return m_stop; });
    }

private:
    mutable std::mutex m_lock; // guards m_stop
    std::condition_variable m_cv;
    bool m_stop = false;
};

enum class FetchStatus { Ok, NoConnection, Empty, Stopped };

struct FetchResult {
    FetchStatus status = FetchStatus::NoConnection;
    std::size_t bytes = 0; // text length in the buffer (terminated after it)
    int attempts = 0;      // connections made
};

// The end of the first complete graph in text (one past its closing brace), or 0 when the graph is not
// complete yet. Braces inside quoted strings do not count.
std::size_t first_graph_end(const char* text, std::size_t length);

// Connects to address:port (dotted text or a host name), waits settle, then reads until the first graph is
// complete, the peer closes, the buffer is full or read_limit has passed, and closes. The text is cut after
// the first graph and terminated: at most capacity - 1 bytes. A connection that brings no byte at all is
// tried once more after retry_pause. Sleeps end early on stop (Stopped).
FetchResult fetch_topology(const std::string& address, std::uint16_t port, char* buffer, std::size_t capacity,
                           const FetchTiming& timing, StopSignal& stop);

} // namespace mesh
