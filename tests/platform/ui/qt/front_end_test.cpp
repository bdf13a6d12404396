// The Qt front end, offscreen: user input on real widgets reaches window procedures as messages, and the
// model's state shows in the widgets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/ui/qt/front_end.h"
#include "tests/support/qt_front_end.h"

using namespace kavro::ui;

// Fontconfig keeps a cache for the life of the process; leak checking builds should not count it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

qt::FrontEnd& front_end() { return kavro::test::offscreen_front_end("ui_qt_tests"); }

using kavro::test::settle;

struct Seen {
    unsigned msg;
    WPARAM wp;
    LPARAM lp;
};

DialogTemplate operator_like() {
    DialogTemplate t;
    t.id = 103;
    t.caption = "Interface KAVRO v3.0";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    t.rect = {0, 0, 500, 400};
    t.menu.items = {menu_popup("&File", {menu_item(107, "&Exit")}),
                    menu_popup("&Input", {menu_item(108, "&Mouse", true), menu_item(109, "&Joystick")})};
    t.controls = {
        {2004, WindowClass::Button, "OK", {0, 0, 30, 14}, WS_VISIBLE | BS_PUSHBUTTON},
        {2011, WindowClass::Button, "Web", {0, 20, 30, 10}, WS_VISIBLE | BS_AUTOCHECKBOX},
        {1101, WindowClass::Button, "Robot 1", {0, 35, 40, 12}, WS_VISIBLE | BS_RADIOBUTTON},
        {1503, WindowClass::Edit, "", {0, 50, 30, 12}, WS_VISIBLE | ES_NUMBER},
        {1507, WindowClass::ComboBox, "", {0, 65, 40, 60}, WS_VISIBLE | CBS_DROPDOWNLIST},
        {1104, WindowClass::Progress, "", {0, 80, 60, 12}, WS_VISIBLE},
        {1006, WindowClass::Static, "", {100, 100, 50, 50}, WS_VISIBLE | SS_BLACKFRAME},
        {1014, WindowClass::VideoPane, "", {200, 0, 100, 80}, WS_VISIBLE},
        {1018, WindowClass::WebView, "http://127.0.0.1/", {200, 100, 100, 80}, WS_VISIBLE},
        {1502, WindowClass::IpAddress, "", {0, 95, 60, 12}, WS_VISIBLE},
    };
    return t;
}

struct QtDialog : ::testing::Test {
    std::vector<Seen> seen;
    Hwnd dlg;
    void SetUp() override {
        front_end();
        dlg = create_dialog(operator_like(), [this](Hwnd d, unsigned m, WPARAM wp, LPARAM lp) -> LRESULT {
            seen.push_back({m, wp, lp});
            if (m == WM_SIZE) {
                const int w = get_x_lparam(lp), h = get_y_lparam(lp);
                move_window(get_dlg_item(d, 1006), w - 399, h - 259, 200, 200);
            }
            if (m == WM_PAINT) {
                Dc dc = get_dc(get_dlg_item(d, 1006));
                dc.select_pen(solid_pen(rgb(235, 233, 237)));
                dc.select_brush(solid_brush(rgb(235, 233, 237)));
                dc.rectangle(0, 0, 200, 200);
                dc.select_pen(solid_pen(rgb(255, 0, 0)));
                dc.select_brush(solid_brush(rgb(255, 0, 0)));
                dc.ellipse(96, 96, 104, 104);
            }
            return m == WM_INITDIALOG ? 1 : 0;
        });
        show_window(dlg, SW_SHOW);
        settle();
    }
    void TearDown() override {
        destroy_window(dlg);
        settle();
    }
    std::vector<Seen> of(unsigned m) const {
        std::vector<Seen> out;
        for (auto& s : seen)
            if (s.msg == m) out.push_back(s);
        return out;
    }
    template <class W>
    W* widget(int id) {
        return dynamic_cast<W*>(front_end().widget(get_dlg_item(dlg, id)));
    }
};

