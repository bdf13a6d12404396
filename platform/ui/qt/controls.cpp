#include "platform/ui/qt/controls.h"
#include "platform/ui/qt/text_fit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <type_traits>

namespace kavro::ui::qt {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

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
        if (cls == WindowClass::Static) paint_frame(p, style & SS_TYPEMASK);
        if (style & SS_SUNKEN) {
            p.setPen(Qt::gray);
            p.drawRect(rect().adjusted(0, 0, -1, -1));
        }
        if (cls == WindowClass::Static) paint_text(p, get_window_text(h_), style & SS_TYPEMASK);
    }

private:
    // The frames and rectangles of a static, outlined (black frames in black, the others in grey).
    void paint_frame(QPainter& p, unsigned type) {
        if (type >= SS_BLACKRECT && type <= SS_WHITEFRAME) {
            p.setPen(type == SS_BLACKFRAME ? Qt::black : Qt::gray);
            p.drawRect(rect().adjusted(0, 0, -1, -1));
        } else if (type == SS_ETCHEDFRAME) {
            p.setPen(Qt::gray);
            p.drawRect(rect().adjusted(0, 0, -2, -2));
            p.setPen(Qt::white);
            p.drawRect(rect().adjusted(1, 1, -1, -1));
        }
    }
    // A static's text, word-wrapped and aligned by its style; "&&" shows one ampersand, a single one none.
    void paint_text(QPainter& p, const std::string& text, unsigned type) {
        if (text.empty()) return;
        int align = Qt::AlignTop | Qt::TextWordWrap;
        align |= type == SS_CENTER ? Qt::AlignHCenter : type == SS_RIGHT ? Qt::AlignRight : Qt::AlignLeft;
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        p.drawText(rect(), align, qs(text).replace("&&", "\x01").remove('&').replace("\x01", "&"));
    }

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

private:
    Hwnd h_;
    QLabel* label_;
    QPushButton* button_;
};

// A push button high enough for two lines breaks a text that does not fit on one, as multi-line buttons do.
QString two_line_text(const std::string& text, const Rect& r, const QFont& font) {
    QString s = qs(text);
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

// Texts shrink their font as far as needed to fit the rectangle they were laid out for.
void fit(QWidget& w, const QString& text) { fit_font(&w, text, w.window()->font()); }

class PushButtonAdapter final : public ControlAdapter {
public:
    QWidget* create(Hwnd h, QWidget* host, ControlEvents& events) const override {
        auto* b = new QPushButton(host);
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, b, [&events, h] { events.clicked(h); });
        return b;
    }
    void sync(Hwnd, QWidget& w, const std::string& text, const Rect& r) const override {
        auto& b = static_cast<QPushButton&>(w);
        QSignalBlocker block(&b);
        b.setText(two_line_text(text, r, w.window()->font()));
        fit(b, b.text());
    }
};

// Check boxes (two- and three-state) and radio buttons: the widget shows the model's check state, whatever
// Qt toggled; the model decides what a click does.
template <class Button>
class CheckableAdapter final : public ControlAdapter {
public:
    QWidget* create(Hwnd h, QWidget* host, ControlEvents& events) const override {
        auto* b = new Button(host);
        if constexpr (std::is_same_v<Button, QRadioButton>) b->setAutoExclusive(false);
        QObject::connect(b, &Button::clicked, b, [&events, h] { events.clicked(h); });
        return b;
    }
    void sync(Hwnd h, QWidget& w, const std::string& text, const Rect&) const override {
        auto& b = static_cast<Button&>(w);
        QSignalBlocker block(&b);
        b.setText(qs(text));
        fit(b, b.text());
        b.setChecked(get_check(h) == BST_CHECKED);
    }
};

class GroupBoxAdapter final : public ControlAdapter {
public:
    QWidget* create(Hwnd, QWidget* host, ControlEvents&) const override {
        auto* g = new QGroupBox(host);
        g->setAttribute(Qt::WA_TransparentForMouseEvents);
        return g;
    }
    void sync(Hwnd, QWidget& w, const std::string& text, const Rect&) const override {
        auto& g = static_cast<QGroupBox&>(w);
        g.setTitle(qs(text));
        fit(g, g.title());
    }
};

class EditAdapter final : public ControlAdapter {
public:
    QWidget* create(Hwnd h, QWidget* host, ControlEvents& events) const override {
        auto* e = new QLineEdit(host);
        const unsigned style = get_style(h);
        if (style & ES_NUMBER)
            e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
        if ((style & ES_ALIGNMASK) == ES_CENTER) e->setAlignment(Qt::AlignCenter);
        QObject::connect(e, &QLineEdit::textEdited, e, [&events, h](const QString& s) {
            if (!user::type_text(h, s.toStdString())) events.resync(h);
        });
        return e;
    }
    void sync(Hwnd, QWidget& w, const std::string& text, const Rect&) const override {
        auto& e = static_cast<QLineEdit&>(w);
        if (e.text() == qs(text)) return;
        QSignalBlocker block(&e);
        e.setText(qs(text));
    }
};

class IpAddressAdapter final : public ControlAdapter {
public:
    QWidget* create(Hwnd h, QWidget* host, ControlEvents& events) const override {
        auto* e = new QLineEdit(host);
        e->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9]{0,3}(\\.[0-9]{0,3}){0,3}")), e));
        QObject::connect(e, &QLineEdit::editingFinished, e, [&events, h, e] {
            user::enter_ip_fields(h, parse_ip(e->text()));
            events.resync(h);
        });
        return e;
    }
    void sync(Hwnd h, QWidget& w, const std::string& text, const Rect&) const override {
        auto& e = static_cast<QLineEdit&>(w);
        if (e.hasFocus()) return; // the operator is typing
        QSignalBlocker block(&e);
        e.setText(ip_is_blank(h) ? QString() : qs(text));
    }
};

