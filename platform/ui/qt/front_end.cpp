#include "platform/ui/qt/front_end.h"
#include "platform/ui/qt/controls.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QStyleFactory>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

namespace kavro::ui::qt {

namespace {

using Clock = std::chrono::steady_clock;

enum class WindowShow { Normal, Minimised, Maximised };

QString qs(const std::string& s) { return QString::fromStdString(s); }

// Waiting for model messages while Qt's events flow.
class QtPump final : public EventPump {
public:
    QtPump() : dispatcher_(QAbstractEventDispatcher::instance(QThread::currentThread())) {}
    void wait(std::optional<Clock::time_point> deadline) override {
        QTimer timer;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            timer.setSingleShot(true);
            timer.setTimerType(Qt::PreciseTimer);
            timer.start(int(std::max<long long>(left, 0)));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        last_ = Clock::now();
    }
    void wake() override {
        if (dispatcher_) dispatcher_->wakeUp();
    }
    void poll() override {
        const auto now = Clock::now();
        if (now - last_ < std::chrono::milliseconds(10)) return;
        last_ = now;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

private:
    QAbstractEventDispatcher* dispatcher_;
    Clock::time_point last_ = Clock::now();
};

// A top-level window's frame: the close box and Esc go to the model, which decides.
class TopWindow : public QWidget {
public:
    explicit TopWindow(Hwnd h) : h_(h) {}
    bool model_closing = false;
    std::function<void()> state_changed; // minimised, restored or maximised by the window manager

protected:
    void changeEvent(QEvent* e) override {
        QWidget::changeEvent(e);
        if (e->type() == QEvent::WindowStateChange && state_changed) state_changed();
    }
    void closeEvent(QCloseEvent* e) override {
        if (model_closing) return;
        e->ignore();
        user::close(h_);
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape) {
            user::press_escape(h_);
            return;
        }
        QWidget::keyPressEvent(e);
    }

private:
    Hwnd h_;
};

// The system's dialog look for a top-level window and everything in it.
void give_dialog_look(QWidget& top) {
    // The dialog font: 8 points at 96 dots per inch, in a face as narrow as the system's.
    QFont f = top.font();
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                   QStringLiteral("DejaVu Sans Condensed")});
    f.setPixelSize(11);
    top.setFont(f);
    // Check marks and radio dots as small as the system's, so the texts fit the rectangles they were laid out for.
    top.setStyleSheet(QStringLiteral("QRadioButton, QCheckBox { spacing: 3px; }"
                                     "QRadioButton::indicator, QCheckBox::indicator { width: 11px; height: 11px; }"));
}

// A message box's icon and buttons from its flags.
void set_box_look(QMessageBox& box, unsigned flags) {
    switch (flags & MB_ICONMASK) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MB_YESNOCANCEL: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel); break;
    case MB_YESNO: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MB_RETRYCANCEL: box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel); break;
    default: box.setStandardButtons(QMessageBox::Ok); break;
    }
}

// The answer of a message box closed with `button` (no button: closed otherwise, OK for a box with only OK).
int box_answer(QMessageBox::StandardButton button, unsigned flags) {
    switch (button) {
    case QMessageBox::Ok: return IDOK;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Retry: return IDRETRY;
    case QMessageBox::Cancel: return IDCANCEL;
    default: return (flags & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
    }
}

// The screens as the model's monitors, the primary first.
std::vector<Monitor> screens_as_monitors() {
    std::vector<Monitor> list;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (const QScreen* s : QGuiApplication::screens()) {
        const QRect g = s->availableGeometry();
        Monitor m{Rect{g.x(), g.y(), g.width(), g.height()}, s == primary};
        if (m.primary) list.insert(list.begin(), m);
        else list.push_back(m);
    }
    return list;
}

} // namespace

