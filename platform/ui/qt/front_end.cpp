#include "platform/ui/qt/front_end.h"
#include "platform/ui/qt/text_fit.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyleFactory>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <unordered_map>

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

unsigned mouse_keys(Qt::MouseButtons b) {
    unsigned k = 0;
    if (b & Qt::LeftButton) k |= MK_LBUTTON;
    if (b & Qt::RightButton) k |= MK_RBUTTON;
    return k;
}

// Statics, video panes and plain windows: the latest video frame, else the canvas, else a frame and text.
class PaintArea : public QWidget {
public:
    PaintArea(Hwnd h, QWidget* parent) : QWidget(parent), h_(h) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const WindowClass cls = get_class(h_);
        if (auto f = current_frame(h_)) {
            const QImage img(reinterpret_cast<const uchar*>(f->pixels.data()), f->width, f->height, f->width * 4,
                             QImage::Format_RGB32);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(rect(), img);
            return;
        }
        if (cls == WindowClass::VideoPane) p.fillRect(rect(), Qt::black);
        if (auto c = window_canvas(h_); c && c->width() > 0 && c->height() > 0) {
            const QImage img(reinterpret_cast<const uchar*>(c->pixels().data()), c->width(), c->height(),
                             c->width() * 4, QImage::Format_RGB32);
            p.drawImage(0, 0, img);
            return;
        }
        const unsigned style = get_style(h_);
        const unsigned type = style & SS_TYPEMASK;
        if (cls == WindowClass::Static && (type >= 4 && type <= 9)) {
            p.setPen(type == 7 ? Qt::black : Qt::gray);
            p.drawRect(rect().adjusted(0, 0, -1, -1));
        } else if (cls == WindowClass::Static && type == SS_ETCHEDFRAME) {
            p.setPen(Qt::gray);
            p.drawRect(rect().adjusted(0, 0, -2, -2));
            p.setPen(Qt::white);
            p.drawRect(rect().adjusted(1, 1, -1, -1));
        }
        if (style & SS_SUNKEN) {
            p.setPen(Qt::gray);
            p.drawRect(rect().adjusted(0, 0, -1, -1));
        }
        const std::string text = cls == WindowClass::Static ? get_window_text(h_) : std::string();
        if (!text.empty()) {
            int align = Qt::AlignTop | Qt::TextWordWrap;
            align |= type == SS_CENTER ? Qt::AlignHCenter : type == SS_RIGHT ? Qt::AlignRight : Qt::AlignLeft;
            p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
            p.drawText(rect(), align, QString::fromStdString(text).replace("&&", "\x01").remove('&').replace(
                                          "\x01", "&"));
        }
    }

private:
    Hwnd h_;
};

