// Lines about refused input from the network, written to stderr at most a few a second, so that a flood of bad
// datagrams cannot flood the log. The lines held back are counted, and their number is written with the next
// line let through.
#pragma once

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace kavro {

class LogLimit {
public:
    using Clock = std::chrono::steady_clock;

    // At most `per_second` lines in any one-second window, written to `out` (stderr when null).
    explicit LogLimit(int per_second = 20, std::FILE* out = nullptr);

    // Writes the line (printf format, without its line end) when the limit allows, or counts it. Thread-safe.
    void write(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The same at a given time (for tests).
    void write(Clock::time_point now, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Lines held back since the last line written.
    unsigned long held() const;

private:
    void write_line(Clock::time_point now, const char* format, std::va_list args);

    const int m_perSecond;
    std::FILE* const m_out;
    mutable std::mutex m_lock; // guards everything below
    Clock::time_point m_windowStart{};
    int m_inWindow = 0;
    unsigned long m_held = 0;
};

} // namespace kavro
