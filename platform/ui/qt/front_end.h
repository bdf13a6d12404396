// The Qt 6 Widgets front end of the window system. Made once, on the thread that owns the program's windows
// (normally main) and before they are created, it shows every model window in a real window: each control as
// the matching widget at its rectangle, menus, message boxes (QMessageBox), painted canvases, video frames and
// web view panes (the address, with a button that opens it in the desktop browser). The operator's input
// becomes the messages the model defines (WM_COMMAND with id and notification code, mouse messages in client
// coordinates, WM_SIZE, WM_CLOSE). The program's own message loop keeps Qt's events flowing, so nothing in the
// program changes for the front end. QT_QPA_PLATFORM=offscreen runs it without a display.
#pragma once

#include <memory>

#include "platform/ui/ui.h"

class QWidget;

namespace kavro::ui::qt {

class FrontEnd {
public:
    // Makes the QApplication unless one exists; argc and argv must outlive the front end.
    FrontEnd(int& argc, char** argv);
    ~FrontEnd();
    FrontEnd(const FrontEnd&) = delete;
    FrontEnd& operator=(const FrontEnd&) = delete;

    // The widget showing a window or control (for a top-level window, its frame); null when none.
    QWidget* widget(Hwnd h) const;
    // The client area of a top-level window (below its menu bar).
    QWidget* client_area(Hwnd h) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace kavro::ui::qt
