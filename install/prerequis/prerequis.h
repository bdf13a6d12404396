// prerequis: the window that installs the components KAVRO needs (each component's installer, one after the
// other, each to its end) and then opens the system's package. Dialog 129 with one check box per component.
//
// States: ready (component boxes ticked and enabled, "KAVRO" box disabled); the first press on "Installer"
// starts the pass on a thread of its own and disables the button; the pass reads each component's box when its
// turn comes, runs its installer when ticked and waits for it, then disables the box; at the end it enables
// "Installer" and the "KAVRO" box. From then on a press on "Installer" opens the package when "KAVRO" is ticked.
#pragma once

#include "platform/ui/ui.h"

#include <array>
#include <functional>
#include <string>
#include <thread>

namespace kavro::prerequis {

inline constexpr int kDialogId = 129;
inline constexpr int kInstallButton = 1; // "Installer"
inline constexpr int kQuitButton = 2;    // "Quitter"
inline constexpr int kPackageBox = 1005; // "KAVRO"
inline constexpr const char* kPackage = ".\\bin\\KAVRO\\SetupKAVRO.msi";

struct Component {
    int box;
    const char* text;
    const char* installer; // relative to the working folder
};
// In the order the installers run.
inline constexpr std::array<Component, 6> kComponents{{
    {1002, ".NET Framework 2.0", ".\\bin\\dotNetFramework2.0\\dotnetfx.exe"},
    {1000, "DirectX 9c", ".\\bin\\DirectX9c\\DXSETUP.exe"},
    {1001, "OLSR (Topologie du mesh)", ".\\bin\\Olsr\\olsr-0.4.10-setup.exe"},
    {1004, "WAMP5 (Apache 2 + PHP 5 + MySQL 5)", ".\\bin\\WAMP5\\wamp5_1.6.6.exe"},
    {1006, "NAT", ".\\bin\\NAT\\nat.exe"},
    {1003, "Pilotes Angelo WDM 25/01/05", ".\\bin\\Angelo_WDM_2005-01-25\\DISK1\\SETUP.EXE"},
}};

// How programs are started; paths as the table writes them.
struct Launcher {
    // Starts the program and waits until it has ended; an installer that cannot start is simply passed over.
    std::function<void(const std::string& path)> run_and_wait;
    // Opens a document with the desktop's program for it, without waiting.
    std::function<void(const std::string& path)> open;
};

// The real one: paths relative to the working folder (backslashes as separators, names matched without regard
// to case), the process layer's start-and-wait, the desktop's opener.
Launcher system_launcher();

// The program's state.
struct Prerequis {
    Launcher launcher;
    ui::Hwnd dialog;
    bool pass_started = false;
    std::thread pass; // joined by tests; the program leaves it running when it quits
};

const ui::DialogTemplate& dialog_template();

// Creates dialog 129 (modeless, no owner) with its procedure over `app`; a null handle when it failed.
ui::Hwnd create_dialog(Prerequis& app);

// The program: creates and shows the dialog, runs the message loop until the quit message and answers its exit
// code (0; 0 as well when the dialog could not be created).
int run_prerequis(Prerequis& app, int show_command = ui::SW_SHOWDEFAULT);

} // namespace kavro::prerequis
