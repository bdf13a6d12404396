// What the window system's tests share: a sample dialog with every kind of control and a menu, a recorder of the
// messages a procedure sees, the dialog fixture, a plain window and a window run by a thread of its own.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "platform/ui/ui.h"

namespace ui_test {

using namespace kavro::ui;

inline DialogTemplate sample_template() {
    DialogTemplate t;
    t.id = 300;
    t.caption = "Sample";
    t.rect = {0, 0, 200, 100};
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    t.menu.id = 301;
    t.menu.items = {
        menu_popup("&File", {menu_item(107, "&Exit")}),
        menu_popup("&Input", {menu_item(108, "&Mouse", true), menu_item(109, "&Joystick"), menu_item(115, "&Autojump")}),
    };
    t.controls = {
        {1, WindowClass::Button, "OK", {10, 10, 50, 14}, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
        {10, WindowClass::Button, "ZOOM", {10, 30, 40, 10}, WS_VISIBLE | WS_GROUP | BS_AUTORADIOBUTTON},
        {11, WindowClass::Button, "MJPEG", {50, 30, 40, 10}, WS_VISIBLE | BS_AUTORADIOBUTTON},
        {12, WindowClass::Button, "MPEG4", {90, 30, 40, 10}, WS_VISIBLE | BS_AUTORADIOBUTTON},
        {13, WindowClass::Button, "Other", {130, 30, 40, 10}, WS_VISIBLE | WS_GROUP | BS_AUTORADIOBUTTON},
        {20, WindowClass::Button, "Web", {10, 45, 40, 10}, WS_VISIBLE | BS_AUTOCHECKBOX},
        {21, WindowClass::Button, "Robot 1", {60, 45, 40, 10}, WS_VISIBLE | BS_RADIOBUTTON},
        {30, WindowClass::Edit, "", {10, 60, 30, 12}, WS_VISIBLE | ES_NUMBER},
        {31, WindowClass::ComboBox, "", {50, 60, 50, 40}, WS_VISIBLE | CBS_DROPDOWNLIST},
        {32, WindowClass::Progress, "", {110, 60, 50, 10}, WS_VISIBLE},
        {33, WindowClass::IpAddress, "", {10, 75, 60, 12}, WS_VISIBLE},
        {34, WindowClass::Static, "hidden", {80, 75, 20, 8}, SS_LEFT},
        {35, WindowClass::Button, "Off", {110, 75, 30, 12}, WS_VISIBLE | WS_DISABLED},
    };
    return t;
}

// Records every message a window procedure sees.
struct Recorder {
    struct Seen {
        unsigned msg;
        WPARAM wp;
        LPARAM lp;
    };
    std::vector<Seen> seen;
    WindowProc proc() {
        return [this](Hwnd, unsigned m, WPARAM wp, LPARAM lp) -> LRESULT {
            seen.push_back({m, wp, lp});
            return m == WM_INITDIALOG ? 1 : 0;
        };
    }
    std::vector<Seen> of(unsigned m) const {
        std::vector<Seen> out;
        for (auto& s : seen)
            if (s.msg == m) out.push_back(s);
        return out;
    }
};

struct DialogTest : ::testing::Test {
    Recorder rec;
    Hwnd dlg;
    void SetUp() override { dlg = create_dialog(sample_template(), rec.proc(), Hwnd{}, 1234); }
    void TearDown() override {
        destroy_window(dlg);
        pump_messages();
    }
};

inline WindowSpec plain_spec() {
    WindowSpec s;
    s.class_name = "std";
    s.title = "test";
    s.style = WS_POPUP | WS_VISIBLE;
    s.rect = {0, 0, 320, 240};
    return s;
}

// Runs a window with its own thread and message loop, like a program's UI thread.
struct UiThread {
    std::promise<Hwnd> made;
    std::atomic<int> exit_code{-1};
    std::thread th;
    Hwnd h;
    explicit UiThread(WindowProc proc) {
        th = std::thread([this, proc] {
            const Hwnd w = create_window(plain_spec(), proc);
            made.set_value(w);
            exit_code = run_message_loop();
            destroy_window(w);
        });
        h = made.get_future().get();
    }
    void stop() {
        if (th.joinable()) {
            post_message(h, WM_APP + 99);
            th.join();
        }
    }
    ~UiThread() { stop(); }
};

} // namespace ui_test