struct FrontEnd::Impl final : ControlEvents {
    struct Entry {
        QPointer<QWidget> widget;
        QPointer<QWidget> client; // top-level: the client area
        QPointer<QMenuBar> menubar;
        std::map<int, QPointer<QAction>> actions;
        bool top = false;
        // The state the model last asked the window manager for, and until when its answer is awaited: on the
        // way there the window manager may report passing states (restored from minimised, but not yet
        // maximised) that must not become the model's state.
        std::optional<WindowShow> asked;
        Clock::time_point asked_until{};
        bool asked_again = false;
        const ControlAdapter* adapter = nullptr; // a control's kind
        QPoint placed; // top-level: the model's position last given to Qt
    };

    std::unique_ptr<QApplication> owned_app;
    QThread* gui = nullptr;
    std::unique_ptr<QObject> context;
    std::unordered_map<std::uint32_t, Entry> entries;
    std::unique_ptr<QtPump> pump;
    // Widgets of destroyed windows waiting for their deletion; the front end deletes those still left when it
    // ends (a window destroyed just before the loop ended is never deleted by Qt, nor is its browser's page).
    std::vector<QPointer<QWidget>> doomed;
    int observer = 0;
    MessageBoxPresenter previous_presenter;
    bool resizing_from_qt = false;

    Entry* entry(Hwnd h) {
        auto it = entries.find(h.value);
        return it == entries.end() ? nullptr : &it->second;
    }

    void on_event(const Event& e) {
        if (QThread::currentThread() == gui) {
            handle(e);
            return;
        }
        QMetaObject::invokeMethod(context.get(), [this, e] { handle(e); }, Qt::QueuedConnection);
    }

    void handle(const Event& e) {
        switch (e.kind) {
        case Event::Created: create(e.hwnd); break;
        case Event::Destroyed: destroy(e.hwnd); break;
        case Event::Moved:
        case Event::Text:
        case Event::State:
        case Event::Foreground: sync(e.hwnd); break;
        case Event::Menu: sync_menu(e.hwnd); break;
        case Event::Canvas:
        case Event::Frame:
        case Event::Invalidated:
            if (Entry* en = entry(e.hwnd)) {
                if (en->client) en->client->update();
                else if (en->widget) en->widget->update();
            }
            break;
        }
    }

    void create(Hwnd h) {
        if (!is_window(h) || entry(h)) return;
        const Hwnd parent = get_parent(h);
        if (!parent || !(get_style(h) & WS_CHILD)) {
            create_top(h);
        } else {
            Entry* pe = entry(parent);
            if (!pe) return;
            QWidget* host = pe->client ? pe->client.data() : pe->widget.data();
            if (!host) return;
            const ControlAdapter& adapter = adapter_for(get_class(h), get_style(h));
            Entry& en = entries[h.value]; // references into the map stay valid
            en.adapter = &adapter;
            en.widget = adapter.create(h, host, *this);
            if (adapter.is_client_area()) en.client = en.widget;
        }
        sync(h);
    }

    void create_top(Hwnd h) {
        auto* top = new TopWindow(h);
        top->state_changed = [this, h] { qt_state_changed(h); };
        give_dialog_look(*top);
        const unsigned style = get_style(h);
        // No caption, or a window that can be maximised but has no sizing border (it is shown maximised and
        // covers the screen): no frame of the window manager, which would offer a sizing border.
        if ((style & WS_CAPTION) != WS_CAPTION || ((style & WS_MAXIMIZEBOX) && !(style & WS_THICKFRAME)))
            top->setWindowFlag(Qt::FramelessWindowHint);
        if (is_modal(h)) top->setWindowModality(Qt::ApplicationModal);
        auto* lay = new QVBoxLayout(top);
        lay->setContentsMargins(0, 0, 0, 0);
        lay->setSpacing(0);
        const Rect outer = get_window_rect(h);
        Entry en;
        en.top = true;
        en.widget = top;
        en.placed = QPoint(outer.x, outer.y);
        if (has_menu(h)) {
            en.menubar = new QMenuBar(top);
            lay->setMenuBar(en.menubar);
        }
        QWidget* client = make_client_area(h, top, [this, h](int w, int hh) { qt_resized(h, w, hh); });
        client->setAutoFillBackground(true);
        lay->addWidget(client, 1);
        en.client = client;
        entries[h.value] = en;
        if (en.menubar) build_menu(h);
        const Rect c = get_client_rect(h);
        const int menu_h = en.menubar ? en.menubar->sizeHint().height() : 0;
        top->resize(std::max(c.w, 1), std::max(c.h + menu_h, 1));
        top->move(outer.x, outer.y);
    }

