// The message queue: post, blocking send across threads, quit, timers, painting, modal dialogs, message boxes
// and the error trace.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/ui/error_trace.h"
#include "platform/ui/ui.h"

using namespace kavro::ui;
using namespace std::chrono_literals;

namespace {

WindowSpec plain_spec() {
    WindowSpec s;
    s.class_name = "std";
    s.title = "test";
    s.style = WS_POPUP | WS_VISIBLE;
    s.rect = {0, 0, 320, 240};
    return s;
}

// Runs a window with its own thread and message loop, like a program's UI thread.
struct UiThread {
    std::promise<Hwnd> made;
    std::atomic<int> exit_code{-1};
    std::thread th;
    Hwnd h;
    explicit UiThread(WindowProc proc) {
        th = std::thread([this, proc] {
            const Hwnd w = create_window(plain_spec(), proc);
            made.set_value(w);
            exit_code = run_message_loop();
            destroy_window(w);
        });
        h = made.get_future().get();
    }
    void stop() {
        if (th.joinable()) {
            post_message(h, WM_APP + 99);
            th.join();
        }
    }
    ~UiThread() { stop(); }
};

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

TEST(Painting, InvalidatedVisibleWindowGetsOneWmPaint) {
    int paints = 0;
    const Hwnd h = create_window(plain_spec(), [&](Hwnd w, unsigned m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_PAINT) ++paints;
        return def_window_proc(w, m, wp, lp);
    });
    pump_messages(); // the first showing paints
    EXPECT_EQ(paints, 1);
    invalidate_rect(h);
    invalidate_rect(h);
    EXPECT_TRUE(needs_paint(h));
    pump_messages();
    EXPECT_EQ(paints, 2);
    EXPECT_FALSE(needs_paint(h));
    show_window(h, SW_HIDE);
    invalidate_rect(h);
    pump_messages();
    EXPECT_EQ(paints, 2); // hidden windows are not painted
    show_window(h, SW_SHOW);
    pump_messages();
    EXPECT_EQ(paints, 3);
    destroy_window(h);
}

TEST(ModalDialogs, DialogBoxRunsUntilEndDialogAndDisablesItsOwner) {
    const Hwnd owner = create_window(plain_spec(), def_window_proc);
    DialogTemplate about;
    about.id = 102;
    about.caption = "About";
    about.rect = {0, 0, 150, 60};
    about.controls = {{IDOK, WindowClass::Button, "OK", {50, 40, 50, 14}, WS_VISIBLE | BS_DEFPUSHBUTTON}};
    std::atomic<bool> owner_disabled{false};
    Hwnd seen;
    // The operator presses OK once the box is up.
    const LRESULT r = dialog_box(
        about,
        [&](Hwnd d, unsigned m, WPARAM wp, LPARAM) -> LRESULT {
            if (m == WM_INITDIALOG) {
                seen = d;
                owner_disabled = !is_window_enabled(owner);
                post_message(d, WM_APP);
                return 1;
            }
            if (m == WM_APP) {
                EXPECT_EQ(get_last_active_popup(owner), d);
                user::click(get_dlg_item(d, IDOK));
            }
            if (m == WM_COMMAND && (loword(wp) == IDOK || loword(wp) == IDCANCEL)) {
                end_dialog(d, LRESULT(loword(wp)));
                return 1;
            }
            return 0;
        },
        owner);
    EXPECT_EQ(r, IDOK);
    EXPECT_TRUE(owner_disabled.load());
    EXPECT_TRUE(is_window_enabled(owner));
    EXPECT_FALSE(is_window(seen));
    EXPECT_EQ(get_last_active_popup(owner), owner);
    destroy_window(owner);
}

TEST(Foreground, BringToFrontRestoresAMinimisedWindow) {
    const Hwnd h = create_window(plain_spec(), def_window_proc);
    show_window(h, SW_MINIMIZE);
    EXPECT_TRUE(is_iconic(h));
    EXPECT_TRUE(bring_to_front(h));
    EXPECT_FALSE(is_iconic(h));
    EXPECT_EQ(get_foreground_window(), h);
    destroy_window(h);
    EXPECT_FALSE(bring_to_front(h));
}

TEST(ErrorTrace, NamesSourceLocationAndResultCodeInAMessageBox) {
    EXPECT_EQ(result_text(E_FAIL), "E_FAIL");
    EXPECT_EQ(result_text(HRESULT(0x80040216u)), "VFW_E_NOT_FOUND");
    EXPECT_EQ(result_text(HRESULT(0x8badf00du)), "Unknown");
    std::string text, caption;
    unsigned flags = 0;
    auto old = set_message_box_presenter([&](const std::string& t, const std::string& c, unsigned f) {
        text = t;
        caption = c;
        flags = f;
        return IDOK;
    });
    EXPECT_EQ(error_trace("InterfaceKAVRO", 785, E_POINTER), E_POINTER);
    set_message_box_presenter(old);
    EXPECT_EQ(text, "File: InterfaceKAVRO\nLine: 785\nError Code: E_POINTER (0x80004003)");
    EXPECT_EQ(caption, "Unexpected error encountered");
    EXPECT_EQ(flags & 0xF0, MB_ICONERROR);
    EXPECT_EQ(error_trace_text("InterfaceKAVRO", 211, E_FAIL, "GetConfig"),
              "File: InterfaceKAVRO\nLine: 211\nError Code: E_FAIL (0x80004005)\nCalling: GetConfig");
    register_result_text(HRESULT(0x8badf00du), "E_TEST");
    EXPECT_EQ(result_text(HRESULT(0x8badf00du)), "E_TEST");
}

} // namespace
