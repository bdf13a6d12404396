// A user's start from an installed package: the registry value, the working folder with the shipped settings
// (never over the user's own), and setup once per installation folder.
#include "install/start/first_start.h"

#include "platform/registry/registry.h"
#include "tests/support/registry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace kavro::start;
using kavro::test::TempDir;
namespace fs = std::filesystem;

namespace {

void write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

std::string read(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(FirstStart, WritesTheFolderKeepsTheUsersSettingsAndRunsSetupOncePerInstallation) {
    kavro::test::ScopedRegistry registry;
    TempDir installation("kavro-inst"), drive("kavro-drive");
    write(installation / "configs/interface.xml", "shipped interface");
    write(installation / "configs/kavro.xml", "shipped console layout");
    write(installation / "configs/mixer/kavro.xml", "shipped mixer layout");
    write(installation / "Map/indexMap.html", "map");
    int setups = 0;
    Environment env;
    env.installation = installation.path();
    env.system_path = [&](const std::string& p) { return drive.path() / p.substr(3); };
    env.run_setup = [&](const fs::path& setup) {
        EXPECT_EQ(setup, installation / "bin/setup");
        // setup reads the value the first start wrote.
        EXPECT_EQ(kavro::registry::get_string("SOFTWARE\\KAVRO", "Installation"), installation.slash());
        ++setups;
        return -1; // a failed step is reported by setup itself; the start goes on
    };
    env.log = [](const std::string&) {};

    const fs::path console = drive / "Program Files/KAVRO/";
    write(console / "configs/interface.xml", "the user's own");
    ASSERT_EQ(prepare(*find_program("InterfaceKAVRO"), env, false), console);
    EXPECT_EQ(read(console / "configs/interface.xml"), "the user's own");
    EXPECT_EQ(read(console / "configs/kavro.xml"), "shipped console layout");
    EXPECT_EQ(read(console / "Map/indexMap.html"), "map");
    EXPECT_EQ(setups, 1);

    // The mixer takes its own shipped layout; setup does not run again for the same installation.
    const auto mixer = prepare(*find_program("Talvor"), env, false);
    ASSERT_TRUE(mixer);
    EXPECT_EQ(read(*mixer / "configs/kavro.xml"), "shipped mixer layout");
    EXPECT_FALSE(fs::exists(*mixer / "Map"));
    EXPECT_EQ(setups, 1);
    ASSERT_TRUE(prepare(*find_program("Talvor"), env, true));
    EXPECT_EQ(setups, 2);

    EXPECT_EQ(find_program("sh"), nullptr); // only the two programs are ever started
}

} // namespace
