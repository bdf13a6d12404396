// The layout worker process as the component sees it: started on first use, given one DOT text at a time,
// killed when it takes longer than the time limit (or dies by itself: a crash, the memory limit) and started
// again for the next drawing. The host never runs Graphviz itself.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace kavro::graphviz {

struct LayoutLimits {
    std::chrono::milliseconds time{3000};     // one drawing, from request to reply
    std::chrono::milliseconds startup{10000}; // a new worker, until it has Graphviz loaded
    unsigned long memory_mb = 1024;       // address space of the worker
    unsigned max_drawings = 1000;         // the worker is replaced after this many drawings
};

enum class LayoutResult { Ok, NotDot, Failed, TimedOut, Crashed, TooLarge, NoWorker };
const char* to_string(LayoutResult r);

class LayoutProcess {
public:
    // worker: the path of the kavro-layout program.
    explicit LayoutProcess(std::string worker, LayoutLimits limits = {});
    ~LayoutProcess(); // ends the worker and waits for it
    LayoutProcess(const LayoutProcess&) = delete;
    LayoutProcess& operator=(const LayoutProcess&) = delete;

    // Draws the DOT text as JPEG into *jpeg. TooLarge: the text or the picture exceeds the protocol's
    // limits; NoWorker: the program could not be started. *message gets the reason on failure.
    // Thread-safe: callers take turns.
    LayoutResult draw(std::string_view dot, std::string* jpeg, std::string* message);

    // Starts the worker now, without waiting for it, so that the first drawing does not wait for Graphviz
    // to load. False when it cannot be started.
    bool prestart();

    // The worker's process id, or -1 when none runs (for tests).
    pid_t worker_pid() const;
    // Workers started so far.
    unsigned starts() const;

    // kavro-layout beside the library or program holding this code.
    static std::string default_worker_path();

private:
    bool spawn(std::string* message);
    bool await_ready(std::string* message);
    void end_worker(bool kill_it);

    const std::string m_worker;
    const LayoutLimits m_limits;
    mutable std::mutex m_lock; // guards everything below: one drawing at a time
    pid_t m_pid = -1;
    int m_fd = -1;
    bool m_ready = false; // the worker has said it is ready
    unsigned m_drawings = 0;
    unsigned m_starts = 0;
};

} // namespace kavro::graphviz