TEST_F(QtDialog, ClicksOnQtButtonsReachTheProcedureAsWmCommand) {
    auto* ok = widget<QPushButton>(2004);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    QTest::mouseClick(ok, Qt::LeftButton);
    settle();
    auto cmds = of(WM_COMMAND);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(loword(cmds[0].wp), 2004u);
    EXPECT_EQ(hiword(cmds[0].wp), BN_CLICKED);

    // An auto check box toggles in the model and the widget shows it.
    auto* web = widget<QCheckBox>(2011);
    ASSERT_NE(web, nullptr);
    QTest::mouseClick(web, Qt::LeftButton);
    settle();
    EXPECT_EQ(is_dlg_button_checked(dlg, 2011), BST_CHECKED);
    EXPECT_TRUE(web->isChecked());
    // A plain radio button keeps the state the program gives it, although Qt would toggle it.
    auto* robot = widget<QRadioButton>(1101);
    ASSERT_NE(robot, nullptr);
    QTest::mouseClick(robot, Qt::LeftButton);
    settle();
    EXPECT_EQ(is_dlg_button_checked(dlg, 1101), BST_UNCHECKED);
    EXPECT_FALSE(robot->isChecked());
    check_dlg_button(dlg, 1101, BST_CHECKED);
    settle();
    EXPECT_TRUE(robot->isChecked());
    EXPECT_EQ(of(WM_COMMAND).size(), 3u);
    // A disabled control takes no click.
    enable_window(get_dlg_item(dlg, 2004), false);
    settle();
    EXPECT_FALSE(ok->isEnabled());
    QTest::mouseClick(ok, Qt::LeftButton);
    settle();
    EXPECT_EQ(of(WM_COMMAND).size(), 3u);
}

TEST_F(QtDialog, ResizingTheWindowSendsWmSizeAndMovesTheWidgets) {
    QWidget* top = front_end().widget(dlg);
    QWidget* client = front_end().client_area(dlg);
    ASSERT_NE(top, nullptr);
    ASSERT_NE(client, nullptr);
    seen.clear();
    const int menu_h = top->height() - client->height();
    top->resize(1000, 800 + menu_h);
    settle();
    auto sizes = of(WM_SIZE);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(get_x_lparam(sizes.back().lp), 1000);
    EXPECT_EQ(get_y_lparam(sizes.back().lp), 800);
    EXPECT_EQ(get_client_rect(dlg), (Rect{0, 0, 1000, 800}));
    QWidget* pad = front_end().widget(get_dlg_item(dlg, 1006));
    EXPECT_EQ(pad->geometry(), QRect(1000 - 399, 800 - 259, 200, 200));

    // Maximised: WM_SIZE with the maximised size.
    seen.clear();
    show_window(dlg, SW_SHOWMAXIMIZED);
    settle();
    EXPECT_TRUE(top->isMaximized());
    sizes = of(WM_SIZE);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(get_x_lparam(sizes.back().lp), client->width());
    EXPECT_EQ(get_y_lparam(sizes.back().lp), client->height());
    EXPECT_EQ(pad->geometry(), QRect(client->width() - 399, client->height() - 259, 200, 200));
}

TEST_F(QtDialog, MouseInputArrivesInClientCoordinatesAlsoOverStaticPanes) {
    QWidget* client = front_end().client_area(dlg);
    seen.clear();
    QTest::mousePress(client, Qt::LeftButton, Qt::NoModifier, QPoint(50, 60));
    QTest::mouseRelease(client, Qt::LeftButton, Qt::NoModifier, QPoint(50, 60));
    // Over the drive pad (a static frame): the dialog gets it, in its own client coordinates.
    QWidget* pad = front_end().widget(get_dlg_item(dlg, 1006));
    const QPoint inside = pad->geometry().topLeft() + QPoint(10, 20);
    QTest::mousePress(client, Qt::RightButton, Qt::NoModifier, inside);
    settle();
    auto down = of(WM_LBUTTONDOWN);
    ASSERT_EQ(down.size(), 1u);
    EXPECT_EQ(get_x_lparam(down[0].lp), 50);
    EXPECT_EQ(get_y_lparam(down[0].lp), 60);
    EXPECT_EQ(down[0].wp & MK_LBUTTON, MK_LBUTTON);
    EXPECT_EQ(of(WM_LBUTTONUP).size(), 1u);
    auto right = of(WM_RBUTTONDOWN);
    ASSERT_EQ(right.size(), 1u);
    EXPECT_EQ(get_x_lparam(right[0].lp), inside.x());
    EXPECT_EQ(get_y_lparam(right[0].lp), inside.y());
    EXPECT_TRUE(pad->testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST_F(QtDialog, PaintedPadAndPresentedFramesShowInTheWidgets) {
    move_window(get_dlg_item(dlg, 1006), 10, 10, 200, 200);
    invalidate_rect(dlg);
    settle();
    QWidget* pad = front_end().widget(get_dlg_item(dlg, 1006));
    const QImage shot = pad->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(10, 10)), QColor(235, 233, 237));
    EXPECT_EQ(QColor(shot.pixel(100, 100)), QColor(255, 0, 0));

    // A renderer on another thread hands the pane a 2 × 2 blue frame; the pane scales it to its size.
    std::thread([pane = get_dlg_item(dlg, 1014)] {
        const std::uint32_t px[4] = {0xFF0000FFu, 0xFF0000FFu, 0xFF0000FFu, 0xFF0000FFu};
        present_frame(pane, 2, 2, px, 2);
    }).join();
    settle();
    QWidget* pane = front_end().widget(get_dlg_item(dlg, 1014));
    const QImage frame = pane->grab().toImage();
    EXPECT_EQ(QColor(frame.pixel(frame.width() / 2, frame.height() / 2)), QColor(0, 0, 255));
}

