// The regsvr32 tool as the setup step runs it, on noir.ax: what it writes into the registry, what it removes, its
// exit codes and messages, and a registration interrupted anywhere.
#include "platform/registry/registry.h"
#include "tests/platform/dshow/test_support.h"
#include "tests/support/command.h"

#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace kavro::test;
namespace reg = kavro::registry;

namespace {

// Runs the tool, from the folder cwd when one is given.
CommandResult run(const std::string& args, const std::string& cwd = {}) {
    return run_command(std::string(REGSVR32) + " " + args + " 2>&1", cwd);
}

const std::string kNoirKey = "SOFTWARE\\Classes\\CLSID\\{9E237DA7-8506-453F-99D9-8B80F69254FB}";
const std::string kNoirFilterKey =
    "SOFTWARE\\Classes\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\"
    "{9E237DA7-8506-453F-99D9-8B80F69254FB}";

class Regsvr32 : public TempRegistry {};

TEST_F(Regsvr32, RegistersTheServerAndTheFilterThenRemovesBoth) {
    const CommandResult r = run(std::string("/s \"") + NOIR_AX + "\"");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "");

    EXPECT_EQ(reg::get_string(kNoirKey, ""), "Noir");
    char real[4096];
    ASSERT_NE(realpath(NOIR_AX, real), nullptr);
    EXPECT_EQ(reg::get_string(kNoirKey + "\\InprocServer32", ""), std::string(real));
    EXPECT_EQ(reg::get_string(kNoirKey + "\\InprocServer32", "ThreadingModel"), "Both");
    EXPECT_EQ(reg::get_string(kNoirFilterKey, "FriendlyName"), "Noir");
    EXPECT_EQ(reg::get_number(kNoirFilterKey, "Merit"), 0x00200000u);
    EXPECT_EQ(reg::subkeys(kNoirFilterKey + "\\Pins"), std::vector<std::string>{"Output 1"});
    const std::string pin = kNoirFilterKey + "\\Pins\\Output 1";
    EXPECT_EQ(reg::get_number(pin, "IsOutput"), 1u);
    EXPECT_EQ(reg::get_number(pin, "IsRendered"), 0u);
    EXPECT_EQ(reg::get_number(pin, "AllowedZero"), 0u);
    EXPECT_EQ(reg::get_number(pin, "AllowedMany"), 0u);
    EXPECT_EQ(reg::get_string(pin + "\\Types\\0", "MajorType"), guid_to_string(MEDIATYPE_Video));
    EXPECT_EQ(reg::get_string(pin + "\\Types\\0", "MinorType"), guid_to_string(MEDIASUBTYPE_NULL));

    // Registering again leaves one entry.
    ASSERT_EQ(run(std::string("/s ") + NOIR_AX).status, 0);
    EXPECT_EQ(reg::subkeys("SOFTWARE\\Classes\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance").size(), 1u);

    const CommandResult u = run(std::string("/u ") + NOIR_AX);
    ASSERT_EQ(u.status, 0) << u.output;
    EXPECT_NE(u.output.find("DllUnregisterServer"), std::string::npos);
    EXPECT_FALSE(reg::key_exists(kNoirFilterKey));
    EXPECT_FALSE(reg::key_exists(kNoirKey));
}

TEST_F(Regsvr32, FailuresGiveANonZeroCodeAndAMessageUnlessSilent) {
    const CommandResult missing = run(dir + "/absent.ax");
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.output.find("absent.ax"), std::string::npos);

    const CommandResult silent = run("/s " + dir + "/absent.ax");
    EXPECT_NE(silent.status, 0);
    EXPECT_EQ(silent.output, "");

    // A library without the registration export.
    const CommandResult noexport = run(std::string("/s ") + "libc.so.6");
    EXPECT_NE(noexport.status, 0);
    EXPECT_NE(noexport.status, missing.status);

    EXPECT_NE(run("").status, 0);
    EXPECT_NE(run("/x " + std::string(NOIR_AX)).status, 0);
    EXPECT_FALSE(reg::key_exists(kNoirKey));
}

