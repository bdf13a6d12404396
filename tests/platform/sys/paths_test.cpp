// The drive-C root, the mapping of the system's paths, and the Win32 copy and move rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/sys/paths.h"
#include "tests/support/temp_dir.h"

using namespace kavro::sys;
namespace fs = std::filesystem;

namespace {

using kavro::test::TempDir;

void write(const fs::path& p, const std::string& s) { std::ofstream(p) << s; }
std::string read(const fs::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct EnvGuard {
    std::string name;
    std::optional<std::string> old;
    EnvGuard(const char* n, const char* v) : name(n) {
        if (const char* o = std::getenv(n)) old = o;
        if (v) setenv(n, v, 1);
        else unsetenv(n);
    }
    ~EnvGuard() {
        if (old) setenv(name.c_str(), old->c_str(), 1);
        else unsetenv(name.c_str());
    }
};

TEST(DriveC, RootComesFromTheEnvironment) {
    {
        EnvGuard a("KAVRO_DRIVE_C", "/srv/kavro/c");
        EXPECT_EQ(drive_c_root(), fs::path("/srv/kavro/c"));
    }
    EnvGuard a("KAVRO_DRIVE_C", nullptr);
    {
        EnvGuard b("XDG_DATA_HOME", "/home/op/.data");
        EXPECT_EQ(drive_c_root(), fs::path("/home/op/.data/kavro/drive_c"));
    }
    EnvGuard b("XDG_DATA_HOME", nullptr);
    EnvGuard c("HOME", "/home/op");
    EXPECT_EQ(drive_c_root(), fs::path("/home/op/.local/share/kavro/drive_c"));
}

TEST(DriveC, SystemPathsMapUnderTheRootAndRelativePathsStayRelative) {
    TempDir t;
    EnvGuard e("KAVRO_DRIVE_C", t.path().c_str());
    EXPECT_EQ(local_path("C:/Program Files/KAVRO/Map/indexMap.html"), t.path() / "Program Files/KAVRO/Map/indexMap.html");
    EXPECT_EQ(local_path("C:/Program Files/KAVRO/Map/snapshot/"), t.path() / "Program Files/KAVRO/Map/snapshot/");
    EXPECT_EQ(local_path("c:\\windows\\system32\\ijl15.dll"), t.path() / "windows/system32/ijl15.dll");
    EXPECT_EQ(local_path("C:\\\\MyGraph.grf"), t.path() / "MyGraph.grf");
    EXPECT_EQ(local_path("./configs/interface.xml"), fs::path("./configs/interface.xml"));
    EXPECT_EQ(local_path(".\\bin\\NAT\\nat.exe"), fs::path("./bin/NAT/nat.exe"));
    EXPECT_EQ(local_path("Images/mesh.ppm"), fs::path("Images/mesh.ppm"));
    // ".." never climbs out of the drive.
    EXPECT_EQ(local_path("C:/../../etc/passwd"), t.path() / "etc/passwd");
    EXPECT_EQ(local_path("C:/a/b/../c"), t.path() / "a/c");
    EXPECT_EQ(local_path("D:/data"), t.path().parent_path() / "drive_d/data");
    // An existing folder whose name differs only in case is found.
    fs::create_directories(t.path() / "Windows" / "System32");
    EXPECT_EQ(local_path("c:\\windows\\system32\\x.dll"), t.path() / "Windows/System32/x.dll");
}

TEST(Files, CopyFollowsTheWin32Rules) {
    TempDir t;
    const fs::path a = t.path() / "a.txt", b = t.path() / "b.txt";
    std::error_code ec;
    EXPECT_FALSE(copy_file(t.path() / "missing", b, false, ec));
    EXPECT_TRUE(ec);
    write(a, "one");
    EXPECT_TRUE(copy_file(a, b, true, ec)) << ec.message();
    EXPECT_EQ(read(b), "one");
    write(a, "two");
    EXPECT_FALSE(copy_file(a, b, true, ec)); // fail if exists
    EXPECT_EQ(ec, std::errc::file_exists);
    EXPECT_EQ(read(b), "one");
    EXPECT_TRUE(copy_file(a, b, false, ec));
    EXPECT_EQ(read(b), "two");
    fs::permissions(b, fs::perms::owner_read | fs::perms::group_read);
    EXPECT_FALSE(copy_file(a, b, false, ec)); // read-only destination
    EXPECT_EQ(ec, std::errc::permission_denied);
    fs::create_directory(t.path() / "dir");
    EXPECT_FALSE(copy_file(a, t.path() / "dir", false, ec));
    EXPECT_EQ(std::distance(fs::directory_iterator(t.path()), fs::directory_iterator()), 3); // no temporary left
}

TEST(Files, MoveFollowsTheWin32Rules) {
    TempDir t;
    const fs::path cur = t.path() / "interface.xml", old = t.path() / "interface_old.xml";
    std::error_code ec;
    EXPECT_FALSE(move_file(cur, old, MOVEFILE_REPLACE_EXISTING, ec)); // nothing to move
    EXPECT_FALSE(fs::exists(old));
    write(cur, "new");
    write(old, "old");
    EXPECT_FALSE(move_file(cur, old, 0, ec)); // exists, no replace
    EXPECT_EQ(ec, std::errc::file_exists);
    EXPECT_TRUE(move_file(cur, old, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, ec)) << ec.message();
    EXPECT_FALSE(fs::exists(cur));
    EXPECT_EQ(read(old), "new");
    // A read-only destination is not replaced.
    write(cur, "newer");
    fs::permissions(old, fs::perms::owner_read);
    EXPECT_FALSE(move_file(cur, old, MOVEFILE_REPLACE_EXISTING, ec));
    EXPECT_EQ(ec, std::errc::permission_denied);
    EXPECT_EQ(read(cur), "newer");
    // Moving onto itself is fine.
    EXPECT_TRUE(move_file(cur, cur, MOVEFILE_REPLACE_EXISTING, ec));
    EXPECT_TRUE(path_exists(cur));
    EXPECT_FALSE(path_exists(t.path() / "nothing"));
}

} // namespace
