// Observers: how a front end learns of every change of the model. Part of platform/ui/ui.h, which callers
// include.
#pragma once

#include <functional>

#include "platform/ui/types.h"

namespace kavro::ui {

// Observers see every change of the model, on the thread that made it.
struct Event {
    enum Kind {
        Created,    // a window or control exists
        Destroyed,  // it is gone
        Moved,      // rectangle changed
        Text,       // window text changed
        State,      // checked, enabled, visible, progress, list, address, web location, modal
        Menu,       // menu check or grey state
        Canvas,     // the canvas was drawn
        Frame,      // a video frame was presented
        Invalidated,
        Foreground, // brought to front, restored or minimised
    } kind;
    Hwnd hwnd;
};
using Observer = std::function<void(const Event&)>;
int add_observer(Observer fn);
void remove_observer(int token);

} // namespace kavro::ui