// The client area of a top-level window (or a child plain window): mouse input in client coordinates.
class ClientArea : public PaintArea {
public:
    ClientArea(Hwnd h, QWidget* parent, std::function<void(int, int)> resized)
        : PaintArea(h, parent), h_(h), resized_(std::move(resized)) {
        setMouseTracking(true);
        setFocusPolicy(Qt::ClickFocus);
    }

protected:
    void mousePressEvent(QMouseEvent* e) override { send(e, true); }
    void mouseReleaseEvent(QMouseEvent* e) override { send(e, false); }
    void mouseMoveEvent(QMouseEvent* e) override {
        const QPoint p = e->position().toPoint();
        user::mouse(h_, WM_MOUSEMOVE, p.x(), p.y(), mouse_keys(e->buttons()));
    }
    void resizeEvent(QResizeEvent* e) override {
        if (resized_) resized_(e->size().width(), e->size().height());
    }

private:
    void send(QMouseEvent* e, bool down) {
        const QPoint p = e->position().toPoint();
        unsigned msg = 0;
        if (e->button() == Qt::LeftButton) msg = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        if (e->button() == Qt::RightButton) msg = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        if (msg) user::mouse(h_, msg, p.x(), p.y(), mouse_keys(e->buttons()));
    }
    Hwnd h_;
    std::function<void(int, int)> resized_;
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

// The web view pane without a browser engine: the address and a button for the desktop browser.
class WebPane : public QWidget {
public:
    WebPane(Hwnd h, QWidget* parent) : QWidget(parent), h_(h) {
        auto* lay = new QVBoxLayout(this);
        lay->setContentsMargins(8, 8, 8, 8);
        lay->addStretch();
        label_ = new QLabel(this);
        label_->setWordWrap(true);
        label_->setAlignment(Qt::AlignCenter);
        label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        button_ = new QPushButton(QStringLiteral("Open in the web browser"), this);
        lay->addWidget(label_);
        lay->addWidget(button_, 0, Qt::AlignHCenter);
        lay->addStretch();
        QObject::connect(button_, &QPushButton::clicked, this, [this] {
            const std::string url = web_location(h_);
            if (!url.empty()) QDesktopServices::openUrl(QUrl::fromUserInput(qs(url)));
        });
        setAutoFillBackground(true);
    }
    void sync() {
        const std::string url = web_location(h_);
        label_->setText(url.empty() ? QStringLiteral("(no page)") : qs(url));
        button_->setEnabled(!url.empty());
    }
    QPushButton* button() const { return button_; }

private:
    Hwnd h_;
    QLabel* label_;
    QPushButton* button_;
};

// A push button high enough for two lines breaks a text that does not fit on one, as multi-line buttons do.
QString button_text(const QAbstractButton* b, const std::string& text, const Rect& r, const QFont& font) {
    QString s = qs(text);
    if (!dynamic_cast<const QPushButton*>(b)) return s;
    const QFontMetrics fm(font);
    if (r.h < 2 * fm.height() + 6 || fm.horizontalAdvance(QString(s).remove('&')) + 8 <= r.w) return s;
    const int mid = int(s.size()) / 2;
    int best = -1;
    for (int i = 0; i < s.size(); ++i)
        if (s[i] == ' ' && (best < 0 || std::abs(i - mid) < std::abs(best - mid))) best = i;
    if (best >= 0) s[best] = '\n';
    return s;
}

std::array<int, 4> parse_ip(const QString& text) {
    std::array<int, 4> f{-1, -1, -1, -1};
    const QStringList parts = text.split('.');
    for (int i = 0; i < 4 && i < parts.size(); ++i) {
        bool ok = false;
        const int v = parts[i].trimmed().toInt(&ok);
        if (ok) f[std::size_t(i)] = std::clamp(v, 0, 255);
    }
    return f;
}

} // namespace

