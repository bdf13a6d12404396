// The setup step's core with an environment of the test's own: registry answers, temporary folders for the
// installation and drive C, and a command runner that records the command lines.
#include "install/setup/setup.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace kavro::setup;
using kavro::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> utf16(const std::u16string& text, bool terminated = true) {
    std::vector<std::uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    if (terminated) out.insert(out.end(), {0, 0});
    return out;
}

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

class Setup : public ::testing::Test {
protected:
    Setup() {
        folder = install.slash();
        for (const auto& lib : kRuntimeLibraries) write(install / lib.source, std::string("library ") + lib.source);
        write(install / kOlsrSource, "LoadPlugin \"olsrd_dot_draw.so.0.3\"\n");
        write(drive / "Program Files/olsrd/Default.olsr", "the daemon's own\n");
        value.key_opened = true;
        value.data = utf16(std::u16string(folder.begin(), folder.end()));
    }

    Environment environment() {
        Environment env;
        env.read_registry = [this] { return value; };
        // Drive C with the names as the step writes them.
        env.system_path = [this](std::string_view p) {
            std::string rest(p.substr(3));
            std::replace(rest.begin(), rest.end(), '\\', '/');
            return drive.path() / rest;
        };
        env.run_command = [this](const std::string& command) {
            commands.push_back(command);
            return 0;
        };
        env.show_error = [this](const std::string& text) { messages.push_back(text); };
        return env;
    }

    fs::path system32(const char* name) const { return drive / "windows/system32" / name; }

    TempDir install{"kavro-setup-install"};
    TempDir drive{"kavro-setup-drive"};
    std::string folder;
    RegistryValue value;
    std::vector<std::string> commands;
    std::vector<std::string> messages;
};

TEST_F(Setup, CopiesTheLibrariesRegistersTheFourteenInOrderAndInstallsTheDaemonsConfiguration) {
    EXPECT_EQ(run_setup(environment()), 0);
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(commands.size(), 14u);
    EXPECT_EQ(commands[0], "regsvr32 /s \"" + folder + "Filtres/WinGraphviz.dll\"");
    EXPECT_EQ(commands[12], "regsvr32 /s \"" + folder + "Filtres/noir.ax\"");
    EXPECT_EQ(read(system32("ijl15.dll")), "library Filtres/ijl15.dll");
    EXPECT_EQ(read(drive / "Program Files/olsrd/Default.olsr"), "LoadPlugin \"olsrd_dot_draw.so.0.3\"\n");
}

TEST_F(Setup, ALibraryAlreadyInTheSystemFolderIsKeptAndAMissingOneWithoutSourceStopsTheStep) {
    write(system32("d3dx9_24.dll"), "kept");
    fs::remove(install / "Filtres/d3dx9_24.dll"); // not needed: the system folder has one
    EXPECT_EQ(run_setup(environment()), 0);
    EXPECT_EQ(read(system32("d3dx9_24.dll")), "kept");

    fs::remove(system32("ijl15.dll"));
    fs::remove(install / "Filtres/ijl15.dll");
    commands.clear();
    EXPECT_EQ(run_setup(environment()), -1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "KAVRO n'est pas correctement installé : \n" + folder + "Filtres/ijl15.dll introuvable\n");
    EXPECT_TRUE(commands.empty());
}

TEST_F(Setup, AMissingConfigurationForTheDaemonIsNamedByItsSourcePath) {
    fs::remove(install / kOlsrSource);
    EXPECT_EQ(run_setup(environment()), -1);
    EXPECT_EQ(commands.size(), 14u);
    EXPECT_EQ(messages, std::vector<std::string>{"KAVRO n'est pas correctement installé : \n" + folder +
                                                 "Filtres/Default.olsr introuvable"});
    EXPECT_EQ(read(drive / "Program Files/olsrd/Default.olsr"), "the daemon's own\n");
}

TEST_F(Setup, AnUnreadableRegistryStopsBeforeAnyCopyOrRegistration) {
    for (RegistryValue bad : {RegistryValue{false, std::nullopt}, RegistryValue{true, std::nullopt}}) {
        value = bad;
        messages.clear();
        EXPECT_EQ(run_setup(environment()), -1);
        EXPECT_EQ(messages, std::vector<std::string>{kRegistryMessage});
    }
    EXPECT_TRUE(commands.empty());
    EXPECT_FALSE(fs::exists(drive / "windows"));
}

// 80 bytes of UTF-16 hold 39 characters and the terminator, or 40 characters without one.
TEST(SetupFolder, TheEightyByteRuleCountsTheStoredBytes) {
    const std::u16string f39 = u"/opt/" + std::u16string(33, u'k') + u'/';
    ASSERT_EQ(f39.size(), 39u);
    EXPECT_TRUE(installation_folder({true, utf16(f39)}, nullptr));
    EXPECT_FALSE(installation_folder({true, utf16(f39 + u'/')}, nullptr)); // 82 bytes
    const std::u16string f40 = f39.substr(0, 38) + u"k/";
    EXPECT_EQ(installation_folder({true, utf16(f40, false)}, nullptr), std::string(f40.begin(), f40.end()));
    // An odd last byte is not half a character.
    auto odd = utf16(u"/opt/kavro/", false);
    odd.push_back('x');
    EXPECT_EQ(installation_folder({true, odd}, nullptr), "/opt/kavro/");
}

TEST(SetupFolder, TheTextStopsAtTheFirstZeroCodeUnit) {
    EXPECT_EQ(installation_folder({true, utf16(std::u16string(u"/opt/kavro/\0/etc/", 17))}, nullptr),
              "/opt/kavro/");
    EXPECT_EQ(low_bytes(utf16(u"/a\u0142b", false)), "/aBb"); // U+0142 keeps its low byte 0x42
}

TEST(SetupFolder, AFolderThatCouldLeadElsewhereIsRefused) {
    for (const std::u16string bad : {u"/opt/kavro", u"opt/kavro/", u"", u"/opt/../etc/", u"/opt/./kavro/",
                                     u"/opt/ka\"vro/", u"/opt/$(reboot)/", u"/opt/`id`/", u"/opt\\kavro/",
                                     u"/opt/kavro\n/", u"/opt/kavro\u012F", u"/opt/caf\u00e9/"}) {
        std::string why;
        EXPECT_FALSE(installation_folder({true, utf16(bad)}, &why)) << std::string(bad.begin(), bad.end());
        EXPECT_FALSE(why.empty());
    }
    EXPECT_TRUE(installation_folder({true, utf16(u"/opt/KAVRO 2.0/")}, nullptr));
}

} // namespace
