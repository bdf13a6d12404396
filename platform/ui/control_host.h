// Hosting a control object in a window, the model's counterpart of attaching an ActiveX control to a window:
// the window keeps a reference to the control until the window is destroyed or another control is attached,
// and tells the control which window it lives in. The control shows its pictures in that window
// (present_frame) at the window's client size; a front end paints them like any video pane.
#pragma once

#include "platform/com/com.h"
#include "platform/ui/ui.h"

#include <cstdint>

namespace kavro::ui {

inline constexpr IID IID_IPaneControl = make_guid("3C303F4E-7ECB-493B-9BBE-657FDBB42C83");

// What a hostable control offers. Both are called on the thread that attaches or destroys the window.
struct IPaneControl : IUnknown {
    // The control now lives in window `pane` (a Hwnd value) and draws there at its client size.
    virtual HRESULT AttachPane(std::uint32_t pane) = 0; // 3
    // The window is going away or hosts another control: stop drawing into it.
    virtual HRESULT DetachPane() = 0; // 4

protected:
    ~IPaneControl() = default;
};

// Attaches `control` to window `pane`. E_POINTER without a control, E_INVALIDARG when `pane` is not a window,
// E_NOINTERFACE when the control has no IPaneControl (nothing is kept then); otherwise the result of its
// AttachPane (on failure nothing is kept). A control attached before to the same window is detached and
// released first. With `host`, receives a reference to the control as the window holds it.
HRESULT attach_control(IUnknown* control, Hwnd pane, IUnknown** host = nullptr);
// Detaches and releases the window's control, if any; answers whether there was one.
bool detach_control(Hwnd pane);
// The control a window hosts, with a reference, or null.
IUnknown* attached_control(Hwnd pane);

} // namespace kavro::ui