struct FrontEnd::Impl {
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
    };

    std::unique_ptr<QApplication> owned_app;
    QThread* gui = nullptr;
    std::unique_ptr<QObject> context;
    std::unordered_map<std::uint32_t, Entry> entries;
    std::unique_ptr<QtPump> pump;
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
            Entry& en = entries[h.value]; // references into the map stay valid
            en.widget = make_control(h, host);
        }
        sync(h);
    }

    void create_top(Hwnd h) {
        auto* top = new TopWindow(h);
        top->state_changed = [this, h] { qt_state_changed(h); };
        // The dialog font: 8 points at 96 dots per inch, in a face as narrow as the system's.
        QFont f = top->font();
        f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                       QStringLiteral("DejaVu Sans Condensed")});
        f.setPixelSize(11);
        top->setFont(f);
        // Check marks and radio dots as small as the system's, so the texts fit the rectangles they were laid
        // out for.
        top->setStyleSheet(QStringLiteral("QRadioButton, QCheckBox { spacing: 3px; }"
                                          "QRadioButton::indicator, QCheckBox::indicator { width: 11px; height: 11px; }"));
        const unsigned style = get_style(h);
        // No caption, or a window that can be maximised but has no sizing border (it is shown maximised and
        // covers the screen): no frame of the window manager, which would offer a sizing border.
        if ((style & WS_CAPTION) != WS_CAPTION || ((style & WS_MAXIMIZEBOX) && !(style & WS_THICKFRAME)))
            top->setWindowFlag(Qt::FramelessWindowHint);
        if (is_modal(h)) top->setWindowModality(Qt::ApplicationModal);
        auto* lay = new QVBoxLayout(top);
        lay->setContentsMargins(0, 0, 0, 0);
        lay->setSpacing(0);
        Entry en;
        en.top = true;
        en.widget = top;
        if (has_menu(h)) {
            en.menubar = new QMenuBar(top);
            lay->setMenuBar(en.menubar);
        }
        auto* client = new ClientArea(h, top, [this, h](int w, int hh) { qt_resized(h, w, hh); });
        client->setAutoFillBackground(true);
        lay->addWidget(client, 1);
        en.client = client;
        entries[h.value] = en;
        if (en.menubar) build_menu(h);
        const Rect c = get_client_rect(h);
        const int menu_h = en.menubar ? en.menubar->sizeHint().height() : 0;
        top->resize(std::max(c.w, 1), std::max(c.h + menu_h, 1));
        const Rect outer = get_window_rect(h);
        top->move(outer.x, outer.y);
    }

    QWidget* make_control(Hwnd h, QWidget* host) {
        const WindowClass cls = get_class(h);
        const unsigned style = get_style(h);
        QWidget* w = nullptr;
        switch (cls) {
        case WindowClass::Button: {
            const unsigned type = style & BS_TYPEMASK;
            if (type == BS_GROUPBOX) {
                w = new QGroupBox(host);
                w->setAttribute(Qt::WA_TransparentForMouseEvents);
            } else if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == 5 || type == 6) {
                auto* b = new QCheckBox(host);
                QObject::connect(b, &QCheckBox::clicked, b, [this, h] { clicked(h); });
                w = b;
            } else if (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) {
                auto* b = new QRadioButton(host);
                b->setAutoExclusive(false);
                QObject::connect(b, &QRadioButton::clicked, b, [this, h] { clicked(h); });
                w = b;
            } else {
                auto* b = new QPushButton(host);
                b->setAutoDefault(false);
                QObject::connect(b, &QPushButton::clicked, b, [this, h] { clicked(h); });
                w = b;
            }
            break;
        }
        case WindowClass::Edit: {
            auto* e = new QLineEdit(host);
            if (style & ES_NUMBER)
                e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
            if ((style & 0x3) == ES_CENTER) e->setAlignment(Qt::AlignCenter);
            QObject::connect(e, &QLineEdit::textEdited, e, [this, h](const QString& s) {
                if (!user::type_text(h, s.toStdString())) sync(h);
            });
            w = e;
            break;
        }
        case WindowClass::ComboBox: {
            auto* c = new QComboBox(host);
            QObject::connect(c, &QComboBox::activated, c, [this, h](int i) {
                user::select_item(h, i);
                sync(h);
            });
            w = c;
            break;
        }
        case WindowClass::Progress: {
            auto* p = new QProgressBar(host);
            p->setTextVisible(false);
            w = p;
            break;
        }
        case WindowClass::IpAddress: {
            auto* e = new QLineEdit(host);
            e->setValidator(new QRegularExpressionValidator(
                QRegularExpression(QStringLiteral("[0-9]{0,3}(\\.[0-9]{0,3}){0,3}")), e));
            QObject::connect(e, &QLineEdit::editingFinished, e, [this, h, e] {
                user::enter_ip_fields(h, parse_ip(e->text()));
                sync(h);
            });
            w = e;
            break;
        }
        case WindowClass::WebView: w = new WebPane(h, host); break;
        case WindowClass::Dialog:
        case WindowClass::Window: {
            auto* c = new ClientArea(h, host, {});
            entries[h.value].client = c;
            w = c;
            break;
        }
        case WindowClass::Static:
        case WindowClass::VideoPane:
        default:
            w = new PaintArea(h, host);
            w->setAttribute(Qt::WA_TransparentForMouseEvents);
            break;
        }
        return w;
    }

    void clicked(Hwnd h) {
        user::click(h);
        sync(h); // the control shows the model's check state, whatever Qt toggled
        for (Hwnd s : get_children(get_parent(h)))
            if (get_class(s) == WindowClass::Button) sync(s);
    }

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
        entries.erase(it);
        if (!w) return;
        if (auto* top = dynamic_cast<TopWindow*>(w.data())) top->model_closing = true;
        w->hide();
        // Deleted once the current Qt handler (perhaps this very widget's) has returned.
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
        QWidget* w = en->widget;
        const unsigned style = get_style(h);
        if (en->top) {
            sync_top(h, *en);
            return;
        }
        Rect r = get_child_rect(h);
        // A drop-down list's rectangle includes its dropped list; closed, it is as high as its field.
        if (get_class(h) == WindowClass::ComboBox) r.h = std::min(r.h, std::max(w->sizeHint().height(), 20));
        if (w->geometry() != QRect(r.x, r.y, r.w, r.h)) w->setGeometry(r.x, r.y, r.w, r.h);
        w->setEnabled(!(style & WS_DISABLED));
        const std::string text = get_window_text(h);
        switch (get_class(h)) {
        case WindowClass::Button:
            // Texts shrink their font as far as needed to fit the rectangle they were laid out for.
            if (auto* g = dynamic_cast<QGroupBox*>(w)) {
                g->setTitle(qs(text));
                fit_font(g, g->title(), w->window()->font());
            }
            if (auto* b = dynamic_cast<QAbstractButton*>(w)) {
                QSignalBlocker block(b);
                b->setText(button_text(b, text, r, w->window()->font()));
                fit_font(b, b->text(), w->window()->font());
                if (b->isCheckable()) b->setChecked(get_check(h) == BST_CHECKED);
            }
            break;
        case WindowClass::Static:
            fit_font(w, qs(text), w->window()->font());
            w->update();
            break;
        case WindowClass::Edit:
            if (auto* e = dynamic_cast<QLineEdit*>(w); e && e->text() != qs(text)) {
                QSignalBlocker block(e);
                e->setText(qs(text));
            }
            break;
        case WindowClass::IpAddress:
            if (auto* e = dynamic_cast<QLineEdit*>(w); e && !e->hasFocus()) {
                QSignalBlocker block(e);
                e->setText(ip_is_blank(h) ? QString() : qs(text));
            }
            break;
        case WindowClass::ComboBox:
            if (auto* c = dynamic_cast<QComboBox*>(w)) {
                QSignalBlocker block(c);
                const auto items = combo_items(h);
                bool same = c->count() == int(items.size());
                for (int i = 0; same && i < c->count(); ++i) same = c->itemText(i) == qs(items[std::size_t(i)]);
                if (!same) {
                    c->clear();
                    for (const auto& s : items) c->addItem(qs(s));
                }
                c->setCurrentIndex(combo_get_cur_sel(h));
            }
            break;
        case WindowClass::Progress:
            if (auto* p = dynamic_cast<QProgressBar*>(w)) {
                const ProgressState s = progress_state(h);
                p->setRange(std::min(s.low, s.high), std::max(s.low, s.high));
                p->setValue(s.pos);
                if (s.bar_colour) {
                    const QString sheet = QStringLiteral("QProgressBar::chunk { background-color: rgb(%1, %2, %3); }")
                                              .arg(s.bar_colour->r)
                                              .arg(s.bar_colour->g)
                                              .arg(s.bar_colour->b);
                    if (p->styleSheet() != sheet) p->setStyleSheet(sheet);
                }
            }
            break;
        case WindowClass::WebView:
            if (auto* web = dynamic_cast<WebPane*>(w)) web->sync();
            break;
        default: w->update(); break;
        }
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
        switch (flags & 0xF0) {
        case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
        case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
        case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
        case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
        default: break;
        }
        switch (flags & 0xF) {
        case MB_OKCANCEL: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
        case 3: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel); break;
        case MB_YESNO: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
        case 5: box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel); break;
        default: box.setStandardButtons(QMessageBox::Ok); break;
        }
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
        switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Ok: return IDOK;
        case QMessageBox::Yes: return IDYES;
        case QMessageBox::No: return IDNO;
        case QMessageBox::Retry: return 4;
        case QMessageBox::Cancel: return IDCANCEL;
        default: return (flags & 0xF) == MB_OK ? IDOK : IDCANCEL;
        }
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

    std::vector<Monitor> list;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (const QScreen* s : QGuiApplication::screens()) {
        const QRect g = s->availableGeometry();
        Monitor m{Rect{g.x(), g.y(), g.width(), g.height()}, s == primary};
        if (m.primary) list.insert(list.begin(), m);
        else list.push_back(m);
    }
    if (!list.empty()) set_monitors(list);

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
            if (auto* top = dynamic_cast<TopWindow*>(en.widget.data())) top->model_closing = true;
            delete en.widget.data();
        }
    impl_->entries.clear();
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
