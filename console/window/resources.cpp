#include "console/window/resources.h"

#include "console/window/ids.h"
#include "console/window/layout.h"

#include <map>

namespace kavro::console {

using namespace ids;
using ui::WindowClass;

namespace {

// The template's positions are those of a 1024 x 768 client; the layout replaces them at every size change.
constexpr int kTemplateWidth = 1024, kTemplateHeight = 768;

// Pixels to dialog units of the dialog font (6 x 13 pixel base units).
ui::Rect to_dialog_units(const Rect& r) { return ui::Rect{r.x * 4 / 6, r.y * 8 / 13, r.w * 4 / 6, r.h * 8 / 13}; }

struct Item {
    WindowClass cls;
    std::string text;
    unsigned style;
};

constexpr unsigned kVisible = ui::WS_VISIBLE;
constexpr unsigned kRadio = kVisible | ui::BS_RADIOBUTTON;  // the window sets the checks itself
constexpr unsigned kCheck = kVisible | ui::BS_AUTOCHECKBOX;
constexpr unsigned kPush = kVisible | ui::BS_PUSHBUTTON;
constexpr unsigned kGroup = kVisible | ui::BS_GROUPBOX;
constexpr unsigned kLabel = kVisible | ui::SS_LEFT;
constexpr unsigned kNumber = kVisible | ui::ES_NUMBER | ui::ES_AUTOHSCROLL;
constexpr unsigned kList = kVisible | ui::CBS_DROPDOWNLIST | ui::WS_VSCROLL;
constexpr unsigned kBar = kVisible | ui::PBS_SMOOTH;

std::map<int, Item> control_items() {
    std::map<int, Item> m;
    auto add = [&m](int id, WindowClass cls, std::string text, unsigned style) { m[id] = Item{cls, std::move(text), style}; };
    const WindowClass B = WindowClass::Button, S = WindowClass::Static, E = WindowClass::Edit,
                      C = WindowClass::ComboBox, P = WindowClass::Progress, A = WindowClass::IpAddress;

    add(kCommandGroup, B, "Command", kGroup);
    for (int k = 1; k <= 4; ++k) {
        add(robot_select(k), B, "Robot " + std::to_string(k), kRadio);
        add(robot_address(k), A, "", kVisible);
        add(robot_in_label(k), S, "I", kLabel);
        add(robot_out_label(k), S, "O", kLabel);
        add(robot_config_label(k), S, "C", kLabel);
        add(robot_in_edit(k), E, "", kNumber);
        add(robot_out_edit(k), E, "", kNumber);
        add(robot_config_edit(k), E, "", kNumber);
        add(robot_battery_label(k), S, "Battery", kLabel);
        add(robot_battery_bar(k), P, "", kBar);
        add(robot_speed_label(k), S, "Speed", kLabel);
        add(robot_speed_bar(k), P, "", kBar);
        add(robot_signal_label(k), S, "S/N", kLabel);
        add(robot_signal_bar(k), P, "", kBar);
    }

    add(kViewGroup, B, "View", kGroup);
    add(kKavroRadio, B, "KAVRO", kRadio);
    add(kWebCheck, B, "Web", kCheck);
    add(kWebPortEdit, E, "", kNumber);
    add(kMixerAddress, A, "", kVisible);
    add(kMixerPortEdit, E, "", kNumber);
    add(kMixerConfigList, C, "", kList);
    add(kMixerConfigOk, B, "OK", kPush);
    add(kMeshRadio, B, "Mesh Topology", kRadio);
    add(kMapRadio, B, "Map", kRadio);
    add(kReferenceList, C, "", kList);
    add(kReferenceOk, B, "OK", kPush);
    for (int m4 = 1; m4 <= 4; ++m4) {
        add(camera_radio(m4), B, "Cam IP " + std::to_string(m4), kRadio);
        add(camera_center(m4), B, "Center", kPush);
        add(camera_io_label(m4), S, "I/O", kLabel);
        for (int n = 1; n <= 4; ++n) add(camera_output(m4, n), B, "", kCheck);
        add(camera_address(m4), A, "", kVisible);
        add(camera_port(m4), E, "", kNumber);
        add(camera_zoom_kind(m4), B, "ZOOM", kRadio);
        add(camera_mjpeg_kind(m4), B, "MJPEG", kRadio);
        add(camera_mpeg4_kind(m4), B, "MPEG4", kRadio);
        add(camera_zoom_in(m4), B, "ZOOM +", kPush);
        add(camera_zoom_out(m4), B, "ZOOM -", kPush);
    }

    add(kRobotConfigButton, B, "Robot Configuration", kPush | 0x2000 /* BS_MULTILINE */);
    add(kVideoConfigButton, B, "Video Source Configuration", kPush | 0x2000);
    add(kDrivePad, S, "", kVisible | ui::SS_BLACKFRAME);

    add(kBaseGroup, B, "Base", kGroup);
    add(kBaseAddress, A, "", kVisible);
    add(kVirtualCheck, B, "Virtual", kCheck);
    add(kGpsPortLabel, S, "Port GPS", kLabel | ui::WS_DISABLED);
    add(kGpsPortList, C, "", kList | ui::WS_DISABLED);
    add(kGpsPortOk, B, "OK", kPush | ui::WS_DISABLED);
    add(kBaseInLabel, S, "In", kLabel);
    add(kBaseOutLabel, S, "Out", kLabel);
    add(kBaseConfigLabel, S, "Config", kLabel);
    add(kBaseOlsrLabel, S, "OLSR", kLabel);
    add(kBaseInEdit, E, "", kNumber);
    add(kBaseOutEdit, E, "", kNumber);
    add(kBaseConfigEdit, E, "", kNumber);
    add(kBaseOlsrEdit, E, "", kNumber);
    for (int n = 0; n < 4; ++n) {
        add(kBaseBarLabels[n], S, std::to_string(n + 1), kLabel);
        add(kBaseBars[n], P, "", kBar);
        add(kLaunchButtons[n], B, "Launch", kPush);
    }
    return m;
}

} // namespace

ui::MenuTemplate main_menu_template() {
    using ui::menu_item;
    using ui::menu_popup;
    ui::MenuTemplate t;
    t.id = kMainMenu;
    t.items = {
        menu_popup("&File", {menu_item(kMenuExit, "&Exit")}),
        menu_popup("&Input", {menu_item(kMenuMouse, "&Mouse", true), menu_item(kMenuJoystick, "&Joystick"),
                              menu_item(kMenuWiimote, "&Wiimote"), menu_item(kMenuAutojump, "&Autojump")}),
        menu_popup("&View", {menu_item(kMenuNormal, "&Normal", true), menu_item(kMenuFullScreen, "&FullScreen")}),
        menu_popup("&Markers", {menu_item(kMenuSnapshot, "&Snapshot")}),
        menu_popup("&Help", {menu_item(kMenuAbout, "&About")}),
    };
    return t;
}

ui::DialogTemplate operator_dialog_template() {
    ui::DialogTemplate t;
    t.id = kOperatorDialog;
    t.caption = kWindowCaption;
    t.font = "MS Shell Dlg";
    t.font_size = 8;
    t.rect = to_dialog_units(Rect{0, 0, kTemplateWidth, kTemplateHeight});
    t.style = ui::WS_POPUP | ui::WS_CAPTION | ui::WS_SYSMENU | ui::WS_MINIMIZEBOX | ui::WS_MAXIMIZEBOX | ui::DS_SETFONT;
    t.menu = main_menu_template();

    const std::map<int, Item> items = control_items();
    for (const Placement& p : control_layout(kTemplateWidth, kTemplateHeight)) {
        const Item& it = items.at(p.id);
        t.controls.push_back(ui::ControlTemplate{p.id, it.cls, it.text, to_dialog_units(p.rect), it.style});
    }
    // The video panes; only the web pane shows at start.
    const ui::Rect pane = to_dialog_units(normal_pane_rect(kTemplateWidth, kTemplateHeight));
    for (int id : kPanes) {
        const bool web = id == kPaneWeb;
        t.controls.push_back(ui::ControlTemplate{id, web ? WindowClass::WebView : WindowClass::VideoPane, "", pane,
                                                 web ? unsigned(ui::WS_VISIBLE) : 0u});
    }
    return t;
}

ui::DialogTemplate about_dialog_template() {
    ui::DialogTemplate t;
    t.id = kAboutDialog;
    t.caption = "About";
    t.rect = ui::Rect{0, 0, 200, 86};
    t.style = ui::WS_POPUP | ui::WS_CAPTION | ui::WS_SYSMENU | ui::DS_MODALFRAME | ui::DS_CENTER | ui::DS_SETFONT;
    t.controls = {
        {-1, WindowClass::Static, "", ui::Rect{10, 10, 21, 20}, ui::WS_VISIBLE | ui::SS_ETCHEDFRAME},  // program icon
        {-1, WindowClass::Static, "InterfaceKAVRO, version 3.0", ui::Rect{40, 10, 150, 10}, kLabel},
        {-1, WindowClass::Static, "Tele-operation console of the KAVRO robots", ui::Rect{40, 24, 150, 10}, kLabel},
        {-1, WindowClass::Static, "Copyright (C) KAVRO", ui::Rect{40, 38, 150, 10}, kLabel},
        {ids::kOk, WindowClass::Button, "OK", ui::Rect{140, 62, 50, 14},
         ui::WS_VISIBLE | ui::BS_DEFPUSHBUTTON | ui::WS_GROUP},
    };
    return t;
}

} // namespace kavro::console
