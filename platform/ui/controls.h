// Controls: added to a window from a template, and the state of each kind (check state, progress bar, drop-down
// list, IPv4 address fields, web address, the latest video frame). Each function refuses a window of another
// class (false, CB_ERR, -1 or an empty answer, as its comment says). Part of platform/ui/ui.h, which callers
// include.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/types.h"

namespace kavro::ui {

// One control of a dialog template. Rectangles are in dialog units; the style includes WS_VISIBLE and
// WS_DISABLED as in a resource file (WS_CHILD is implied).
struct ControlTemplate {
    int id = -1;
    WindowClass cls = WindowClass::Static;
    std::string text;
    Rect rect;
    unsigned style = WS_VISIBLE;
};

// Adds a control to a window at run time (rectangle in pixels, parent client coordinates).
Hwnd create_control(Hwnd parent, const ControlTemplate& t);

// Buttons.
bool set_check(Hwnd button, unsigned state);
unsigned get_check(Hwnd button);

// Progress bars (default range 0..100, step 10, no colour set: the system's).
struct ProgressState {
    int low = 0, high = 100, pos = 0, step = 10;
    std::optional<Colour> bar_colour;
};
bool progress_set_range(Hwnd w, int low, int high);
int progress_set_pos(Hwnd w, int pos); // clamps into the range; answers the previous position
int progress_get_pos(Hwnd w);
bool progress_set_step(Hwnd w, int step);
int progress_step_it(Hwnd w); // wraps to the low end past the high end, as the control does
bool progress_set_bar_colour(Hwnd w, Colour c);
ProgressState progress_state(Hwnd w);

// Drop-down lists.
int combo_add_string(Hwnd w, const std::string& text); // index of the new item, CB_ERR on failure
bool combo_reset_content(Hwnd w);
int combo_set_cur_sel(Hwnd w, int index); // -1 clears; CB_ERR for an index out of range (selection cleared)
int combo_get_cur_sel(Hwnd w);            // CB_ERR when nothing is selected
int combo_get_count(Hwnd w);
std::string combo_get_item(Hwnd w, int index);
std::vector<std::string> combo_items(Hwnd w);
int combo_find_string_exact(Hwnd w, const std::string& text); // CB_ERR when absent

// IPv4 address controls: four fields, each blank or 0..255; the address packed as a·2²⁴ + b·2¹⁶ + c·2⁸ + d.
constexpr std::uint32_t make_ip_address(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (std::uint32_t(a & 0xFF) << 24) | (std::uint32_t(b & 0xFF) << 16) | (std::uint32_t(c & 0xFF) << 8) |
           std::uint32_t(d & 0xFF);
}
constexpr unsigned first_ip_address(std::uint32_t x) { return (x >> 24) & 0xFF; }
constexpr unsigned second_ip_address(std::uint32_t x) { return (x >> 16) & 0xFF; }
constexpr unsigned third_ip_address(std::uint32_t x) { return (x >> 8) & 0xFF; }
constexpr unsigned fourth_ip_address(std::uint32_t x) { return x & 0xFF; }
bool ip_set_address(Hwnd w, std::uint32_t address);
// Blank fields read as 0; answers the number of non-blank fields (-1 when w is not an address control).
int ip_get_address(Hwnd w, std::uint32_t& address);
bool ip_clear_address(Hwnd w);
bool ip_is_blank(Hwnd w);
std::array<int, 4> ip_fields(Hwnd w); // -1 for a blank field

// Web view panes.
bool web_navigate(Hwnd w, const std::string& url);
std::string web_location(Hwnd w);

// Video frames: any window can show the latest frame handed to it (video panes, the mixer's window). Callable
// from any thread; the frame is copied.
struct VideoFrame {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels; // 0xFFRRGGBB, top row first, width × height
};
bool present_frame(Hwnd w, int width, int height, const std::uint32_t* pixels, std::ptrdiff_t stride_pixels);
std::shared_ptr<const VideoFrame> current_frame(Hwnd w);
bool clear_frame(Hwnd w);
// A sink bound to one window, for renderers that only know where to send pictures.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual bool present(int width, int height, const std::uint32_t* pixels, std::ptrdiff_t stride_pixels) = 0;
};
std::shared_ptr<FrameSink> frame_sink(Hwnd w);

} // namespace kavro::ui
