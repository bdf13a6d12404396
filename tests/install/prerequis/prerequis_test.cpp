// The prerequisites window driven through the window system model, with installers of the test's own that
// record their start and wait until the test lets them end; then the real process layer on installers that are
// shell scripts in a medium folder of the test's own.
#include "install/prerequis/prerequis.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

using namespace kavro::prerequis;
using namespace kavro::ui;
using kavro::ui::user::click;

namespace {

// Installers that record their start and, while held, wait until the test releases them.
class FakeInstallers {
public:
    Launcher launcher() {
        return {[this](const std::string& path) {
                    std::unique_lock lock(m_);
                    started_.push_back(path);
                    changed_.notify_all();
                    changed_.wait(lock, [this] { return !held_; });
                },
                [this](const std::string& path) {
                    std::lock_guard lock(m_);
                    opened_.push_back(path);
                }};
    }
    void hold() {
        std::lock_guard lock(m_);
        held_ = true;
    }
    void release() {
        std::lock_guard lock(m_);
        held_ = false;
        changed_.notify_all();
    }
    void wait_started(std::size_t n) {
        std::unique_lock lock(m_);
        changed_.wait(lock, [&] { return started_.size() >= n; });
    }
    std::vector<std::string> started() {
        std::lock_guard lock(m_);
        return started_;
    }
    std::vector<std::string> opened() {
        std::lock_guard lock(m_);
        return opened_;
    }

private:
    std::mutex m_;
    std::condition_variable changed_;
    bool held_ = false;
    std::vector<std::string> started_, opened_;
};

class PrerequisWindow : public ::testing::Test {
protected:
    PrerequisWindow() {
        app.launcher = installers.launcher();
        dialog = create_dialog(app);
        show_window(dialog, SW_SHOWDEFAULT);
    }
    ~PrerequisWindow() override {
        installers.release();
        if (app.pass.joinable()) app.pass.join();
        destroy_window(dialog);
        Msg m;
        while (peek_message(m)) {
        }
    }
    Hwnd item(int id) const { return get_dlg_item(dialog, id); }
    bool enabled(int id) const { return is_window_enabled(item(id)); }
    void untick_all_but(int keep) {
        for (const Component& c : kComponents)
            if (c.box != keep) {
                ASSERT_TRUE(click(item(c.box)));
            }
    }
    void finish_pass() {
        ASSERT_TRUE(app.pass.joinable());
        app.pass.join();
    }

    FakeInstallers installers;
    Prerequis app;
    Hwnd dialog;
};

TEST_F(PrerequisWindow, WithEveryBoxUntickedOnePressEndsThePassAndTheNextOpensThePackage) {
    ASSERT_TRUE(dialog);
    EXPECT_EQ(get_window_text(dialog), "Installation des prérequis pour KAVRO");
    for (const Component& c : kComponents) EXPECT_EQ(is_dlg_button_checked(dialog, c.box), BST_CHECKED);
    EXPECT_EQ(is_dlg_button_checked(dialog, kPackageBox), BST_CHECKED);
    EXPECT_FALSE(enabled(kPackageBox));

    untick_all_but(0);
    ASSERT_TRUE(click(item(kInstallButton)));
    finish_pass();
    EXPECT_TRUE(installers.started().empty());
    for (const Component& c : kComponents) EXPECT_FALSE(enabled(c.box)) << c.text;
    EXPECT_TRUE(enabled(kInstallButton));
    EXPECT_TRUE(enabled(kPackageBox));
    EXPECT_TRUE(installers.opened().empty());

    ASSERT_TRUE(click(item(kInstallButton)));
    ASSERT_TRUE(click(item(kInstallButton))); // every press opens it again
    EXPECT_EQ(installers.opened(), (std::vector<std::string>{kPackage, kPackage}));
    ASSERT_TRUE(click(item(kPackageBox))); // unticked: a press does nothing
    ASSERT_TRUE(click(item(kInstallButton)));
    EXPECT_EQ(installers.opened().size(), 2u);
}

TEST_F(PrerequisWindow, WithOnlyNatTickedOnlyItsInstallerRuns) {
    untick_all_but(1006);
    ASSERT_TRUE(click(item(kInstallButton)));
    finish_pass();
    EXPECT_EQ(installers.started(), std::vector<std::string>{".\\bin\\NAT\\nat.exe"});
}

TEST_F(PrerequisWindow, ABoxUntickedWhileAnEarlierInstallerRunsIsPassedOverAndThePackageWaitsForTheEnd) {
    installers.hold();
    ASSERT_TRUE(click(item(kInstallButton)));
    installers.wait_started(1); // the first installer runs and waits
    EXPECT_FALSE(enabled(kInstallButton));
    EXPECT_TRUE(enabled(1000)); // its turn has not come
    ASSERT_TRUE(click(item(1000))); // untick "DirectX 9c"
    // The package cannot be reached during the pass: its box and the button refuse clicks.
    EXPECT_FALSE(click(item(kPackageBox)));
    EXPECT_FALSE(click(item(kInstallButton)));
    send_message(dialog, WM_COMMAND, make_wparam(kInstallButton, BN_CLICKED)); // not even by a sent command
    EXPECT_TRUE(installers.opened().empty());

    installers.release();
    finish_pass();
    EXPECT_EQ(installers.started(),
              (std::vector<std::string>{".\\bin\\dotNetFramework2.0\\dotnetfx.exe", ".\\bin\\Olsr\\olsr-0.4.10-setup.exe",
                                        ".\\bin\\WAMP5\\wamp5_1.6.6.exe", ".\\bin\\NAT\\nat.exe",
                                        ".\\bin\\Angelo_WDM_2005-01-25\\DISK1\\SETUP.EXE"}));
    EXPECT_TRUE(enabled(kPackageBox));
}

TEST_F(PrerequisWindow, QuitterEndsTheLoopWithCodeZero) {
    ASSERT_TRUE(click(item(kQuitButton)));
    Msg m;
    EXPECT_FALSE(get_message(m));
    EXPECT_EQ(m.wparam, 0u);
}

// The process layer: each installer waited for to its end before the next starts; a missing one passed over.
TEST(PrerequisInstallers, EachRunsToItsEndInTurnAndAMissingOneIsPassedOver) {
    kavro::test::TempDir medium("kavro-medium");
    const std::string log = (medium / "log").string();
    const char* const scripts[] = {"bin/dotNetFramework2.0/dotnetfx.exe", "bin/DirectX9c/DXSETUP.exe",
                                   "bin/NAT/nat.exe", "bin/Angelo_WDM_2005-01-25/DISK1/SETUP.EXE"};
    for (const char* s : scripts) {
        std::filesystem::create_directories((medium / s).parent_path());
        std::ofstream(medium / s) << "#!/bin/sh\necho \"start " << s << "\" >> '" << log
                                  << "'\nsleep 0.2\necho \"end " << s << "\" >> '" << log << "'\n";
        std::filesystem::permissions(medium / s, std::filesystem::perms::owner_all);
    }
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(medium.path());
    const Launcher launcher = system_launcher();
    for (const Component& c : kComponents) launcher.run_and_wait(c.installer); // Olsr and WAMP5 are missing
    std::filesystem::current_path(previous);

    std::vector<std::string> lines, expected;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    for (const char* s : scripts) {
        expected.push_back(std::string("start ") + s);
        expected.push_back(std::string("end ") + s);
    }
    EXPECT_EQ(lines, expected);
}

} // namespace
