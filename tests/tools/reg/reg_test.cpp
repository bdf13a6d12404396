// The reg tool as the run and installation scripts use it: the values it writes are those the programs read,
// query prints them back, and bad requests change nothing.
#include "platform/registry/registry.h"
#include "tests/support/command.h"
#include "tests/support/registry.h"

#include <gtest/gtest.h>

using namespace kavro::test;
namespace reg = kavro::registry;

namespace {

CommandResult run(const std::string& args) { return run_command(std::string(REG) + " " + args + " 2>&1"); }

TEST(RegTool, AddedValuesAreReadByTheProgramsAndQueriedBack) {
    ScopedRegistry registry;
    CommandResult r = run(R"(add "HKLM\SOFTWARE\KAVRO" /v Installation /d "/opt/kavro dir/" /f)");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(reg::get_string("SOFTWARE\\KAVRO", "Installation"), "/opt/kavro dir/");
    r = run(R"(add "HKEY_LOCAL_MACHINE\SOFTWARE\KAVRO" /v Count /t REG_DWORD /d 0x1F)");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(reg::get_number("SOFTWARE\\KAVRO", "Count"), 31u);

    r = run(R"(query "HKLM\SOFTWARE\KAVRO" /v installation)");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "installation    REG_SZ    /opt/kavro dir/\n");
    r = run(R"(query "HKLM\SOFTWARE\KAVRO" /v Count)");
    EXPECT_EQ(r.output, "Count    REG_DWORD    0x1f\n");

    r = run(R"(delete "HKLM\SOFTWARE\KAVRO" /v Count /f)");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(reg::get_number("SOFTWARE\\KAVRO", "Count"));
    EXPECT_EQ(run(R"(query "HKLM\SOFTWARE\KAVRO" /v Count)").status, 2);
    EXPECT_EQ(run(R"(delete "HKLM\SOFTWARE\KAVRO" /v Count)").status, 2);
}

TEST(RegTool, BadRequestsAreRefusedWithUsageAndWriteNothing) {
    ScopedRegistry registry;
    for (const char* args : {"", "add", R"(add SOFTWARE\KAVRO /d x)", R"(add SOFTWARE\KAVRO /v Installation)",
                             R"(add SOFTWARE\KAVRO /v N /t REG_DWORD /d 12x)",
                             R"(add SOFTWARE\KAVRO /v N /t REG_DWORD /d 4294967296)",
                             R"(add SOFTWARE\KAVRO /v N /t REG_BINARY /d 00)", R"(add SOFTWARE\KAVRO /v N /x 1)",
                             R"(add SOFTWARE\KAVRO /v)", R"(copy SOFTWARE\KAVRO /v N)"}) {
        const CommandResult r = run(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.output.find("usage: reg"), std::string::npos) << args;
    }
    EXPECT_FALSE(reg::key_exists("SOFTWARE\\KAVRO"));
}

} // namespace
