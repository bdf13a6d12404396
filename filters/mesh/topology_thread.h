// The topology thread of the mesh filter: about once a second it fetches the mesh topology, puts the node
// names in, has the layout component draw it, decodes the drawing and fits it into the frame that the pin
// copies into every sample.
#pragma once

#include "filters/mesh/fit.h"
#include "filters/mesh/topology_fetch.h"
#include "platform/com/com_ptr.h"
#include "platform/graphviz/graph_layout.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace mesh {

inline constexpr std::size_t kReceiveBytes = 20000;                 // one topology text
inline constexpr std::size_t kDecodeBytes = 4 * kFrameBytes;        // one decoded drawing: 5,308,416 bytes

// The service address and the node names: set through IMesh on the application's thread, read by the
// topology thread once per cycle.
class ServerSettings {
public:
    struct Snapshot {
        std::array<std::uint8_t, 4> address;
        std::int32_t port;
        std::vector<std::pair<std::string, std::string>> names; // (address text, name), in list order
        std::string address_text() const;                       // "a.b.c.d"
    };

    void set_server(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::int32_t port);
    void get_server(std::uint8_t* a, std::uint8_t* b, std::uint8_t* c, std::uint8_t* d, std::int32_t* port) const;
    // The first entry with this name takes the address, the first entry with this address takes the name
    // (both may be the same entry); with no match the pair is appended.
    void set_node_name(const std::string& address, const std::string& name);
    Snapshot snapshot() const;

private:
    mutable std::mutex m_lock; // guards everything below
    std::array<std::uint8_t, 4> m_address{127, 0, 0, 1};
    std::int32_t m_port = 2004;
    std::vector<std::pair<std::string, std::string>> m_names;
};

// The frame shared by the topology thread (writer) and the pin's streaming thread (reader).
struct SharedFrame {
    SharedFrame();
    std::mutex busy; // the frame-busy mark: guards frame
    std::unique_ptr<std::uint8_t[]> frame;  // kFrameBytes
    std::atomic<bool> picture_ready{false}; // frame holds the drawing of a successful cycle
};

enum class CycleResult { Drawn, NoService, EmptyAnswer, NoLayout, NotDrawn, NotSaved, NotDecoded, TooLarge, Stopped };
const char* to_string(CycleResult r);

// Substitutes the names, prints the text, has it drawn, saved, decoded and fitted into the frame. Owns the
// receive and decode buffers; used by the topology thread alone while it runs.
class TopologyDrawer {
public:
    // layout may be null (the component could not be created): every drawing then fails.
    TopologyDrawer(ComPtr<IGraphLayout> layout, std::string picture_path, bool print);

    char* text() { return m_text.get(); } // kReceiveBytes + 1 bytes
    // Draws the terminated text in text() into frame.
    CycleResult draw(const ServerSettings::Snapshot& settings, SharedFrame& frame);
    int last_width() const { return m_width; }
    int last_height() const { return m_height; }

private:
    ComPtr<IGraphLayout> m_layout;
    const std::string m_path;
    const std::wstring m_widePath;
    const bool m_print;
    std::unique_ptr<char[]> m_text;
    std::unique_ptr<std::uint8_t[]> m_decoded;
    int m_width = 0;
    int m_height = 0;
};

struct ThreadTiming {
    FetchTiming fetch;
    std::chrono::milliseconds pause{500}; // after each cycle
};

// The thread itself. start() and stop() come from the pin's streaming thread, join() from the pin's
// destructor; there is never more than one thread.
class TopologyThread {
public:
    TopologyThread(ServerSettings& settings, SharedFrame& frame, TopologyDrawer& drawer, ThreadTiming timing);
    ~TopologyThread(); // stops and joins

    // Starts the thread, or keeps the running one (a stop not yet acted on is withdrawn).
    void start();
    // Asks the thread to end after its current step; does not wait.
    void stop();
    // Waits for the thread to end (after stop()).
    void join();
    bool running() const;

    // Counts, for tests and logs.
    unsigned drawn() const { return m_drawn.load(std::memory_order_relaxed); }
    unsigned failed() const { return m_failed.load(std::memory_order_relaxed); }
    unsigned threads_started() const { return m_started.load(std::memory_order_relaxed); }
    int most_threads_at_once() const { return m_mostLive.load(); }

    // One cycle without its final pause (for tests and benchmarks, never while the thread runs).
    CycleResult cycle();

private:
    void run();
    void report(CycleResult r);

    ServerSettings& m_settings;
    SharedFrame& m_frame;
    TopologyDrawer& m_drawer;
    const ThreadTiming m_timing;
    StopSignal m_stop;
    std::mutex m_lock; // guards m_thread and m_finished
    std::thread m_thread;
    bool m_finished = true;
    CycleResult m_last = CycleResult::Drawn; // topology thread only: the last result reported
    std::atomic<unsigned> m_drawn{0}, m_failed{0}, m_started{0};
    std::atomic<int> m_live{0}, m_mostLive{0};
};

} // namespace mesh
