// The prerequisites window on the Qt front end (offscreen): its texts on the widgets, and the "KAVRO" box
// following the pass made on another thread.
#include "install/prerequis/prerequis.h"

#include "tests/support/qt_front_end.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>

#include <chrono>
#include <thread>

using namespace kavro::prerequis;
using namespace kavro::ui;

TEST(PrerequisQt, TheWindowShowsItsTextsAndTheKavroBoxIsEnabledWhenThePassEnds) {
    auto& fe = kavro::test::offscreen_front_end("prerequis_qt_tests");
    Prerequis app;
    app.launcher = {[](const std::string&) { std::this_thread::sleep_for(std::chrono::milliseconds(50)); },
                    [](const std::string&) {}};
    ASSERT_TRUE(create_dialog(app));
    show_window(app.dialog, SW_SHOWDEFAULT);
    kavro::test::settle();

    ASSERT_TRUE(fe.widget(app.dialog));
    EXPECT_EQ(fe.widget(app.dialog)->windowTitle().toStdString(), "Installation des prérequis pour KAVRO");
    auto* nat = qobject_cast<QAbstractButton*>(fe.widget(get_dlg_item(app.dialog, 1006)));
    ASSERT_TRUE(nat);
    EXPECT_EQ(nat->text().toStdString(), "NAT");
    EXPECT_TRUE(nat->isChecked());
    QWidget* package = fe.widget(get_dlg_item(app.dialog, kPackageBox));
    ASSERT_TRUE(package);
    EXPECT_FALSE(package->isEnabled());

    // A real click on the widget starts the pass; the front end follows the pass thread's changes.
    auto* install = qobject_cast<QAbstractButton*>(fe.widget(get_dlg_item(app.dialog, kInstallButton)));
    ASSERT_TRUE(install);
    install->click();
    kavro::test::settle();
    ASSERT_TRUE(app.pass.joinable());
    app.pass.join();
    kavro::test::settle();
    EXPECT_TRUE(package->isEnabled());
    EXPECT_FALSE(nat->isEnabled());
    EXPECT_TRUE(install->isEnabled());
    if (const char* out = std::getenv("KAVRO_PREREQUIS_SCREENSHOT"))
        fe.widget(app.dialog)->grab().save(out);
    destroy_window(app.dialog);
    kavro::test::settle();
}
