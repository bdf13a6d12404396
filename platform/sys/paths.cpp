#include "platform/sys/paths.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace kavro::sys {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool iequal(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Appends one name to base, taking an existing entry that differs only in case when the exact one is absent.
fs::path append_name(const fs::path& base, const std::string& name) {
    fs::path exact = base / name;
    std::error_code ec;
    if (fs::exists(exact, ec)) return exact;
    const fs::path dir = base.empty() ? fs::path(".") : base;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (iequal(it->path().filename().string(), name)) return base / it->path().filename();
    return exact;
}

bool read_only(const fs::path& p) {
    struct stat st;
    if (stat(p.c_str(), &st) != 0) return false;
    return !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH));
}

bool sync_file(const fs::path& p) {
    const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

} // namespace

fs::path drive_c_root() {
    if (auto v = env("KAVRO_DRIVE_C"); !v.empty()) return fs::path(v);
    if (auto v = env("XDG_DATA_HOME"); !v.empty() && fs::path(v).is_absolute())
        return fs::path(v) / "kavro" / "drive_c";
    if (auto v = env("HOME"); !v.empty()) return fs::path(v) / ".local" / "share" / "kavro" / "drive_c";
    return fs::path("/tmp") / "kavro" / "drive_c";
}

fs::path local_path(std::string_view system_path) {
    std::string s(system_path);
    for (char& c : s)
        if (c == '\\') c = '/';
    fs::path base;
    bool rooted = false;
    if (s.size() >= 2 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':') {
        const char drive = char(std::tolower(static_cast<unsigned char>(s[0])));
        base = drive == 'c' ? drive_c_root() : drive_c_root().parent_path() / (std::string("drive_") + drive);
        rooted = true;
        s.erase(0, 2);
    } else if (!s.empty() && s[0] == '/') {
        return fs::path(s).lexically_normal(); // already a path of this machine
    }
    // Split into names; "." is dropped, ".." climbs but never above the drive's root.
    std::vector<std::string> names;
    bool leading_dot = !rooted && s.rfind("./", 0) == 0;
    std::size_t i = 0;
    while (i <= s.size()) {
        const std::size_t j = std::min(s.find('/', i), s.size());
        std::string name = s.substr(i, j - i);
        if (name == "..") {
            if (!names.empty() && names.back() != "..") names.pop_back();
            else if (!rooted) names.push_back(name);
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        i = j + 1;
    }
    const bool trailing = !s.empty() && s.back() == '/';
    fs::path out = rooted ? base : (leading_dot ? fs::path(".") : fs::path());
    for (const auto& n : names) out = n == ".." ? out / n : append_name(out, n);
    if (trailing) out /= "";
    return out;
}

bool path_exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

bool copy_file(const fs::path& from, const fs::path& to, bool fail_if_exists, std::error_code& ec) {
    ec.clear();
    if (!fs::is_regular_file(from, ec)) {
        if (!ec) ec = std::make_error_code(std::errc::no_such_file_or_directory);
        return false;
    }
    if (fs::exists(to, ec)) {
        if (fail_if_exists) return ec = std::make_error_code(std::errc::file_exists), false;
        if (fs::is_directory(to, ec) || read_only(to))
            return ec = std::make_error_code(std::errc::permission_denied), false;
    }
    fs::path tmp = to;
    tmp += ".kavro-copy-" + std::to_string(getpid());
    fs::copy_file(from, tmp, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(tmp, ignored);
        return false;
    }
    fs::rename(tmp, to, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(tmp, ignored);
        return false;
    }
    return true;
}

bool move_file(const fs::path& from, const fs::path& to, unsigned flags, std::error_code& ec) {
    ec.clear();
    if (!fs::exists(fs::symlink_status(from, ec))) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
        return false;
    }
    std::error_code same_ec;
    if (fs::exists(to, ec) && !fs::equivalent(from, to, same_ec)) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return ec = std::make_error_code(std::errc::file_exists), false;
        if (fs::is_directory(to, ec) || read_only(to))
            return ec = std::make_error_code(std::errc::permission_denied), false;
    }
    fs::rename(from, to, ec);
    if (ec == std::errc::cross_device_link) {
        if (!(flags & MOVEFILE_COPY_ALLOWED) || fs::is_directory(from)) return false;
        if (!copy_file(from, to, false, ec)) return false;
        fs::remove(from, ec);
        if (ec) return false;
    } else if (ec) {
        return false;
    }
    if (flags & MOVEFILE_WRITE_THROUGH) sync_file(to);
    return true;
}

} // namespace kavro::sys