    void clicked(Hwnd h) override {
        user::click(h);
        sync(h); // the control shows the model's check state, whatever Qt toggled
        for (Hwnd s : get_children(get_parent(h)))
            if (get_class(s) == WindowClass::Button) sync(s);
    }

    void resync(Hwnd h) override { sync(h); }

    void qt_resized(Hwnd h, int w, int hh) {
        Entry* en = entry(h);
        if (!en || !en->top) return;
        const Rect c = get_client_rect(h);
        // A size change keeps the state the model has; changes of state come from qt_state_changed (a resize
        // seen halfway through the window manager's restore must not turn a maximised window into a normal one).
        if (is_iconic(h) || (c.w == w && c.h == hh)) return;
        const WPARAM type = is_zoomed(h) ? SIZE_MAXIMIZED : SIZE_RESTORED;
        resizing_from_qt = true;
        user::resized(h, w, hh, type);
        resizing_from_qt = false;
    }

    // The window manager minimised or restored the window: the model follows, so that a request to bring the
    // window to the front restores it.
    void qt_state_changed(Hwnd h) {
        Entry* en = entry(h);
        if (!en || !en->top || !en->client || !en->widget) return;
        // Qt echoes the request at once; a report between normal and maximised against it meanwhile may be a
        // state on the window manager's way: settle_state looks again when the answer time is over.
        if (en->asked && Clock::now() < en->asked_until && on_the_way(*en->asked, shown_as(*en->widget))) return;
        if (en->widget->isMinimized()) {
            if (is_iconic(h)) return;
            const Rect c = get_client_rect(h);
            resizing_from_qt = true;
            user::resized(h, c.w, c.h, SIZE_MINIMIZED);
            resizing_from_qt = false;
            return;
        }
        const WPARAM type = en->widget->isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED;
        if (!is_iconic(h) && (type == SIZE_MAXIMIZED) == is_zoomed(h)) return;
        resizing_from_qt = true;
        user::resized(h, en->client->width(), en->client->height(), type);
        resizing_from_qt = false;
    }

    void destroy(Hwnd h) {
        auto it = entries.find(h.value);
        if (it == entries.end()) return;
        QPointer<QWidget> w = it->second.widget;
        const bool top = it->second.top;
        entries.erase(it);
        if (!w) return;
        if (top) static_cast<TopWindow*>(w.data())->model_closing = true;
        w->hide();
        // Deleted once the current Qt handler (perhaps this very widget's) has returned.
        std::erase_if(doomed, [](const QPointer<QWidget>& d) { return d.isNull(); });
        doomed.push_back(w);
        QTimer::singleShot(0, context.get(), [w] { delete w.data(); });
    }

    void build_menu(Hwnd h) {
        Entry* en = entry(h);
        if (!en || !en->menubar) return;
        en->menubar->clear();
        en->actions.clear();
        std::function<void(QMenu*, const std::vector<MenuItem>&)> fill = [&](QMenu* m,
                                                                           const std::vector<MenuItem>& items) {
            for (const auto& it : items) {
                if (!it.popup.empty()) {
                    fill(m->addMenu(qs(it.text)), it.popup);
                } else if (it.id == 0 && it.text.empty()) {
                    m->addSeparator();
                } else {
                    QAction* a = m->addAction(qs(it.text));
                    const int id = it.id;
                    QObject::connect(a, &QAction::triggered, a, [this, h, id] {
                        user::choose_menu(h, id);
                        sync_menu(h);
                    });
                    en->actions[id] = a;
                }
            }
        };
        for (const auto& top : get_menu(h)) {
            if (top.popup.empty()) {
                QAction* a = en->menubar->addAction(qs(top.text));
                const int id = top.id;
                QObject::connect(a, &QAction::triggered, a, [h, id] { user::choose_menu(h, id); });
                en->actions[id] = a;
            } else {
                fill(en->menubar->addMenu(qs(top.text)), top.popup);
            }
        }
        sync_menu(h);
    }

