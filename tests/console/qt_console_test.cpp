// The console through the Qt front end, offscreen: the operator window opens maximised with its controls
// where the layout puts them, and clicks on the real widgets drive the console.
#include "console/window/ids.h"
#include "console/window/layout.h"
#include "console/startup.h"
#include "platform/ui/qt/front_end.h"
#include "tests/support/qt_front_end.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QStyle>
#include <QStyleOptionButton>
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

// The part of a control's text that cannot be read whole, measured with the widget's own font against the room
// its style gives the text; empty when everything fits.
std::string cut_text(QWidget* w, ui::Hwnd item) {
    const QFontMetrics fm(w->font());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = b->text();
        const QStyle::SubElement e = qobject_cast<QCheckBox*>(b)      ? QStyle::SE_CheckBoxContents
                                     : qobject_cast<QRadioButton*>(b) ? QStyle::SE_RadioButtonContents
                                                                      : QStyle::SE_PushButtonContents;
        const int room = b->style()->subElementRect(e, &opt, b).width();
        for (const QString& line : QString(b->text()).remove('&').split('\n'))
            if (fm.horizontalAdvance(line) > room) return line.toStdString();
        return {};
    }
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return fm.horizontalAdvance(g->title()) <= g->width() - 12 ? std::string() : g->title().toStdString();
    const QString text = QString::fromStdString(ui::get_window_text(item)).remove('&');
    if (ui::get_class(item) != ui::WindowClass::Static || text.isEmpty()) return {};
    const QRect need = fm.boundingRect(w->rect(), Qt::AlignTop | Qt::AlignLeft | Qt::TextWordWrap, text);
    return need.width() <= w->width() && need.height() <= w->height() ? std::string() : text.toStdString();
}

void settle() { kavro::test::settle(10); }

TEST(ConsoleOnQt, OpensMaximisedLaidOutAndTakesClicks) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "console_qt_tests";
    static char* argv[] = {name, nullptr};
    ui::qt::FrontEnd front_end(argc, argv);

    const kavro::test::TempDir temp("kavro-console-qt");
    const fs::path& dir = temp.path();
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

        // Every text of the window can be read at the client sizes of the usual screens.
        for (const auto& [width, height] : {std::pair{1024, 744}, std::pair{1280, 1000}, std::pair{1920, 1056}}) {
            ui::user::resized(w, width, height, ui::SIZE_MAXIMIZED);
            settle();
            for (const Placement& p : control_layout(width, height)) {
                const ui::Hwnd item = ui::get_dlg_item(w, p.id);
                if (QWidget* widget = front_end.widget(item)) {
                    EXPECT_EQ(cut_text(widget, item), "") << "control " << p.id << " at " << width << "x" << height;
                }
            }
        }

        ui::user::choose_menu(w, kMenuExit);
        return ui::run_message_loop();
    };
    EXPECT_EQ(run_console(app, system, hooks), 0);
    EXPECT_TRUE(app.drive.quit.load());
    EXPECT_TRUE(fs::exists(dir / "interface.xml"));
}

} // namespace
} // namespace kavro::console
