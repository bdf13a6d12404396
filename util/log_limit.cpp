#include "util/log_limit.h"

namespace kavro {

LogLimit::LogLimit(int per_second, std::FILE* out) : m_perSecond(per_second), m_out(out) {}

void LogLimit::write(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    write_line(Clock::now(), format, args);
    va_end(args);
}

void LogLimit::write(Clock::time_point now, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    write_line(now, format, args);
    va_end(args);
}

void LogLimit::write_line(Clock::time_point now, const char* format, std::va_list args) {
    std::lock_guard g(m_lock);
    if (m_inWindow == 0 || now - m_windowStart >= std::chrono::seconds(1)) {
        m_windowStart = now;
        m_inWindow = 0;
    }
    if (m_inWindow >= m_perSecond) {
        ++m_held;
        return;
    }
    ++m_inWindow;
    std::FILE* out = m_out ? m_out : stderr;
    std::vfprintf(out, format, args);
    if (m_held > 0) std::fprintf(out, " (%lu similar lines held back before this one)", m_held);
    std::fputc('\n', out);
    std::fflush(out);
    m_held = 0;
}

unsigned long LogLimit::held() const {
    std::lock_guard g(m_lock);
    return m_held;
}

} // namespace kavro
