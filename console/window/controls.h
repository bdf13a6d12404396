// The operator window's controls as the console's own code sees them: the state of each control by
// identifier, the menu's check marks and greying, the window's timers and the pad redraw. One implementation
// sits on the window system model; tests may use their own.
#pragma once

#include "console/window/layout.h"
#include "util/ipv4_address.h"

#include <array>
#include <cstdint>
#include <string>

namespace kavro::console {

class Controls {
public:
    virtual ~Controls() = default;

    virtual bool checked(int id) const = 0;
    virtual void set_checked(int id, bool on) = 0;
    virtual bool enabled(int id) const = 0;
    virtual void set_enabled(int id, bool on) = 0;
    virtual bool visible(int id) const = 0;
    virtual void set_visible(int id, bool on) = 0;
    virtual void set_rect(int id, const Rect& r) = 0;
    // The window handle value of a control (a video pane hosts pictures and players in it); 0 when the
    // controls have no windows.
    virtual std::uint32_t window_of(int /*id*/) const { return 0; }

    virtual std::string text(int id) const = 0;
    virtual void set_text(int id, const std::string& text) = 0;
    // A number edit read as unsigned; an empty or non-numeric edit reads as 0.
    virtual unsigned number(int id) const = 0;
    virtual void set_number(int id, unsigned value) = 0;
    virtual Ipv4Address address(int id) const = 0;
    virtual void set_address(int id, const Ipv4Address& a) = 0;

    virtual void list_clear(int id) = 0;
    virtual void list_add(int id, const std::string& item) = 0;
    virtual void list_select(int id, int index) = 0;  // -1: no selection

    virtual void set_progress_range(int id, int low, int high) = 0;
    virtual void set_progress_step(int id, int step) = 0;
    virtual void set_progress_colour(int id, std::uint8_t r, std::uint8_t g, std::uint8_t b) = 0;
    virtual void set_progress_position(int id, int position) = 0;
    // The web pane: the address it shows, and going to another one.
    virtual std::string web_location(int id) const = 0;
    virtual void web_navigate(int id, const std::string& url) = 0;

    virtual bool menu_checked(int id) const = 0;
    virtual void menu_check(int id, bool on) = 0;
    virtual bool menu_enabled(int id) const = 0;
    virtual void menu_enable(int id, bool on) = 0;

    virtual void set_timer(int id, unsigned period_ms) = 0;
    virtual void kill_timer(int id) = 0;

    // Invalidates the drive pad without erasing so that the next paint draws it.
    virtual void redraw_pad() = 0;
    // Erases and repaints the whole window (this window only).
    virtual void redraw_window() = 0;
    // Modal About box owned by the window.
    virtual void about_box() = 0;
    // Ends the dialog with a result and posts the quit message with code 0.
    virtual void end_and_quit(int result) = 0;
};

} // namespace kavro::console
