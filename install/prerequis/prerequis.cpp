#include "install/prerequis/prerequis.h"

#include "platform/sys/paths.h"
#include "platform/sys/process.h"

namespace kavro::prerequis {

using namespace ui;

namespace {

DialogTemplate make_template() {
    DialogTemplate t;
    t.id = kDialogId;
    t.caption = "Installation des prérequis pour KAVRO";
    t.font = "MS Shell Dlg";
    t.font_size = 8;
    t.rect = {0, 0, 217, 268};
    // Caption and modal frame, no system menu, centred on the screen.
    t.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT;
    const auto text = [&t](std::string s, Rect r, unsigned style) {
        t.controls.push_back({-1, WindowClass::Static, std::move(s), r, WS_VISIBLE | style});
    };
    text("Les programmes ci-dessous sont des composants utilisés par KAVRO. Vous pouvez ne pas les installer mais "
         "KAVRO risque de ne pas fonctionner correctement.",
         {7, 7, 203, 29}, SS_CENTER | SS_SUNKEN);
    text("Si vous avez déjà installé l’un des composants (ou une version ultérieure) vous pouvez le décocher.",
         {27, 40, 163, 21}, SS_CENTER);
    text("Vous devez d'abors cliquer sur \"Installer\" avant de pouvoir installer KAVRO. (Même si aucun composant "
         "n'est sélectionné)",
         {7, 63, 203, 21}, SS_CENTER);
    constexpr int kWidths[] = {81, 48, 100, 143, 29, 111};
    for (std::size_t i = 0; i < kComponents.size(); ++i)
        t.controls.push_back({kComponents[i].box, WindowClass::Button, kComponents[i].text,
                              {37, 93 + 20 * int(i), kWidths[i], 10}, WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX});
    t.controls.push_back({kPackageBox, WindowClass::Button, "KAVRO", {37, 213, 37, 10},
                          WS_VISIBLE | WS_TABSTOP | WS_DISABLED | BS_AUTOCHECKBOX});
    t.controls.push_back({kInstallButton, WindowClass::Button, "Installer", {46, 232, 50, 14},
                          WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON});
    t.controls.push_back({kQuitButton, WindowClass::Button, "Quitter", {123, 232, 50, 14},
                          WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON});
    return t;
}

// The pass, on its own thread. It holds copies of what it needs, so that it may outlive the program's state
// when the operator quits while an installer runs.
void run_pass(Launcher launcher, Hwnd dialog) {
    for (const Component& c : kComponents) {
        // Read at the row's turn: a box unticked while an earlier installer runs is passed over.
        if (is_dlg_button_checked(dialog, c.box) == BST_CHECKED) launcher.run_and_wait(c.installer);
        enable_window(get_dlg_item(dialog, c.box), false);
    }
    enable_window(get_dlg_item(dialog, kInstallButton), true);
    enable_window(get_dlg_item(dialog, kPackageBox), true);
}

void on_install(Prerequis& app, Hwnd dialog) {
    if (!is_window_enabled(get_dlg_item(dialog, kPackageBox))) {
        // Once only: a second press cannot reach here while the button is disabled, but a command sent
        // another way must not start a second pass.
        if (app.pass_started) return;
        app.pass_started = true;
        // Disabled before the pass starts: a pass with nothing ticked ends at once and enables it again.
        enable_window(get_dlg_item(dialog, kInstallButton), false);
        app.pass = std::thread(run_pass, app.launcher, dialog);
    } else if (is_dlg_button_checked(dialog, kPackageBox) == BST_CHECKED) {
        app.launcher.open(kPackage);
    }
}

LRESULT dialog_proc(Prerequis& app, Hwnd h, unsigned msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        for (const Component& c : kComponents) check_dlg_button(h, c.box, BST_CHECKED);
        check_dlg_button(h, kPackageBox, BST_CHECKED);
        return 1;
    case WM_COMMAND:
        if (loword(wp) == kQuitButton) post_quit_message(0);
        else if (loword(wp) == kInstallButton) on_install(app, h);
        return 0;
    case WM_DESTROY:
        post_quit_message(0);
        return 0;
    default:
        return def_window_proc(h, msg, wp, lp);
    }
}

} // namespace

const DialogTemplate& dialog_template() {
    static const DialogTemplate t = make_template();
    return t;
}

Hwnd create_dialog(Prerequis& app) {
    app.dialog = ui::create_dialog(dialog_template(), [&app](Hwnd h, unsigned msg, WPARAM wp, LPARAM lp) {
        return dialog_proc(app, h, msg, wp, lp);
    });
    return app.dialog;
}

int run_prerequis(Prerequis& app, int show_command) {
    if (!create_dialog(app)) return 0;
    show_window(app.dialog, show_command);
    return run_message_loop();
}

Launcher system_launcher() {
    Launcher l;
    // An installer that cannot be started answers -1 at once: the pass goes on to the next row.
    l.run_and_wait = [](const std::string& path) { sys::run_and_wait(sys::local_path(path)); };
    l.open = [](const std::string& path) { sys::open_document(sys::local_path(path)); };
    return l;
}

} // namespace kavro::prerequis
