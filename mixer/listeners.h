// The five control threads: the layout listener (port 7000), the camera picture listener (8000), the network
// camera listener (10000), the configuration service (11000) and the configuration watcher. Each listener
// waits at most a second for a datagram (or until stop() wakes it), reads at most 1000 bytes, and hands the
// text to its handler (protocol.h); receive and send errors are skipped. Every thread ends when the state's
// stop flag is set; the watcher also after a failed reload, the layout listener right after a quit.
#pragma once

#include "mixer/state.h"

#include <thread>
#include <vector>

namespace kavro::mixer {

class Workers {
public:
    explicit Workers(MixerState& s);
    // Sets the stop flag, wakes the threads and joins them.
    ~Workers();
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    // Starts the five threads in order. A port that cannot be bound is reported on stderr; its thread ends.
    void start();
    // Sets the stop flag and wakes every wait.
    void stop();

private:
    void listen(std::uint16_t port, int which);
    void handle(int which, int fd, const char* data, std::size_t size, const void* from, unsigned from_size);
    void watch();

    MixerState& s_;
    int wake_fd_ = -1;
    std::vector<std::thread> threads_;
};

} // namespace kavro::mixer
