// A real locale with a decimal comma for the tests, whatever locales the machine has installed: fr_FR.UTF-8 is
// built once with localedef (from the `locales` package's sources) into a folder under the temporary directory
// that LOCPATH then names, and the process is switched to it with setlocale(LC_ALL, ...).
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace kavro::test {

// The folder to put in LOCPATH, holding fr_FR.UTF-8; empty (with `why` set) when it cannot be built.
inline std::string decimal_comma_locale_path(std::string& why) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("kavro-test-locales-" + std::to_string(::getuid()));
    if (fs::exists(root / "fr_FR.UTF-8" / "LC_NUMERIC")) return root.string();
    // Built beside the final folder and renamed into place, so that test programs running at the same time
    // never see half a locale.
    const fs::path building = root.string() + ".building." + std::to_string(::getpid());
    std::error_code ec;
    fs::remove_all(building, ec);
    fs::create_directories(building, ec);
    const std::string command =
        "localedef -i fr_FR -f UTF-8 '" + (building / "fr_FR.UTF-8").string() + "' >/dev/null 2>&1";
    const int rc = std::system(command.c_str());
    if (rc != 0 || !fs::exists(building / "fr_FR.UTF-8" / "LC_NUMERIC")) {
        fs::remove_all(building, ec);
        why = "localedef -i fr_FR -f UTF-8 failed (exit " + std::to_string(rc) + "); is the package locales installed?";
        return {};
    }
    fs::rename(building, root, ec);
    fs::remove_all(building, ec); // another program was first: its copy is as good
    return fs::exists(root / "fr_FR.UTF-8" / "LC_NUMERIC") ? root.string() : std::string();
}

// Switches the process to fr_FR.UTF-8 for its lifetime, then back. ok() tells whether the switch took effect
// (printf then writes 0.5 as "0,5"); a test asserts it and never skips.
class DecimalCommaLocale {
public:
    DecimalCommaLocale() {
        const char* old = std::setlocale(LC_ALL, nullptr);
        saved_ = old ? old : "C";
        const std::string path = decimal_comma_locale_path(why_);
        if (path.empty()) return;
        ::setenv("LOCPATH", path.c_str(), 1);
        if (!std::setlocale(LC_ALL, "fr_FR.UTF-8")) {
            why_ = "setlocale(LC_ALL, \"fr_FR.UTF-8\") failed with LOCPATH=" + path;
            return;
        }
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", 0.5);
        if (std::string(text) != "0,5") {
            why_ = std::string("the locale prints 0.5 as ") + text;
            return;
        }
        ok_ = true;
    }
    ~DecimalCommaLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
    DecimalCommaLocale(const DecimalCommaLocale&) = delete;
    DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;

    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }

private:
    std::string saved_;
    std::string why_;
    bool ok_ = false;
};

} // namespace kavro::test