TEST_F(QtDialog, EditsListsBarsAddressesAndWebPanesFollowTheModelBothWays) {
    auto* port = widget<QLineEdit>(1503);
    ASSERT_NE(port, nullptr);
    port->setFocus();
    QTest::keyClicks(port, "9a0");
    settle();
    EXPECT_EQ(get_dlg_item_text(dlg, 1503), "90"); // the number edit refuses the letter
    EXPECT_EQ(of(WM_COMMAND).size(), 2u);
    EXPECT_EQ(hiword(of(WM_COMMAND)[0].wp), EN_CHANGE);
    set_dlg_item_int(dlg, 1503, 9000);
    settle();
    EXPECT_EQ(port->text(), "9000");

    const Hwnd com = get_dlg_item(dlg, 1507);
    for (int i = 1; i <= 10; ++i) combo_add_string(com, "COM" + std::to_string(i));
    combo_set_cur_sel(com, 4);
    settle();
    auto* list = widget<QComboBox>(1507);
    EXPECT_EQ(list->count(), 10);
    EXPECT_EQ(list->currentText(), "COM5");
    list->activated(6); // the operator picks COM7
    settle();
    EXPECT_EQ(get_window_text(com), "COM7");
    EXPECT_EQ(hiword(of(WM_COMMAND).back().wp), CBN_SELCHANGE);

    const Hwnd bar = get_dlg_item(dlg, 1104);
    progress_set_range(bar, 0, 63);
    progress_set_pos(bar, 40);
    settle();
    auto* pb = widget<QProgressBar>(1104);
    EXPECT_EQ(pb->maximum(), 63);
    EXPECT_EQ(pb->value(), 40);

    ip_set_address(get_dlg_item(dlg, 1502), make_ip_address(127, 0, 0, 1));
    settle();
    auto* ip = widget<QLineEdit>(1502);
    EXPECT_EQ(ip->text(), "127.0.0.1");
    ip->setText("10.1.2.300");
    ip->editingFinished();
    settle();
    std::uint32_t a = 0;
    EXPECT_EQ(ip_get_address(get_dlg_item(dlg, 1502), a), 4);
    EXPECT_EQ(a, make_ip_address(10, 1, 2, 255));

    QWidget* web = front_end().widget(get_dlg_item(dlg, 1018));
    web_navigate(get_dlg_item(dlg, 1018), "http://10.0.0.5:82/");
    settle();
    bool shows_address = false;
    for (auto* l : web->findChildren<QLabel*>()) shows_address |= l->text() == "http://10.0.0.5:82/";
    EXPECT_TRUE(shows_address);

    show_window(get_dlg_item(dlg, 1018), SW_HIDE);
    settle();
    EXPECT_FALSE(web->isVisible());
}

TEST_F(QtDialog, MenusCommandAndShowChecksAndGreying) {
    auto* top = front_end().widget(dlg);
    auto* bar = top->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    QAction* mouse = nullptr;
    QAction* joystick = nullptr;
    QAction* exit_item = nullptr;
    for (QAction* a : top->findChildren<QAction*>()) {
        if (a->text() == "&Mouse") mouse = a;
        if (a->text() == "&Joystick") joystick = a;
        if (a->text() == "&Exit") exit_item = a;
    }
    ASSERT_TRUE(mouse && joystick && exit_item);
    EXPECT_TRUE(mouse->isChecked());
    enable_menu_item(dlg, 109, MF_GRAYED);
    check_menu_item(dlg, 108, MF_UNCHECKED);
    settle();
    EXPECT_FALSE(joystick->isEnabled());
    EXPECT_FALSE(mouse->isChecked());
    exit_item->trigger();
    settle();
    auto cmds = of(WM_COMMAND);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].wp, make_wparam(107, 0));
}

TEST_F(QtDialog, TheCloseBoxBecomesCancel) {
    front_end().widget(dlg)->close();
    settle();
    auto cmds = of(WM_COMMAND);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(loword(cmds[0].wp), unsigned(IDCANCEL));
    EXPECT_TRUE(front_end().widget(dlg)->isVisible()); // the program decides
}

