// The network sender "Jpeg Sender": one RGB input, served as MJPEG over HTTP (docs/mjpeg-over-http.md). The
// mixer finds it by its friendly name and calls nothing on it; the class identifier is its own.
#pragma once

#include "platform/com/com.h"

inline constexpr CLSID CLSID_JpegSender = make_guid("5DD88F29-B37D-47B4-B918-DFC207891374");
