// The mesh filter's property page in a property frame shown by the Qt front end (offscreen): the page's
// widgets inside the frame's window, real clicks on "Default" and OK.
#include "tests/filters/mesh/fake_mesh.h"

#include "platform/ui/qt/front_end.h"
#include "tests/support/qt_front_end.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cstdlib>

using namespace kavro::ui;

// Fontconfig keeps a cache for the life of the process; leak checking builds should not count it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {
using namespace mesh_test;

qt::FrontEnd& front_end() { return kavro::test::offscreen_front_end("mesh_prop_qt_tests"); }

using kavro::test::settle;

TEST(MeshPropQt, DefaultAndOkOnTheRealWidgets) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "Qt is not built for the thread sanitizer";
#endif
    qt::FrontEnd& fe = front_end();
    register_page_class();
    FakeMesh filter;
    PropertyFrame frame;
    ASSERT_EQ(frame.open(Hwnd{}, 40, 40, "Mesh", {static_cast<IMesh*>(&filter)}, {CLSID_MeshProp}), S_OK);
    settle();
    const Hwnd page = frame.page_window();
    QWidget* top = fe.widget(frame.hwnd());
    ASSERT_NE(top, nullptr);
    EXPECT_TRUE(top->isVisible());
    EXPECT_EQ(top->windowTitle(), QStringLiteral("Mesh Properties"));

    auto* port = qobject_cast<QLineEdit*>(fe.widget(get_dlg_item(page, mesh::IDC_PORT)));
    auto* address = qobject_cast<QLineEdit*>(fe.widget(get_dlg_item(page, mesh::IDC_ADDRESS)));
    auto* defaults = qobject_cast<QPushButton*>(fe.widget(get_dlg_item(page, mesh::IDC_DEFAULT)));
    auto* apply = qobject_cast<QPushButton*>(fe.widget(get_dlg_item(frame.hwnd(), IDC_FRAME_APPLY)));
    auto* ok = qobject_cast<QPushButton*>(fe.widget(get_dlg_item(frame.hwnd(), IDOK)));
    ASSERT_TRUE(port && address && defaults && apply && ok);
    EXPECT_EQ(port->text(), QStringLiteral("2010"));
    EXPECT_EQ(address->text(), QStringLiteral("10.1.2.3"));
    EXPECT_FALSE(apply->isEnabled());
    // The page's widgets lie inside the frame's window.
    EXPECT_TRUE(top->rect().contains(QRect(defaults->mapTo(top, QPoint(0, 0)), defaults->size())));

    QTest::mouseClick(defaults, Qt::LeftButton);
    settle();
    EXPECT_EQ(port->text(), QStringLiteral("2004"));
    EXPECT_EQ(address->text(), QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(apply->isEnabled());

    QTest::mouseClick(ok, Qt::LeftButton);
    settle();
    EXPECT_FALSE(frame.is_open());
    EXPECT_EQ(filter.set_calls, 0);
    EXPECT_EQ(filter.port, 2010);
}

} // namespace