class ComboBoxAdapter final : public ControlAdapter {
public:
    QWidget* create(Hwnd h, QWidget* host, ControlEvents& events) const override {
        auto* c = new QComboBox(host);
        QObject::connect(c, &QComboBox::activated, c, [&events, h](int i) {
            user::select_item(h, i);
            events.resync(h);
        });
        return c;
    }
    // A drop-down list's rectangle includes its dropped list; closed, it is as high as its field.
    Rect shown_rect(const QWidget& w, Rect r) const override {
        r.h = std::min(r.h, std::max(w.sizeHint().height(), 20));
        return r;
    }
    void sync(Hwnd h, QWidget& w, const std::string&, const Rect&) const override {
        auto& c = static_cast<QComboBox&>(w);
        QSignalBlocker block(&c);
        const auto items = combo_items(h);
        bool same = c.count() == int(items.size());
        for (int i = 0; same && i < c.count(); ++i) same = c.itemText(i) == qs(items[std::size_t(i)]);
        if (!same) {
            c.clear();
            for (const auto& s : items) c.addItem(qs(s));
        }
        c.setCurrentIndex(combo_get_cur_sel(h));
    }
};

class ProgressAdapter final : public ControlAdapter {
public:
    QWidget* create(Hwnd, QWidget* host, ControlEvents&) const override {
        auto* p = new QProgressBar(host);
        p->setTextVisible(false);
        return p;
    }
    void sync(Hwnd h, QWidget& w, const std::string&, const Rect&) const override {
        auto& p = static_cast<QProgressBar&>(w);
        const ProgressState s = progress_state(h);
        p.setRange(std::min(s.low, s.high), std::max(s.low, s.high));
        p.setValue(s.pos);
        if (!s.bar_colour) return;
        const QString sheet = QStringLiteral("QProgressBar::chunk { background-color: rgb(%1, %2, %3); }")
                                  .arg(s.bar_colour->r)
                                  .arg(s.bar_colour->g)
                                  .arg(s.bar_colour->b);
        if (p.styleSheet() != sheet) p.setStyleSheet(sheet);
    }
};

// Set once at start-up, before any window exists (install_web_engine), and only read afterwards.
WebViewFactory g_web_view_factory;

class WebViewAdapter final : public ControlAdapter {
public:
    QWidget* create(Hwnd h, QWidget* host, ControlEvents&) const override {
        if (g_web_view_factory.make) return g_web_view_factory.make(h, host);
        return new WebPane(h, host);
    }
    void sync(Hwnd, QWidget& w, const std::string&, const Rect&) const override {
        if (g_web_view_factory.sync)
            g_web_view_factory.sync(w);
        else
            static_cast<WebPane&>(w).sync();
    }
};

// Statics and video panes: painted from the model, the mouse goes through to the window below. A static's
// text shrinks to fit like the buttons'.
class PaintedAdapter final : public ControlAdapter {
public:
    explicit PaintedAdapter(bool fits_text) : fits_text_(fits_text) {}
    QWidget* create(Hwnd h, QWidget* host, ControlEvents&) const override {
        auto* w = new PaintArea(h, host);
        w->setAttribute(Qt::WA_TransparentForMouseEvents);
        return w;
    }
    void sync(Hwnd, QWidget& w, const std::string& text, const Rect&) const override {
        if (fits_text_) fit(w, qs(text));
        w.update();
    }

private:
    bool fits_text_;
};

// A child dialog or plain window: a client area of its own, which its children are placed in.
class ChildWindowAdapter final : public ControlAdapter {
public:
    QWidget* create(Hwnd h, QWidget* host, ControlEvents&) const override { return new ClientArea(h, host, {}); }
    void sync(Hwnd, QWidget& w, const std::string&, const Rect&) const override { w.update(); }
    bool is_client_area() const override { return true; }
};

const ControlAdapter& button_adapter(unsigned type) {
    static const GroupBoxAdapter group;
    static const CheckableAdapter<QCheckBox> check;
    static const CheckableAdapter<QRadioButton> radio;
    static const PushButtonAdapter push;
    switch (type) {
    case BS_GROUPBOX: return group;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE: return check;
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: return radio;
    default: return push;
    }
}

} // namespace

const ControlAdapter& adapter_for(WindowClass cls, unsigned style) {
    static const EditAdapter edit;
    static const IpAddressAdapter ip;
    static const ComboBoxAdapter combo;
    static const ProgressAdapter progress;
    static const WebViewAdapter web;
    static const PaintedAdapter static_text(true), pane(false);
    static const ChildWindowAdapter child;
    switch (cls) {
    case WindowClass::Button: return button_adapter(style & BS_TYPEMASK);
    case WindowClass::Edit: return edit;
    case WindowClass::IpAddress: return ip;
    case WindowClass::ComboBox: return combo;
    case WindowClass::Progress: return progress;
    case WindowClass::WebView: return web;
    case WindowClass::Dialog:
    case WindowClass::Window: return child;
    case WindowClass::Static: return static_text;
    case WindowClass::VideoPane: return pane;
    }
    return pane;
}

QWidget* make_client_area(Hwnd h, QWidget* parent, std::function<void(int, int)> resized) {
    return new ClientArea(h, parent, std::move(resized));
}

void set_web_view_factory(WebViewFactory factory) { g_web_view_factory = factory; }

} // namespace kavro::ui::qt
