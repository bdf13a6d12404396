// The message queues: one per thread that owns windows, made on first use and answered and removed when the
// thread ends. Posting, sending across threads (the sender waits for the owner), quit, and the message loop,
// which also produces WM_PAINT and WM_TIMER.
#include "platform/ui/state.h"

namespace kavro::ui {

namespace detail {

void SendState::finish(LRESULT r) {
    std::lock_guard g(m);
    result = r;
    done = true;
    cv.notify_all();
}

void PlainPump::wait(std::optional<Clock::time_point> deadline) {
    std::unique_lock g(m_);
    if (deadline)
        cv_.wait_until(g, *deadline, [&] { return woken_; });
    else
        cv_.wait(g, [&] { return woken_; });
    woken_ = false;
}

void PlainPump::wake() {
    std::lock_guard g(m_);
    woken_ = true;
    cv_.notify_all();
}

namespace {

// The calling thread's queue: made on first use, answered and removed when the thread ends.
struct QueueHolder {
    std::shared_ptr<Queue> q;
    ~QueueHolder() {
        if (!q) return;
        std::deque<SentItem> pending;
        {
            std::lock_guard g(state().m);
            q->dead = true;
            pending.swap(q->sent);
            state().queues.erase(q->thread);
            std::erase_if(state().timers, [&](const Timer& t) { return t.thread == q->thread; });
        }
        for (auto& s : pending) s.state->finish(0);
    }
};
thread_local QueueHolder tl_queue;

// The calling thread's queue, made on first use.
std::shared_ptr<Queue> my_queue() {
    std::lock_guard g(state().m);
    my_queue_locked();
    return tl_queue.q;
}

// Handles the messages sent to this thread's windows by other threads.
void process_sent(Queue& q) {
    for (;;) {
        SentItem item;
        {
            std::lock_guard g(state().m);
            if (q.sent.empty()) return;
            item = std::move(q.sent.front());
            q.sent.pop_front();
        }
        item.state->finish(call_proc(item.msg.hwnd, item.msg.message, item.msg.wparam, item.msg.lparam));
    }
}

enum class Ready { None, Message, Quit };

// Lock held. Picks the next message: posted, quit, paint, timer. `deadline` gets the next timer's due time.
Ready next_ready_locked(Queue& q, Msg& out, bool remove, std::optional<Clock::time_point>& deadline) {
    deadline.reset();
    if (!q.posted.empty()) {
        out = q.posted.front();
        if (remove) q.posted.pop_front();
        return Ready::Message;
    }
    if (q.quit) {
        out = Msg{Hwnd{}, WM_QUIT, WPARAM(q.quit_code), 0};
        if (remove) q.quit = false;
        return Ready::Quit;
    }
    if (const WindowData* w = window_to_paint_locked(q.thread)) {
        out = Msg{w->h, WM_PAINT, 0, 0};
        return Ready::Message;
    }
    const auto now = Clock::now();
    if (Timer* due = due_timer_locked(q.thread, now, deadline)) {
        out = Msg{due->h, WM_TIMER, WPARAM(due->id), 0};
        if (remove) due->due = now + due->period;
        return Ready::Message;
    }
    return Ready::None;
}

// Waits for the owner thread to answer a sent message. Meanwhile it answers what is sent to this thread, so two
// threads sending to each other do not block each other; a window destroyed meanwhile answers 0.
LRESULT wait_for_answer(Hwnd h, SendState& st, const std::shared_ptr<Queue>& mine) {
    for (;;) {
        {
            std::unique_lock g(st.m);
            if (st.cv.wait_for(g, std::chrono::milliseconds(5), [&] { return st.done; })) return st.result;
        }
        if (mine) process_sent(*mine);
        if (!is_window(h)) {
            std::unique_lock g(st.m);
            return st.done ? st.result : 0;
        }
    }
}

} // namespace

Queue& my_queue_locked() {
    if (!tl_queue.q) {
        tl_queue.q = std::make_shared<Queue>();
        tl_queue.q->thread = std::this_thread::get_id();
        state().queues[tl_queue.q->thread] = tl_queue.q;
    }
    return *tl_queue.q;
}

std::shared_ptr<Queue> queue_for(std::thread::id t) {
    auto it = state().queues.find(t);
    return it == state().queues.end() ? nullptr : it->second;
}

void wake_thread(std::thread::id t) {
    if (auto q = queue_for(t)) q->pump().wake();
}

LRESULT call_proc(Hwnd h, unsigned msg, WPARAM wp, LPARAM lp) {
    WindowProc proc;
    bool dialog = false;
    {
        std::lock_guard g(state().m);
        WindowData* w = find(h);
        if (!w) return 0;
        proc = w->proc;
        dialog = w->dialog;
    }
    LRESULT r = 0;
    if (proc)
        r = proc(h, msg, wp, lp);
    else if (!dialog)
        return def_window_proc(h, msg, wp, lp);
    if (dialog && r == 0) default_dialog(h, msg, wp, lp);
    return r;
}

} // namespace detail

using namespace detail;

bool post_message(Hwnd h, unsigned msg, WPARAM wp, LPARAM lp) {
    std::lock_guard g(state().m);
    WindowData* w = find(h);
    if (!w) return false;
    auto q = queue_for(w->thread);
    if (!q || q->dead) return false;
    q->posted.push_back(Msg{h, msg, wp, lp});
    q->pump().wake();
    return true;
}

LRESULT send_message(Hwnd h, unsigned msg, WPARAM wp, LPARAM lp) {
    std::shared_ptr<SendState> st;
    std::shared_ptr<Queue> mine;
    {
        std::lock_guard g(state().m);
        WindowData* w = find(h);
        if (!w) return 0;
        if (w->thread != std::this_thread::get_id()) {
            auto q = queue_for(w->thread);
            if (!q || q->dead) return 0;
            st = std::make_shared<SendState>();
            q->sent.push_back(SentItem{Msg{h, msg, wp, lp}, st});
            q->pump().wake();
            mine = tl_queue.q;
        }
    }
    if (!st) return call_proc(h, msg, wp, lp);
    return wait_for_answer(h, *st, mine);
}

void post_quit_message(int code) {
    std::lock_guard g(state().m);
    Queue& q = my_queue_locked();
    q.quit = true;
    q.quit_code = code;
}

bool get_message(Msg& msg) {
    const std::shared_ptr<Queue> q = my_queue();
    for (;;) {
        {
            EventPump* p;
            {
                std::lock_guard g(state().m);
                p = &q->pump();
            }
            p->poll();
        }
        process_sent(*q);
        std::optional<Clock::time_point> deadline;
        Ready r;
        EventPump* pump;
        {
            std::lock_guard g(state().m);
            r = next_ready_locked(*q, msg, true, deadline);
            pump = &q->pump();
        }
        if (r == Ready::Message) return true;
        if (r == Ready::Quit) return false;
        pump->wait(deadline);
    }
}

bool peek_message(Msg& msg, bool remove) {
    const std::shared_ptr<Queue> q = my_queue();
    process_sent(*q);
    std::optional<Clock::time_point> deadline;
    std::lock_guard g(state().m);
    return next_ready_locked(*q, msg, remove, deadline) != Ready::None;
}

void translate_message(const Msg&) {}

LRESULT dispatch_message(const Msg& msg) {
    if (!msg.hwnd) return 0;
    const LRESULT r = call_proc(msg.hwnd, msg.message, msg.wparam, msg.lparam);
    if (msg.message == WM_PAINT) validate_rect(msg.hwnd);
    return r;
}

int run_message_loop() {
    Msg m;
    while (get_message(m)) {
        translate_message(m);
        dispatch_message(m);
    }
    return int(m.wparam);
}

bool pump_messages() {
    Msg m;
    while (peek_message(m, true)) {
        if (m.message == WM_QUIT) {
            post_quit_message(int(m.wparam));
            return false;
        }
        translate_message(m);
        dispatch_message(m);
    }
    return true;
}

void set_thread_event_pump(EventPump* pump) {
    std::lock_guard g(state().m);
    my_queue_locked().custom = pump;
}

} // namespace kavro::ui