TEST_F(Regsvr32, RegistrationFailsCleanlyWhenTheRegistryCannotBeWritten) {
    // The registry file's folder is a plain file: nothing can be written.
    { std::ofstream(dir + "/blocked") << "x"; }
    setenv("KAVRO_REGISTRY", (dir + "/blocked/registry.xml").c_str(), 1);
    const CommandResult r = run(NOIR_AX);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("failed"), std::string::npos) << r.output;
}

TEST_F(Regsvr32, BareFileNameInTheCurrentFolderIsRegisteredByItsAbsolutePath) {
    std::filesystem::create_directories(dir + "/plugins");
    std::filesystem::copy_file(NOIR_AX, dir + "/plugins/noir.ax");
    char real[4096];
    ASSERT_NE(realpath((dir + "/plugins/noir.ax").c_str(), real), nullptr);
    for (const char* name : {"noir.ax", "../plugins/noir.ax"}) {
        const CommandResult r = run(std::string("/s ") + name, dir + "/plugins");
        ASSERT_EQ(r.status, 0) << name << ": " << r.output;
        EXPECT_EQ(reg::get_string(kNoirKey + "\\InprocServer32", ""), std::string(real)) << name;
        ASSERT_EQ(run(std::string("/s /u ") + name, dir + "/plugins").status, 0) << name;
        EXPECT_FALSE(reg::key_exists(kNoirKey)) << name;
    }
}

// Every key and value below the plug-in's two keys, read from one copy of the registry file.
std::vector<std::string> noir_entries(const std::string& registry, const std::string& copy) {
    std::filesystem::copy_file(registry, copy, std::filesystem::copy_options::overwrite_existing);
    setenv("KAVRO_REGISTRY", copy.c_str(), 1);
    std::vector<std::string> out;
    std::function<void(const std::string&)> walk = [&](const std::string& key) {
        if (!reg::key_exists(key)) return;
        out.push_back(key);
        for (const auto& v : reg::value_names(key)) {
            const auto s = reg::get_string(key, v);
            const auto n = reg::get_number(key, v);
            out.push_back(key + "|" + v + "=" + (s ? *s : n ? std::to_string(*n) : "?"));
        }
        for (const auto& k : reg::subkeys(key)) walk(key + "\\" + k);
    };
    walk(kNoirKey);
    walk(kNoirFilterKey);
    setenv("KAVRO_REGISTRY", registry.c_str(), 1);
    return out;
}

TEST_F(Regsvr32, ARegistrationKilledAnywhereIsWholeOrAbsent) {
    // Another plug-in's keys must survive every kill too.
    ASSERT_TRUE(reg::set_string("SOFTWARE\\Other", "Path", "/opt/other.ax"));
    ASSERT_EQ(register_library(NOIR_AX), S_OK);
    const std::vector<std::string> whole = noir_entries(registry, dir + "/copy.xml");
    ASSERT_GT(whole.size(), 10u);

    int whole_seen = 0, absent_seen = 0;
    for (int trial = 0; trial < 40; ++trial) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            void* lib = kavro::com::load_library(NOIR_AX);
            auto reg_fn = reinterpret_cast<DllRegisterServerFn>(dlsym(lib, "DllRegisterServer"));
            auto unreg_fn = reinterpret_cast<DllRegisterServerFn>(dlsym(lib, "DllUnregisterServer"));
            if (!reg_fn || !unreg_fn) _exit(2);
            for (;;) {
                if (FAILED(unreg_fn()) || FAILED(reg_fn())) _exit(3);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500 + 997 * trial % 20000));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the loop ended by itself: " << status;
        const std::vector<std::string> now = noir_entries(registry, dir + "/copy.xml");
        if (now.empty()) {
            ++absent_seen;
        } else {
            ASSERT_EQ(now, whole) << "trial " << trial << ": half a registration";
            ++whole_seen;
        }
        ASSERT_EQ(reg::get_string("SOFTWARE\\Other", "Path"), "/opt/other.ax") << "trial " << trial;
    }
    EXPECT_GT(whole_seen + absent_seen, 0);
}

} // namespace