    void sync_menu(Hwnd h) {
        Entry* en = entry(h);
        if (!en) return;
        for (auto& [id, a] : en->actions) {
            if (!a) continue;
            const bool checked = menu_item_checked(h, id);
            a->setCheckable(checked);
            a->setChecked(checked);
            a->setEnabled(menu_item_enabled(h, id));
        }
    }

    void sync(Hwnd h) {
        Entry* en = entry(h);
        if (!en || !en->widget || !is_window(h)) return;
        if (en->top) {
            sync_top(h, *en);
            return;
        }
        QWidget* w = en->widget;
        const unsigned style = get_style(h);
        const Rect r = en->adapter->shown_rect(*w, get_child_rect(h));
        if (w->geometry() != QRect(r.x, r.y, r.w, r.h)) w->setGeometry(r.x, r.y, r.w, r.h);
        w->setEnabled(!(style & WS_DISABLED));
        en->adapter->sync(h, *w, get_window_text(h), r);
        w->setVisible(style & WS_VISIBLE);
    }

    void sync_top(Hwnd h, Entry& en) {
        auto* top = static_cast<QWidget*>(en.widget.data());
        const unsigned style = get_style(h);
        top->setWindowTitle(qs(get_window_text(h)));
        top->setEnabled(!(style & WS_DISABLED));
        if (!resizing_from_qt && !is_zoomed(h) && !is_iconic(h)) {
            const Rect c = get_client_rect(h);
            const int menu_h = en.menubar ? en.menubar->sizeHint().height() : 0;
            if (en.client && en.client->size() != QSize(c.w, c.h)) top->resize(c.w, c.h + menu_h);
            // The program moved the window (e.g. onto another monitor). The operator's own moves do not reach
            // the model, so comparing with the last position applied leaves them alone.
            const Rect outer = get_window_rect(h);
            if (const QPoint at(outer.x, outer.y); at != en.placed) {
                en.placed = at;
                top->move(at);
            }
        }
        if (!(style & WS_VISIBLE)) {
            top->hide();
        } else {
            const WindowShow want = is_iconic(h) ? WindowShow::Minimised
                                    : is_zoomed(h) ? WindowShow::Maximised
                                                   : WindowShow::Normal;
            const WindowShow shown = shown_as(*top);
            const bool awaited = en.asked == want && Clock::now() < en.asked_until && on_the_way(want, shown);
            if ((!top->isVisible() || shown != want) && !awaited) ask_window_manager(h, en, want, false);
        }
        if (get_foreground_window() == h && top->isVisible()) {
            top->raise();
            top->activateWindow();
        }
        en.client->update();
    }

    static WindowShow shown_as(const QWidget& top) {
        // Minimised after being maximised, Qt's state holds both: minimised is what shows.
        if (top.isMinimized()) return WindowShow::Minimised;
        return top.isMaximized() ? WindowShow::Maximised : WindowShow::Normal;
    }

    // Minimising is always the operator's (or the window manager's) decision, never a passing state.
    static bool on_the_way(WindowShow asked, WindowShow shown) {
        return asked != shown && asked != WindowShow::Minimised && shown != WindowShow::Minimised;
    }

    // Shows the window as the model wants it and waits (without blocking) for the window manager's answer.
    void ask_window_manager(Hwnd h, Entry& en, WindowShow want, bool again) {
        constexpr auto answer_time = std::chrono::seconds(2);
        en.asked = want;
        en.asked_until = Clock::now() + answer_time;
        en.asked_again = again;
        switch (want) {
        case WindowShow::Minimised: en.widget->showMinimized(); break;
        case WindowShow::Maximised: en.widget->showMaximized(); break;
        case WindowShow::Normal: en.widget->showNormal(); break;
        }
        QTimer::singleShot(answer_time + std::chrono::milliseconds(100), context.get(), [this, h] { settle_state(h); });
    }

