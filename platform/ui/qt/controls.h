// The widgets of the Qt front end: one adapter per kind of control makes the control's widget and shows the
// model's state in it, and the client area that windows and their painted panes share. Internal to the front
// end; everything here runs on the front end's (GUI) thread.
#pragma once

#include <functional>
#include <string>

#include "platform/ui/ui.h"

class QWidget;

namespace kavro::ui::qt {

// What a control's widget reports to the front end once the operator used it.
class ControlEvents {
public:
    virtual ~ControlEvents() = default;
    // A button was clicked: the model applies the click, then the front end shows the buttons again.
    virtual void clicked(Hwnd control) = 0;
    // The widget may show what the model refused: show the model's state in it again.
    virtual void resync(Hwnd control) = 0;
};

// One kind of control. Adapters hold no state: the widget they made holds it.
class ControlAdapter {
public:
    virtual ~ControlAdapter() = default;
    // Makes the widget of control h inside host; its input goes to the model and to `events`.
    virtual QWidget* create(Hwnd h, QWidget* host, ControlEvents& events) const = 0;
    // The rectangle the widget takes for the model's rectangle r.
    virtual Rect shown_rect(const QWidget&, Rect r) const { return r; }
    // Shows the model's text and state in the widget this adapter made (r: its rectangle).
    virtual void sync(Hwnd h, QWidget& w, const std::string& text, const Rect& r) const = 0;
    // The widget is a client area: children of the window are placed in it.
    virtual bool is_client_area() const { return false; }
};

// How web view panes are shown when a browser engine is installed (web_engine.h): `make` makes the widget,
// `sync` shows the model's address in it. Without one they show the address and a button for the desktop
// browser.
struct WebViewFactory {
    QWidget* (*make)(Hwnd h, QWidget* parent) = nullptr;
    void (*sync)(QWidget& widget) = nullptr;
};
void set_web_view_factory(WebViewFactory factory);

// The adapter of a control of class `cls` with style `style`.
const ControlAdapter& adapter_for(WindowClass cls, unsigned style);

// The client area of a top-level window: its painting (the latest video frame, else the canvas) and mouse
// input in client coordinates; `resized` hears of each new size.
QWidget* make_client_area(Hwnd h, QWidget* parent, std::function<void(int, int)> resized);

} // namespace kavro::ui::qt
