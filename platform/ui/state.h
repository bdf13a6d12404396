// The window system's shared state and the helpers its files share. Internal to platform/ui: callers include
// platform/ui/ui.h.
//
// One System per process. Its mutex `m` guards everything in it, every WindowData and every Queue (the queue's
// pump excepted, which has its own lock). Functions whose names end in `_locked`, and those marked "lock held",
// need it held by the caller. Window procedures, observers and an event pump's wait and poll are never called
// with it held: a change is made inside a Tx, which tells the observers once the lock is released. A pump's wake
// is called with it held (it only wakes its thread and takes at most its own lock after this one). A sender
// waits on its SendState's lock without this one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/ui/ui.h"

namespace kavro::ui::detail {

using Clock = std::chrono::steady_clock;

// A window or control and the state of its class.
struct WindowData {
    Hwnd h;
    WindowClass cls = WindowClass::Window;
    std::string class_name;
    unsigned style = 0, ex_style = 0;
    int id = 0;
    std::string text;
    Rect rect; // child: in parent client coordinates; top level: client area on screen
    Rect normal_rect;
    Hwnd parent, owner;
    std::vector<Hwnd> children;
    std::thread::id thread;
    WindowProc proc;
    bool dialog = false, modal = false, modal_ended = false;
    LRESULT modal_result = 0;
    int template_id = 0;
    unsigned check = BST_UNCHECKED;
    ProgressState progress;
    std::vector<std::string> items;
    int sel = CB_ERR;
    std::array<int, 4> ip{-1, -1, -1, -1};
    std::string url;
    std::shared_ptr<Canvas> canvas;
    std::shared_ptr<const VideoFrame> frame;
    bool has_menu = false;
    std::vector<MenuItem> menu;
    bool invalid = false, iconic = false, zoomed = false;
};

// A message sent from another thread: the sender waits on it until the owner thread has handled the message.
struct SendState {
    std::mutex m; // guards done and result
    std::condition_variable cv;
    bool done = false;
    LRESULT result = 0;
    void finish(LRESULT r);
};

struct SentItem {
    Msg msg;
    std::shared_ptr<SendState> state;
};

// How a thread waits when no front end installed its own pump.
class PlainPump final : public EventPump {
public:
    void wait(std::optional<Clock::time_point> deadline) override;
    void wake() override;

private:
    std::mutex m_; // guards woken_
    std::condition_variable cv_;
    bool woken_ = false;
};

// The message queue of one thread.
struct Queue {
    std::thread::id thread;
    std::deque<Msg> posted;
    std::deque<SentItem> sent;
    bool quit = false;
    int quit_code = 0;
    bool dead = false; // the thread has ended: nothing more is queued
    EventPump* custom = nullptr;
    PlainPump plain;
    EventPump& pump() { return custom ? *custom : plain; }
};

struct Timer {
    Hwnd h;
    unsigned id = 0;
    std::thread::id thread;
    Clock::duration period;
    Clock::time_point due;
};

struct System {
    std::mutex m; // guards everything below, every WindowData and every Queue
    std::uint32_t next_handle = 0x10;
    std::unordered_map<std::uint32_t, std::unique_ptr<WindowData>> windows;
    std::vector<Hwnd> order; // every window in creation order
    std::map<std::thread::id, std::shared_ptr<Queue>> queues;
    std::vector<Timer> timers;
    std::vector<Monitor> monitors{Monitor{Rect{0, 0, 1280, 1024}, true}};
    Hwnd foreground;
    std::map<int, Observer> observers;
    int next_token = 1;
};

// The window system is one per process.
System& state();

// Tells every observer about the events, in order (observers.cpp). Takes the lock briefly: call it without.
void notify(const std::vector<Event>& events);

// A locked section that tells the observers about its changes once the lock is released.
struct Tx {
    std::unique_lock<std::mutex> lk{state().m};
    std::vector<Event> events;
    void add(Event::Kind k, Hwnd h) { events.push_back(Event{k, h}); }
    void done() {
        if (lk.owns_lock()) lk.unlock();
        auto ev = std::move(events);
        events.clear();
        notify(ev);
    }
    ~Tx() { done(); }
};

// Lookup and window geometry (state.cpp); lock held.
WindowData* find(Hwnd h);
WindowData* find_child(Hwnd parent, int id);
bool top_level(const WindowData& w);
FrameInsets insets_of(const WindowData& w);
Rect clamp_size(Rect r);
// It and all its parents are visible / none of them is disabled. Null: visible, enabled.
bool visible_chain(const WindowData* w);
bool enabled_chain(const WindowData* w);
// The maximised client area on the primary monitor; the side and bottom borders lie off the screen.
Rect maximised_client(const WindowData& w);

// Windows (windows.cpp); lock held. Gives the window a handle and the calling thread, and files it.
Hwnd new_window_locked(std::unique_ptr<WindowData> w);

// Controls (controls.cpp): a control of `parent` from its template, at rectangle r (pixels).
std::unique_ptr<WindowData> control_data(const ControlTemplate& t, Rect r, Hwnd parent);

// Dialogs (dialogs.cpp): what a dialog does with a message its procedure left alone.
LRESULT default_dialog(Hwnd h, unsigned msg, WPARAM wp, LPARAM lp);

// Menus (menus.cpp): the command item with this id, searched through the popups.
MenuItem* find_menu_item(std::vector<MenuItem>& items, int id);

// Message queues (messages.cpp).
Queue& my_queue_locked(); // the calling thread's queue, made on first use
std::shared_ptr<Queue> queue_for(std::thread::id t); // lock held; null when that thread has none
void wake_thread(std::thread::id t);                 // lock held
// Calls the window procedure (without the lock), with the default handling of dialogs and plain windows.
LRESULT call_proc(Hwnd h, unsigned msg, WPARAM wp, LPARAM lp);

// Painting (painting.cpp); lock held. The first window of thread t, in creation order, that waits for WM_PAINT.
const WindowData* window_to_paint_locked(std::thread::id t);

// Timers (timers.cpp); lock held. The due timer of thread t that is most overdue, else null; `deadline` gets
// the earliest due time of the thread's timers.
Timer* due_timer_locked(std::thread::id t, Clock::time_point now, std::optional<Clock::time_point>& deadline);

} // namespace kavro::ui::detail
