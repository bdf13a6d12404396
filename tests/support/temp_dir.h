// A temporary folder of one test: made fresh under the system's temporary directory, removed with all it holds.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace kavro::test {

// mkdtemp names the folder, so that tests running at the same time (ctest -j, several programs of one suite)
// never share one. The destructor restores the owner's permissions first, for tests that take them away.
class TempDir {
public:
    explicit TempDir(std::string_view prefix = "kavro") {
        std::string pattern = (std::filesystem::temp_directory_path() / prefix).string() + "-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->is_directory(ec)) std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                                                    std::filesystem::perm_options::add, ec);
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder's name, and the same with a slash at the end (the form the configuration readers take).
    std::string str() const { return path_.string(); }
    std::string slash() const { return path_.string() + "/"; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace kavro::test
