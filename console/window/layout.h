// Where every control of the operator window goes for a given client size.
#pragma once

#include <vector>

namespace kavro::console {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Placement {
    int id;
    Rect rect;
};

// Positions of every control except the seven video panes, for client width w and height h (pixels).
std::vector<Placement> control_layout(int w, int h);

// The video pane between the two columns; narrowed and centred to 4:3 when that space is wider than 4:3.
Rect normal_pane_rect(int w, int h);

// The drive pad, 200 x 200, at the bottom centre.
Rect drive_pad_rect(int w, int h);

// Whether a client point lies strictly inside the pad's press area (where a button-down starts a drag).
bool in_pad_press_area(int x, int y, int w, int h);

} // namespace kavro::console
