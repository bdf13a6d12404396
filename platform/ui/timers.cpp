// Timers: each belongs to a window and ticks on the window's thread; its message loop produces WM_TIMER when one
// is due (at most one pending per timer, as the next due time moves on when the tick is taken).
#include "platform/ui/state.h"

#include <algorithm>

namespace kavro::ui {

namespace detail {

Timer* due_timer_locked(std::thread::id thread, Clock::time_point now, std::optional<Clock::time_point>& deadline) {
    Timer* due = nullptr;
    for (auto& t : state().timers) {
        if (t.thread != thread) continue;
        if (t.due <= now && (!due || t.due < due->due)) due = &t;
        if (!deadline || t.due < *deadline) deadline = t.due;
    }
    return due;
}

} // namespace detail

using namespace detail;

unsigned set_timer(Hwnd h, unsigned id, unsigned period_ms) {
    std::lock_guard g(state().m);
    WindowData* w = find(h);
    if (!w) return 0;
    const auto period = std::chrono::milliseconds(std::max(period_ms, 1u));
    const auto due = Clock::now() + period;
    for (auto& t : state().timers)
        if (t.h == h && t.id == id) {
            t.period = period;
            t.due = due;
            wake_thread(t.thread);
            return id;
        }
    state().timers.push_back(Timer{h, id, w->thread, period, due});
    wake_thread(w->thread);
    return id == 0 ? 1 : id;
}

bool kill_timer(Hwnd h, unsigned id) {
    std::lock_guard g(state().m);
    return std::erase_if(state().timers, [&](const Timer& t) { return t.h == h && t.id == id; }) > 0;
}

bool timer_exists(Hwnd h, unsigned id) {
    std::lock_guard g(state().m);
    const auto& timers = state().timers;
    return std::any_of(timers.begin(), timers.end(), [&](const Timer& t) { return t.h == h && t.id == id; });
}

} // namespace kavro::ui
