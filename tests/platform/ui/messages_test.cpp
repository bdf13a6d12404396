// The message queue: post, blocking send across threads, quit.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "tests/platform/ui/ui_fixtures.h"

using namespace ui_test;
using namespace std::chrono_literals;

namespace {

TEST(Messages, PostedMessagesArriveInOrderAndQuitEndsTheLoop) {
    std::vector<unsigned> seen;
    const Hwnd h = create_window(plain_spec(), [&](Hwnd w, unsigned m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m >= WM_APP) seen.push_back(m);
        if (m == WM_APP + 2) post_quit_message(7);
        return def_window_proc(w, m, wp, lp);
    });
    post_message(h, WM_APP + 1);
    post_message(h, WM_APP + 2);
    post_message(h, WM_APP + 3);
    EXPECT_EQ(run_message_loop(), 7);
    // WM_QUIT comes after the messages already posted.
    EXPECT_EQ(seen, (std::vector<unsigned>{WM_APP + 1, WM_APP + 2, WM_APP + 3}));
    destroy_window(h);
    EXPECT_FALSE(post_message(h, WM_APP));
}

TEST(Messages, SendFromAnotherThreadBlocksUntilTheOwnerHandledIt) {
    std::atomic<std::thread::id> handled_on{};
    std::atomic<bool> in_handler{false};
    UiThread ui([&](Hwnd w, unsigned m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_APP + 99) post_quit_message(0);
        if (m == WM_APP + 1) {
            handled_on = std::this_thread::get_id();
            in_handler = true;
            std::this_thread::sleep_for(30ms);
            in_handler = false;
            return LRESULT(wp * 2 + WPARAM(lp));
        }
        return def_window_proc(w, m, wp, lp);
    });
    EXPECT_EQ(send_message(ui.h, WM_APP + 1, 20, 2), 42);
    EXPECT_FALSE(in_handler.load()); // the sender waited for the end of the handler
    EXPECT_EQ(handled_on.load(), ui.th.get_id());
    ui.stop();
    EXPECT_EQ(ui.exit_code.load(), 0);
}

TEST(Messages, TwoThreadsSendingToEachOtherDoNotBlock) {
    // A's handler sends to B while B's handler sends to A: each waiting sender answers what it is sent.
    std::promise<Hwnd> b_made;
    auto b_future = b_made.get_future();
    Hwnd a_handle;
    std::atomic<Hwnd*> a_ptr{&a_handle};
    UiThread b([&](Hwnd w, unsigned m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_APP + 99) post_quit_message(0);
        if (m == WM_APP + 1) return send_message(*a_ptr.load(), WM_APP + 2) + 1;
        return def_window_proc(w, m, wp, lp);
    });
    a_handle = create_window(plain_spec(), [&](Hwnd w, unsigned m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_APP + 2) return 10;
        return def_window_proc(w, m, wp, lp);
    });
    EXPECT_EQ(send_message(b.h, WM_APP + 1), 11);
    b.stop();
    destroy_window(a_handle);
}

TEST(Messages, SendToAWindowThatIsDestroyedMeanwhileReturns) {
    std::atomic<bool> release{false};
    UiThread ui([&](Hwnd w, unsigned m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_APP + 99) post_quit_message(0);
        if (m == WM_APP + 5) {
            while (!release) std::this_thread::sleep_for(1ms);
            post_quit_message(0);
        }
        return def_window_proc(w, m, wp, lp);
    });
    post_message(ui.h, WM_APP + 5);
    auto sent = std::async(std::launch::async, [&] { return send_message(ui.h, WM_APP + 6); });
    std::this_thread::sleep_for(20ms);
    release = true;
    // The loop ends and the thread destroys the window with the send still queued: the sender gets 0.
    EXPECT_EQ(sent.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(sent.get(), 0);
    ui.th.join();
}

} // namespace
