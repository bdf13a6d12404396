// Reads an MJPEG stream over HTTP (libcurl) on a receiver thread of its own and hands each whole JPEG frame to
// a callback. A connection that cannot be made, answers with something else than a multipart stream, breaks
// its framing or brings no whole frame for `frame_timeout` is dropped; the reader tries again every
// `retry_period` until it is stopped. Nothing it does can block its owner: start and stop return at once
// (stop waits only for the thread to notice, within about 100 ms).
#pragma once

#include "outside/mjpeg/multipart.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>

namespace kavro::mjpeg {

struct ReaderSettings {
    std::chrono::milliseconds connect_timeout{2000};
    std::chrono::milliseconds retry_period{2000};
    std::chrono::milliseconds frame_timeout{2000};
    Limits limits{};
    std::string log_name; // prefix of the reader's lines on stderr; empty: silent
};

struct ReaderCounts {
    std::uint64_t frames = 0;      // whole JPEG frames handed over
    std::uint64_t rejected = 0;    // parts that were not a whole JPEG (other type, no start or end marker)
    std::uint64_t connections = 0; // connection attempts
    std::uint64_t failures = 0;    // connections dropped (refused, broken, silent, bad framing)
};

// Whether the bytes look like one whole JPEG: the start-of-image marker first and the end-of-image marker
// last (trailing line ends, spaces and zero bytes allowed). A truncated frame fails this.
bool is_whole_jpeg(std::span<const std::uint8_t> frame);

class Reader {
public:
    // Called on the receiver thread for every whole frame; the bytes are valid only during the call.
    using FrameHandler = std::function<void(std::span<const std::uint8_t> jpeg)>;

    explicit Reader(FrameHandler on_frame, ReaderSettings settings = {});
    ~Reader(); // stops
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Starts reading url (http:// or https://), or switches to it when already reading another one.
    void start(const std::string& url);
    // Stops reading and joins the receiver thread.
    void stop();

    bool running() const { return thread_.joinable(); }
    // Whether the current connection is delivering (a frame came within frame_timeout).
    bool connected() const { return connected_.load(std::memory_order_relaxed); }
    ReaderCounts counts() const;
    // Why the last connection ended (empty while none failed).
    std::string last_error() const;

private:
    void run(std::string url);
    bool read_once(const std::string& url); // one connection; false when stopping
    void fail(const std::string& url, const std::string& why);

    FrameHandler on_frame_;
    ReaderSettings settings_;
    std::thread thread_;
    std::mutex wait_mutex_; // guards stopping_ for the retry wait
    std::condition_variable wake_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> connected_{false};
    std::atomic<std::uint64_t> frames_{0}, rejected_{0}, connections_{0}, failures_{0};
    mutable std::mutex error_mutex_; // guards last_error_ and reported_
    std::string last_error_;
    std::string reported_; // the last error written to stderr (each change is written once)
};

} // namespace kavro::mjpeg
