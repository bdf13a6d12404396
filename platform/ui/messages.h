// The message queues: one per thread that owns windows. Posting, sending across threads, the message loop and
// how a thread waits (the event pump a front end can install). Part of platform/ui/ui.h, which callers include.
#pragma once

#include <chrono>
#include <optional>

#include "platform/ui/types.h"

namespace kavro::ui {

// Messages.
struct Msg {
    Hwnd hwnd;
    unsigned message = 0;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
};
bool post_message(Hwnd w, unsigned msg, WPARAM wp = 0, LPARAM lp = 0);
LRESULT send_message(Hwnd w, unsigned msg, WPARAM wp = 0, LPARAM lp = 0);
void post_quit_message(int exit_code);
// Waits for the next message of the calling thread: sent messages are handled inside; answers false for WM_QUIT
// (its exit code in msg.wparam).
bool get_message(Msg& msg);
// The next message if one is ready now (sent messages are handled inside).
bool peek_message(Msg& msg, bool remove = true);
void translate_message(const Msg& msg);
LRESULT dispatch_message(const Msg& msg);
// get/translate/dispatch until WM_QUIT; answers its exit code.
int run_message_loop();
// Handles every message that is ready now, without waiting; answers false when WM_QUIT was met (it stays
// pending for the next get_message).
bool pump_messages();

// How a thread waits for messages. A front end installs its own so its events flow while the program waits.
class EventPump {
public:
    virtual ~EventPump() = default;
    // Waits until wake() or the deadline (none: no timeout). Spurious returns are fine.
    virtual void wait(std::optional<std::chrono::steady_clock::time_point> deadline) = 0;
    // Called from any thread when a message arrives for the pump's thread.
    virtual void wake() = 0;
    // Called by get_message on every turn, also when messages keep coming, so the front end's own events are
    // never starved by a busy queue. Must not block.
    virtual void poll() {}
};
// For the calling thread; null restores the plain wait. The pump must outlive its use.
void set_thread_event_pump(EventPump* pump);

} // namespace kavro::ui
