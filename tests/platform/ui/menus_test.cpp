// Menus: check marks, greying, commands from enabled items only.
#include <gtest/gtest.h>

#include "tests/platform/ui/ui_fixtures.h"

using namespace ui_test;

namespace {

TEST_F(DialogTest, MenusCarryCheckMarksAndGreyingAndOnlyEnabledItemsCommand) {
    EXPECT_TRUE(has_menu(dlg));
    EXPECT_TRUE(menu_item_checked(dlg, 108));
    EXPECT_EQ(check_menu_item(dlg, 108, MF_UNCHECKED), int(MF_CHECKED));
    EXPECT_EQ(check_menu_item(dlg, 115, MF_CHECKED), int(MF_UNCHECKED));
    EXPECT_FALSE(menu_item_checked(dlg, 108));
    EXPECT_TRUE(menu_item_checked(dlg, 115));
    EXPECT_EQ(check_menu_item(dlg, 4242, MF_CHECKED), -1);
    EXPECT_EQ(enable_menu_item(dlg, 109, MF_GRAYED), int(MF_ENABLED));
    EXPECT_FALSE(menu_item_enabled(dlg, 109));
    EXPECT_FALSE(user::choose_menu(dlg, 109));
    EXPECT_TRUE(user::choose_menu(dlg, 107));
    auto cmds = rec.of(WM_COMMAND);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].wp, make_wparam(107, 0));
    auto menu = get_menu(dlg);
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[1].popup[1].text, "&Joystick");
    EXPECT_TRUE(menu[1].popup[1].grayed);
    // The menu bar is part of the frame.
    EXPECT_EQ(frame_insets(dlg).left, 3);
    EXPECT_EQ(frame_insets(dlg).top, 49);
}

} // namespace