// A window manager restoring a minimised window may report a passing state (restored, not yet maximised), or
// settle on the wrong one: the model keeps the state it asked for and the window ends up maximised.
TEST_F(QtDialog, PassingStatesOfTheWindowManagerDoNotBecomeTheModelsState) {
    QWidget* top = front_end().widget(dlg);
    show_window(dlg, SW_SHOWMAXIMIZED);
    settle();
    top->showMinimized();
    settle();
    ASSERT_TRUE(is_iconic(dlg));
    ASSERT_TRUE(bring_to_front(dlg));
    settle();
    top->setWindowState(Qt::WindowNoState); // what the window manager reports on its way
    settle();
    EXPECT_TRUE(is_zoomed(dlg));
    EXPECT_FALSE(is_iconic(dlg));
    QElapsedTimer t;
    t.start();
    while (!top->isMaximized() && t.elapsed() < 10000) {
        settle();
        QTest::qWait(20);
    }
    EXPECT_TRUE(top->isMaximized());
    EXPECT_TRUE(is_zoomed(dlg));
}

QPushButton* button_of_box(const QString& text) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            for (QAbstractButton* b : box->buttons())
                if (b->text().remove('&') == text) return qobject_cast<QPushButton*>(b);
    return nullptr;
}

TEST(QtMessageBox, TheTestAnswersAMessageBoxOnTheWindowThreadAndFromAWorker) {
    front_end();
    QString seen_text;
    QTimer::singleShot(20, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) seen_text = box->text();
        if (auto* no = button_of_box("No")) no->click();
    });
    EXPECT_EQ(message_box("Save the layout?", "Question", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(seen_text, "Save the layout?");

    // From a worker thread: the box still appears on the window thread.
    std::atomic<int> answer{0};
    QTimer clicker; // runs inside the box's own loop
    clicker.setInterval(5);
    QObject::connect(&clicker, &QTimer::timeout, [] {
        if (auto* ok = button_of_box("OK")) ok->click();
    });
    clicker.start();
    std::thread worker([&] { answer = message_box("Joystick not found.", "Info"); });
    for (int i = 0; i < 1000 && answer == 0; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    worker.join();
    EXPECT_EQ(answer.load(), IDOK);
}

// A program destroys its window after its message loop has ended, just before the front end goes: the window's
// widgets go with the front end instead of outliving it (a web pane's page would outlive its browser profile).
// Runs in a process of its own, which makes and ends its own front end; exits 0 when both widgets went.
[[noreturn]] void destroy_last_window_then_end_the_front_end() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "ui_qt_tests";
    char* argv[] = {name, nullptr};
    QPointer<QWidget> window;
    QPointer<QWidget> button;
    {
        qt::FrontEnd fe(argc, argv);
        DialogTemplate t;
        t.caption = "last";
        t.style = WS_POPUP | WS_CAPTION;
        t.rect = {0, 0, 200, 100};
        t.controls = {{2004, WindowClass::Button, "OK", {0, 0, 30, 14}, WS_VISIBLE | BS_PUSHBUTTON}};
        const Hwnd h =
            create_dialog(t, [](Hwnd, unsigned m, WPARAM, LPARAM) -> LRESULT { return m == WM_INITDIALOG ? 1 : 0; });
        show_window(h, SW_SHOW);
        settle();
        window = fe.widget(h);
        button = fe.widget(get_dlg_item(h, 2004));
        if (!window || !button) std::_Exit(2);
        destroy_window(h);
    }
    std::_Exit(window.isNull() && button.isNull() ? 0 : 1);
}

TEST(QtFrontEndEnd, TheWidgetsOfAWindowDestroyedAfterTheLoopGoWithTheFrontEnd) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(destroy_last_window_then_end_the_front_end(), ::testing::ExitedWithCode(0), "");
}

TEST(QtMessageBox, TimersKeepRunningWhileABoxIsUp) {
    front_end();
    int ticks = 0;
    WindowSpec s;
    s.style = WS_POPUP;
    const Hwnd h = create_window(s, [&](Hwnd w, unsigned m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_TIMER) ++ticks;
        return def_window_proc(w, m, wp, lp);
    });
    set_timer(h, 3, 10);
    // Close the box once three ticks came through its loop, or after five seconds on a very busy machine.
    QElapsedTimer waited;
    waited.start();
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (ticks < 3 && waited.elapsed() < 5000) return;
        if (auto* ok = button_of_box("OK")) ok->click();
    });
    closer.start();
    message_box("Initialisation failed !.\nSoftware will exit.", "Error", MB_ICONERROR);
    EXPECT_GE(ticks, 3);
    destroy_window(h);
}

} // namespace