    // The answer time is over. A window manager that settled elsewhere is asked once more (it may have lost the
    // request on the way, as when restoring from minimised); after that the model follows what it shows.
    void settle_state(Hwnd h) {
        Entry* en = entry(h);
        if (!en || !en->asked || !en->widget || Clock::now() < en->asked_until) return;
        const WindowShow want = *en->asked;
        if (on_the_way(want, shown_as(*en->widget)) && !en->asked_again && en->widget->isVisible()) {
            ask_window_manager(h, *en, want, true);
            return;
        }
        en->asked.reset();
        qt_state_changed(h);
    }

    int present_box(const std::string& text, const std::string& caption, unsigned flags) {
        QMessageBox box;
        box.setWindowTitle(qs(caption));
        box.setText(qs(text));
        set_box_look(box, flags);
        box.setWindowModality(Qt::ApplicationModal);
        bool done = false;
        QObject::connect(&box, &QMessageBox::finished, &box, [&done] { done = true; });
        box.open();
        // As the system's message box does, keep handling this thread's messages (timers, sends) meanwhile.
        while (!done) {
            if (!pump_messages()) {
                box.reject();
                break;
            }
            if (done) break;
            pump->wait(Clock::now() + std::chrono::milliseconds(10));
        }
        return box_answer(box.standardButton(box.clickedButton()), flags);
    }

    int present(const std::string& text, const std::string& caption, unsigned flags) {
        if (QThread::currentThread() == gui) return present_box(text, caption, flags);
        int answer = IDCANCEL;
        QMetaObject::invokeMethod(
            context.get(), [&] { answer = present_box(text, caption, flags); }, Qt::BlockingQueuedConnection);
        return answer;
    }
};

FrontEnd::FrontEnd(int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
    if (!QApplication::instance()) {
        impl_->owned_app = std::make_unique<QApplication>(argc, argv);
        if (QStyleFactory::keys().contains(QStringLiteral("Fusion")))
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    }
    impl_->gui = QThread::currentThread();
    impl_->context = std::make_unique<QObject>();
    impl_->pump = std::make_unique<QtPump>();

    if (const auto list = screens_as_monitors(); !list.empty()) set_monitors(list);

    set_thread_event_pump(impl_->pump.get());
    Impl* impl = impl_.get();
    impl_->observer = add_observer([impl](const Event& e) { impl->on_event(e); });
    impl_->previous_presenter = set_message_box_presenter(
        [impl](const std::string& t, const std::string& c, unsigned f) { return impl->present(t, c, f); });
    // Windows that exist already.
    for (Hwnd h : top_level_windows()) {
        impl_->create(h);
        std::vector<Hwnd> stack = get_children(h);
        while (!stack.empty()) {
            const Hwnd c = stack.front();
            stack.erase(stack.begin());
            impl_->create(c);
            for (Hwnd cc : get_children(c)) stack.push_back(cc);
        }
    }
}

FrontEnd::~FrontEnd() {
    remove_observer(impl_->observer);
    set_message_box_presenter(impl_->previous_presenter);
    set_thread_event_pump(nullptr);
    for (auto& [k, en] : impl_->entries)
        if (en.top && en.widget) {
            static_cast<TopWindow*>(en.widget.data())->model_closing = true;
            delete en.widget.data();
        }
    impl_->entries.clear();
    for (const QPointer<QWidget>& w : impl_->doomed) delete w.data();
    impl_->doomed.clear();
    impl_->context.reset();
}

QWidget* FrontEnd::widget(Hwnd h) const {
    auto* en = impl_->entry(h);
    return en ? en->widget.data() : nullptr;
}

QWidget* FrontEnd::client_area(Hwnd h) const {
    auto* en = impl_->entry(h);
    return en ? en->client.data() : nullptr;
}

} // namespace kavro::ui::qt
