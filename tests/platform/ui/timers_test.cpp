// Timers: ticks with their id, killed and restarted timers.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/platform/ui/ui_fixtures.h"

using namespace ui_test;
using namespace std::chrono_literals;

namespace {

TEST(Timers, TicksCarryTheIdAndStopWhenKilled) {
    std::vector<WPARAM> ticks;
    const Hwnd h = create_window(plain_spec(), [&](Hwnd w, unsigned m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_TIMER) {
            ticks.push_back(wp);
            if (ticks.size() == 3) kill_timer(w, unsigned(wp));
            if (ticks.size() == 3) post_message(w, WM_APP);
        }
        if (m == WM_APP) post_quit_message(0);
        return def_window_proc(w, m, wp, lp);
    });
    // An identifier the program has no use for is still delivered as WM_TIMER with that id.
    EXPECT_EQ(set_timer(h, 77, 5), 77u);
    EXPECT_TRUE(timer_exists(h, 77));
    const auto start = std::chrono::steady_clock::now();
    run_message_loop();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 15ms);
    EXPECT_EQ(ticks, (std::vector<WPARAM>{77, 77, 77}));
    EXPECT_FALSE(timer_exists(h, 77));
    EXPECT_FALSE(kill_timer(h, 77));
    set_timer(h, 2, 1000);
    destroy_window(h);
    EXPECT_FALSE(timer_exists(h, 2)); // timers go with their window
}

TEST(Timers, RestartingATimerPostponesItsNextTick) {
    int ticks = 0;
    const Hwnd h = create_window(plain_spec(), [&](Hwnd w, unsigned m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_TIMER && wp == 1) ++ticks;
        if (m == WM_TIMER && wp == 2) post_quit_message(0);
        return def_window_proc(w, m, wp, lp);
    });
    set_timer(h, 1, 40);
    set_timer(h, 2, 60);
    std::this_thread::sleep_for(20ms);
    set_timer(h, 1, 120); // due again 120 ms from now, well after timer 2
    run_message_loop();
    EXPECT_EQ(ticks, 0);
    destroy_window(h);
}

} // namespace
