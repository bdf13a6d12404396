// The setup program as an installation runs it: a registry file of the test's own, drive C in a temporary
// folder, the registrations through the shell. First with a fake regsvr32 beside a copy of the program, which
// records its command lines and fails on a chosen library; then with the real regsvr32 on the real plug-ins.
#include "platform/com/runtime.h"
#include "platform/registry/registry.h"
#include "tests/support/command.h"
#include "tests/support/message_boxes.h"
#include "tests/support/ports.h"
#include "tests/support/registry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

using namespace kavro::test;
namespace fs = std::filesystem;
namespace reg = kavro::registry;

namespace {

const char* const kLibraries[] = {"WinGraphviz.dll", "xplug.ocx",   "VitaminCtrl.dll",   "VADecoder.dll",
                                  "Adlink.ax",       "camIP.ax",    "camIP2.ax",         "camIP3.ax",
                                  "camIP4.ax",       "capTelcar.ax", "JPEG_Receiver.ax", "Mesh.ax",
                                  "noir.ax",         "SenderJPEG.ax"};

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

std::vector<std::string> lines(const fs::path& p) {
    std::vector<std::string> out;
    std::ifstream in(p);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

class SetupProgram : public ::testing::Test {
protected:
    SetupProgram() {
        folder = install.slash();
        reg::set_string("SOFTWARE\\KAVRO", "Installation", folder);
        write(install / "Filtres/Default.olsr", "LoadPlugin \"olsrd_dot_draw.so.0.3\"\n");
        write(drive / "Program Files/olsrd/Default.olsr", "the daemon's own\n");
    }

    // Runs the program at `program` without a desktop, so its messages come on standard error.
    CommandResult run(const fs::path& program, const std::string& fail_on = {}) {
        return run_command("env -u DISPLAY -u WAYLAND_DISPLAY KAVRO_DRIVE_C='" + drive.str() +
                           "' FAKE_REGSVR32_LOG='" + (tools / "calls").string() + "' FAKE_REGSVR32_FAIL='" +
                           fail_on + "' '" + program.string() + "' 2>&1");
    }

    // A copy of the program beside a regsvr32 that records "$*" and fails with 3 on the library named.
    fs::path program_with_fake_regsvr32() {
        for (const char* lib : {"d3dx9_24.dll", "ijl15.dll", "VitaminCtrl.dll"})
            write(install / "Filtres" / lib, lib);
        write(tools / "regsvr32", "#!/bin/sh\n"
                                  "printf '%s\\n' \"$*\" >> \"$FAKE_REGSVR32_LOG\"\n"
                                  "if [ -n \"$FAKE_REGSVR32_FAIL\" ] && [ \"${2##*/}\" = \"$FAKE_REGSVR32_FAIL\" ]; "
                                  "then exit 3; fi\n");
        fs::permissions(tools / "regsvr32", fs::perms::owner_all);
        fs::copy_file(SETUP_PROGRAM, tools / "setup");
        return tools / "setup";
    }

    std::string registration(const char* library) const { return "/s " + folder + "Filtres/" + library; }

    ScopedRegistry registry;
    TempDir install{"kv"};
    TempDir drive{"kavro-drive"};
    TempDir tools{"kavro-tools"};
    std::string folder;
};

TEST_F(SetupProgram, RunsTheFourteenRegistrationsInOrderThroughTheShell) {
    const CommandResult r = run(program_with_fake_regsvr32());
    EXPECT_EQ(r.status, 0) << r.output;
    std::vector<std::string> expected;
    for (const char* lib : kLibraries) expected.push_back(registration(lib));
    EXPECT_EQ(lines(tools / "calls"), expected);
    EXPECT_EQ(read(drive / "windows/system32/ijl15.dll"), "ijl15.dll");
    EXPECT_EQ(read(drive / "Program Files/olsrd/Default.olsr"), "LoadPlugin \"olsrd_dot_draw.so.0.3\"\n");
}

TEST_F(SetupProgram, AFailedFifthRegistrationIsNamedWithItsQuotationMarkAndEndsTheStep) {
    const CommandResult r = run(program_with_fake_regsvr32(), "Adlink.ax");
    EXPECT_EQ(r.status, 255); // -1
    EXPECT_NE(r.output.find("[Erreur] KAVRO n'est pas correctement installé : \nFiltres/Adlink.ax\" introuvable"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(lines(tools / "calls").size(), 5u);
    EXPECT_EQ(read(drive / "Program Files/olsrd/Default.olsr"), "the daemon's own\n");
}

TEST_F(SetupProgram, WithoutTheDaemonEveryLibraryIsRegisteredBeforeTheMessage) {
    fs::remove_all(drive / "Program Files");
    const CommandResult r = run(program_with_fake_regsvr32());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(lines(tools / "calls").size(), 14u);
    EXPECT_NE(r.output.find("Olsr n'est pas installe dans \"Program Files\""), std::string::npos) << r.output;
}

TEST_F(SetupProgram, AValueOfMoreThanEightyBytesIsReportedAndNothingIsDone) {
    reg::set_string("SOFTWARE\\KAVRO", "Installation", "/" + std::string(38, 'k') + "/"); // 40 units + 0: 82 bytes
    const CommandResult r = run(program_with_fake_regsvr32());
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.output.find("[Erreur] KAVRO n'est pas correctement installé : \nAucune entrée dans le registre."),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(fs::exists(tools / "calls"));
    EXPECT_FALSE(fs::exists(drive / "windows"));
}

// The installation's Filtres folder as the package lays it out, from the build's files (copies: a plug-in
// registers the path it was loaded from with links resolved).
void copy_build_files(const fs::path& filtres) {
    const fs::path bin = fs::path(SETUP_PROGRAM).parent_path();
    for (const char* lib : kLibraries) fs::copy_file(bin / lib, filtres / lib);
    fs::copy_file(bin / "kavro-layout", filtres / "kavro-layout"); // WinGraphviz.dll's worker
    fs::copy_file(bin / "libkavro_dshow.so", filtres / "d3dx9_24.dll");
    fs::copy_file(bin / "ijl15.dll", filtres / "ijl15.dll");
    fs::create_directories(filtres.parent_path() / "Images");
    fs::copy_file(MESH_PPM, filtres.parent_path() / "Images/mesh.ppm"); // the mesh filter's default picture
}

TEST_F(SetupProgram, TheRealRegsvr32RegistersEveryPlugInSoThatEachClassIsCreated) {
    copy_build_files(install / "Filtres");
    const CommandResult r = run(SETUP_PROGRAM);
    ASSERT_EQ(r.status, 0) << r.output;

    // Every class registered from the Filtres folder is created by its CLSID.
    const std::string port = std::to_string(free_tcp_port());
    ::setenv("KAVRO_JPEG_SENDER_PORT", port.c_str(), 1);
    MessageBoxes boxes;
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    std::set<std::string> libraries;
    int classes = 0;
    for (const std::string& key : reg::subkeys("SOFTWARE\\Classes\\CLSID")) {
        const auto server = reg::get_string("SOFTWARE\\Classes\\CLSID\\" + key + "\\InprocServer32", "");
        if (!server || !server->starts_with(folder + "Filtres/")) continue;
        libraries.insert(fs::path(*server).filename().string());
        const auto clsid = guid_from_string(key);
        ASSERT_TRUE(clsid) << key;
        IUnknown* object = nullptr;
        EXPECT_EQ(CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&object)),
                  S_OK)
            << key << " of " << *server;
        if (object) object->Release();
        ++classes;
    }
    CoUninitialize();
    // Each library registers classes of its own, except the two without a part to play here.
    std::set<std::string> expected(std::begin(kLibraries), std::end(kLibraries));
    expected.erase("xplug.ocx");
    expected.erase("VADecoder.dll");
    EXPECT_EQ(libraries, expected);
    EXPECT_GE(classes, 12);
    EXPECT_TRUE(boxes.empty()) << boxes.seen().front();
}

} // namespace
