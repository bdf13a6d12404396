// RECT: the platform's integer rectangle (right and bottom exclusive), shared by the window system and video.
#pragma once

#include "platform/com/com.h"

#ifndef KAVRO_RECT_DEFINED
#define KAVRO_RECT_DEFINED
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
    friend bool operator==(const RECT&, const RECT&) = default;
};
#endif
