#include "platform/ui/qt/web_engine.h"

#include "platform/ui/qt/controls.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineView>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace kavro::ui::qt {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// The browser pane: navigation bar (back, forward, reload, address) above the page. The model's web address
// is the page asked for; where the operator goes in the page is written back to the model, so the console
// always reads the current location.
class BrowserPane : public QWidget {
public:
    BrowserPane(Hwnd h, QWidget* parent) : QWidget(parent), h_(h) {
        auto* lay = new QVBoxLayout(this);
        lay->setContentsMargins(0, 0, 0, 0);
        lay->setSpacing(0);
        auto* bar = new QHBoxLayout;
        bar->setContentsMargins(2, 2, 2, 2);
        auto* back = button(QStringLiteral("\u25C0"), QStringLiteral("Back"));
        auto* forward = button(QStringLiteral("\u25B6"), QStringLiteral("Forward"));
        auto* reload = button(QStringLiteral("\u21BB"), QStringLiteral("Reload"));
        address_ = new QLineEdit(this);
        bar->addWidget(back);
        bar->addWidget(forward);
        bar->addWidget(reload);
        bar->addWidget(address_, 1);
        lay->addLayout(bar);
        view_ = new QWebEngineView(this);
        lay->addWidget(view_, 1);
        QObject::connect(back, &QToolButton::clicked, view_, &QWebEngineView::back);
        QObject::connect(forward, &QToolButton::clicked, view_, &QWebEngineView::forward);
        QObject::connect(reload, &QToolButton::clicked, view_, &QWebEngineView::reload);
        QObject::connect(address_, &QLineEdit::returnPressed, this, [this] {
            const QUrl url = QUrl::fromUserInput(address_->text());
            if (url.isValid()) web_navigate(h_, url.toString().toStdString());
        });
        QObject::connect(view_, &QWebEngineView::urlChanged, this, [this](const QUrl& url) {
            const std::string now = url.toString().toStdString();
            address_->setText(url.toString());
            if (now.empty() || now == requested_) return;
            requested_ = now; // the model follows the page without loading it again
            web_navigate(h_, now);
        });
        setAutoFillBackground(true);
    }
    void sync() {
        const std::string url = web_location(h_);
        if (url == requested_) return;
        requested_ = url;
        address_->setText(qs(url));
        if (!url.empty()) view_->load(QUrl::fromUserInput(qs(url)));
    }
    static void sync_widget(QWidget& w) { static_cast<BrowserPane&>(w).sync(); }

private:
    QToolButton* button(const QString& text, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(tip);
        b->setAutoRaise(true);
        return b;
    }
    Hwnd h_;
    QWebEngineView* view_;
    QLineEdit* address_;
    std::string requested_;
};

QWidget* make_browser(Hwnd h, QWidget* parent) { return new BrowserPane(h, parent); }

} // namespace

void install_web_engine() {
    if (QCoreApplication::instance()) return;
    // The engine's sandbox refuses to run as root; elsewhere it stays on.
    if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The engine writes its graphics set-up to stderr at every start (some twenty lines of information): the
    // program's log keeps its warnings only. QT_LOGGING_RULES still turns the lines on.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    set_web_view_factory(WebViewFactory{&make_browser, &BrowserPane::sync_widget});
}

} // namespace kavro::ui::qt
