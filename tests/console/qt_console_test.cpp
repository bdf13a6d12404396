// The console through the Qt front end, offscreen: the operator window opens maximised with its controls
// where the layout puts them, and clicks on the real widgets drive the console.
#include "console/ids.h"
#include "console/layout.h"
#include "console/startup.h"
#include "platform/ui/qt/front_end.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QRadioButton>
#include <QTest>
#include <QWidget>

#include <cstdlib>
#include <filesystem>

// Fontconfig keeps a cache for the life of the process; leak checking builds should not count it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace kavro::console {
namespace {

using namespace ids;
namespace fs = std::filesystem;

class NoOtherProgram : public ConsoleSystem {
public:
    bool instance_running(const std::string&) override { return false; }
    void create_instance_block(const std::string&) override {}
    void publish_window(ui::Hwnd w) override { window = w; }
    ui::Hwnd window;
};

void settle() {
    for (int i = 0; i < 10; ++i) {
        ui::pump_messages();
        QCoreApplication::processEvents();
    }
}

TEST(ConsoleOnQt, OpensMaximisedLaidOutAndTakesClicks) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "console_qt_tests";
    static char* argv[] = {name, nullptr};
    ui::qt::FrontEnd front_end(argc, argv);

    const fs::path dir = fs::temp_directory_path() / ("kavro_console_qt_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::copy_file(std::string(KAVRO_SOURCE_DIR) + "/configs/interface.xml", dir / "interface.xml",
                  fs::copy_options::overwrite_existing);
    ConsoleApp app;
    app.config.configs_dir = dir.string() + "/";
    NoOtherProgram system;
    StartupHooks hooks;
    hooks.message_loop = [&]() -> int {
        settle();
        const ui::Hwnd w = system.window;
        QWidget* top = front_end.widget(w);
        QWidget* client = front_end.client_area(w);
        EXPECT_TRUE(top && top->isVisible());
        EXPECT_TRUE(top && top->isMaximized());
        const ui::Rect c = ui::get_client_rect(w);
        if (client) {
            EXPECT_EQ(client->width(), c.w);
            EXPECT_EQ(client->height(), c.h);
        }
        // Every control's widget sits where the layout puts it for the client size.
        for (const Placement& p : control_layout(c.w, c.h)) {
            QWidget* widget = front_end.widget(ui::get_dlg_item(w, p.id));
            if (!widget) {
                ADD_FAILURE() << "no widget for " << p.id;
                continue;
            }
            EXPECT_EQ(widget->geometry(), QRect(p.rect.x, p.rect.y, p.rect.w, p.rect.h)) << p.id;
            EXPECT_TRUE(widget->isVisible()) << p.id;
        }
        auto* robot = qobject_cast<QRadioButton*>(front_end.widget(ui::get_dlg_item(w, robot_select(3))));
        EXPECT_NE(robot, nullptr);
        if (robot) QTest::mouseClick(robot, Qt::LeftButton);
        settle();
        EXPECT_EQ(app.drive.selection_mask.load(), 4);
        EXPECT_TRUE(robot && robot->isChecked());
        QWidget* kavro = front_end.widget(ui::get_dlg_item(w, kKavroRadio));
        if (kavro) QTest::mouseClick(kavro, Qt::LeftButton);
        settle();
        EXPECT_EQ(app.window.view.load(), kViewLocalMixer);
        EXPECT_FALSE(robot && !robot->isChecked());  // the robot buttons are not grouped with the views

        // The left button held on the pad drives; releasing it re-centres.
        QWidget* pad = front_end.widget(ui::get_dlg_item(w, kDrivePad));
        if (pad) {
            QTest::mousePress(pad, Qt::LeftButton, Qt::NoModifier, QPoint(50, 60));
            settle();
            EXPECT_EQ(app.drive.pad_x.load(), 50);
            EXPECT_EQ(app.drive.pad_y.load(), 60);
            QTest::mouseRelease(pad, Qt::LeftButton, Qt::NoModifier, QPoint(50, 60));
            settle();
            EXPECT_EQ(app.drive.pad_x.load(), 100);
        }

        ui::user::choose_menu(w, kMenuExit);
        return ui::run_message_loop();
    };
    EXPECT_EQ(run_console(app, system, hooks), 0);
    EXPECT_TRUE(app.drive.quit.load());
    EXPECT_TRUE(fs::exists(dir / "interface.xml"));
    fs::remove_all(dir);
}

} // namespace
} // namespace kavro::console
