// The registry: keys and values in one XML file, written atomically and shared between processes.
#include "platform/registry/registry.h"
#include "tests/support/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
namespace reg = kavro::registry;

namespace {

class Registry : public ::testing::Test {
protected:
    std::string read_file() {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    kavro::test::ScopedRegistry registry{"sub/registry.xml"};
    const std::string dir = registry.dir().str();
    const std::string file = registry.file();
};

TEST_F(Registry, StoresStringsAndNumbersUnderKeys) {
    EXPECT_FALSE(reg::key_exists("SOFTWARE\\KAVRO"));
    EXPECT_FALSE(reg::get_string("SOFTWARE\\KAVRO", "Installation"));
    ASSERT_TRUE(reg::set_string("SOFTWARE\\KAVRO", "Installation", "/opt/kavro/ <&\"é>"));
    ASSERT_TRUE(reg::set_number("SOFTWARE\\KAVRO", "Count", 4000000000u));
    EXPECT_TRUE(reg::key_exists("SOFTWARE"));
    EXPECT_TRUE(reg::key_exists("software\\kavro")); // names ignore case
    EXPECT_EQ(reg::get_string("Software\\Kavro", "installation"), "/opt/kavro/ <&\"é>");
    EXPECT_EQ(reg::get_number("SOFTWARE\\KAVRO", "Count"), 4000000000u);
    // A value of the other type is absent.
    EXPECT_FALSE(reg::get_number("SOFTWARE\\KAVRO", "Installation"));
    EXPECT_FALSE(reg::get_string("SOFTWARE\\KAVRO", "Count"));
    // Replacing keeps one value.
    ASSERT_TRUE(reg::set_string("SOFTWARE\\KAVRO", "Installation", "/srv/"));
    EXPECT_EQ(reg::get_string("SOFTWARE\\KAVRO", "Installation"), "/srv/");
    EXPECT_EQ(reg::value_names("SOFTWARE\\KAVRO"), (std::vector<std::string>{"Installation", "Count"}));
    // The default value has the empty name.
    ASSERT_TRUE(reg::set_string("A\\B", "", "default"));
    EXPECT_EQ(reg::get_string("A\\B", ""), "default");
    EXPECT_TRUE(fs::exists(file));
    EXPECT_NE(read_file().find("/srv/"), std::string::npos);
}

TEST_F(Registry, KeysListAndDeleteWithEverythingBelow) {
    ASSERT_TRUE(reg::create_key("R\\b"));
    ASSERT_TRUE(reg::set_string("R\\a\\deep", "x", "1"));
    ASSERT_TRUE(reg::create_key("R\\c"));
    EXPECT_EQ(reg::subkeys("R"), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_TRUE(reg::subkeys("nothing").empty());
    ASSERT_TRUE(reg::delete_key("R\\A"));
    EXPECT_FALSE(reg::key_exists("R\\a\\deep"));
    EXPECT_EQ(reg::subkeys("R"), (std::vector<std::string>{"b", "c"}));
    EXPECT_FALSE(reg::delete_key("R\\a"));
    EXPECT_FALSE(reg::delete_key(""));
    ASSERT_TRUE(reg::set_string("R\\b", "v", "1"));
    EXPECT_TRUE(reg::delete_value("R\\b", "V"));
    EXPECT_FALSE(reg::delete_value("R\\b", "v"));
    EXPECT_TRUE(reg::key_exists("R\\b"));
}

TEST_F(Registry, WritesAreAtomicAndFailuresAreReported) {
    ASSERT_TRUE(reg::set_string("K", "v", "1"));
    for (const auto& e : fs::directory_iterator(fs::path(file).parent_path()))
        EXPECT_TRUE(e.path().filename() == "registry.xml" || e.path().filename() == "registry.xml.lock")
            << e.path();
    // A registry that cannot be written reports it.
    setenv("KAVRO_REGISTRY", (file + "/not-a-folder/x.xml").c_str(), 1);
    EXPECT_FALSE(reg::set_string("K", "v", "1"));
}

TEST_F(Registry, ADamagedFileIsSetAsideAndNeverRewritten) {
    ASSERT_TRUE(reg::set_string("SOFTWARE\\Sensor", "Path", "/opt/capTelcar.ax"));
    ASSERT_TRUE(reg::set_number("SOFTWARE\\Sensor", "Merit", 7));
    const std::string good = read_file();
    const std::vector<std::string> damaged = {
        good.substr(0, good.size() / 2),                                    // cut short
        good.substr(0, good.size() - 1),                                    // last ">" missing
        "",                                                                 // emptied
        "registry, but not XML",                                            // not XML
        "<other><key name=\"K\"></key></other>",                             // another document
        "<registry><key>unnamed</key></registry>",                          // a key without a name
        "<registry><key name=\"K\"><value name=\"v\" type=\"blob\">1</value></key></registry>", // unknown type
        "<registry><value name=\"v\" type=\"sz\"><key name=\"K\"></key></value></registry>",   // a key in a value
    };
    for (const std::string& bad : damaged) {
        { std::ofstream(file, std::ios::binary | std::ios::trunc) << bad; }
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(reg::get_string("SOFTWARE\\Sensor", "Path")) << bad; // read as empty, file left alone
        EXPECT_EQ(read_file(), bad);
        // A write would drop what could not be read: it is refused and the file kept aside.
        EXPECT_FALSE(reg::set_string("SOFTWARE\\Noir", "Path", "/opt/noir.ax")) << bad;
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(file + ".bad"), std::string::npos) << err;
        std::ifstream aside(file + ".bad", std::ios::binary);
        std::stringstream kept;
        kept << aside.rdbuf();
        EXPECT_EQ(kept.str(), bad);
        // The next write starts a fresh registry; the damaged file stays aside for the operator.
        ASSERT_TRUE(reg::set_string("SOFTWARE\\Noir", "Path", "/opt/noir.ax")) << bad;
        EXPECT_EQ(reg::get_string("SOFTWARE\\Noir", "Path"), "/opt/noir.ax");
        EXPECT_TRUE(fs::exists(file + ".bad"));
        { std::ofstream(file, std::ios::binary | std::ios::trunc) << good; }
    }
}

TEST_F(Registry, ATransactionChangesTheFileOnceOrNotAtAll) {
    ASSERT_TRUE(reg::set_string("Old", "v", "1"));
    const std::string before = read_file();
    // A transaction that gives up midway leaves the file as it was.
    EXPECT_FALSE(reg::transaction([](reg::Editor& e) {
        EXPECT_TRUE(e.set_string("New\\Sub", "x", "1"));
        EXPECT_TRUE(e.delete_key("Old"));
        return false;
    }));
    EXPECT_EQ(read_file(), before);
    // One that completes shows all of its changes, and sees its own changes as it goes.
    ASSERT_TRUE(reg::transaction([](reg::Editor& e) {
        return e.set_string("New\\Sub", "x", "1") && e.set_number("New", "n", 7) && e.delete_key("Old") &&
               !e.key_exists("Old") && e.get_string("new\\sub", "X") == std::optional<std::string>("1") &&
               e.get_number("New", "n") == std::optional<std::uint32_t>(7) && !e.delete_value("New", "none");
    }));
    EXPECT_FALSE(reg::key_exists("Old"));
    EXPECT_EQ(reg::get_string("New\\Sub", "x"), "1");
    EXPECT_EQ(reg::get_number("New", "n"), 7u);
}

TEST_F(Registry, ConcurrentWritersLoseNothing) {
    // Two threads and a second process write at the same time.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool ok = true;
        for (int i = 0; i < 30; ++i) ok = ok && reg::set_number("P", "c" + std::to_string(i), std::uint32_t(i));
        _exit(ok ? 0 : 1);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 30; ++i) reg::set_number("T" + std::to_string(t), "v" + std::to_string(i), std::uint32_t(i));
        });
    for (auto& t : threads) t.join();
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(reg::value_names("T0").size(), 30u);
    EXPECT_EQ(reg::value_names("T1").size(), 30u);
    EXPECT_EQ(reg::value_names("P").size(), 30u);
    EXPECT_EQ(reg::get_number("P", "c29"), 29u);
}

TEST_F(Registry, DefaultFileLiesUnderDriveC) {
    unsetenv("KAVRO_REGISTRY");
    setenv("KAVRO_DRIVE_C", (dir + "/c").c_str(), 1);
    EXPECT_EQ(reg::registry_file(), dir + "/c/windows/registry.xml");
    ASSERT_TRUE(reg::set_string("SOFTWARE\\KAVRO", "Installation", "/x/"));
    EXPECT_TRUE(fs::exists(dir + "/c/windows/registry.xml"));
    unsetenv("KAVRO_DRIVE_C");
}

} // namespace
