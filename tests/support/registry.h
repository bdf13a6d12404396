// A registry of one test: $KAVRO_REGISTRY names a file in a temporary folder for the object's lifetime.
#pragma once

#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace kavro::test {

// The registry file (`file_name`, relative to the folder; its folders are made by the registry on first
// write) starts absent; the previous $KAVRO_REGISTRY comes back at the end.
class ScopedRegistry {
public:
    explicit ScopedRegistry(const std::string& file_name = "registry.xml") : dir_("kavro-registry") {
        if (const char* old = std::getenv("KAVRO_REGISTRY")) previous_ = old;
        file_ = (dir_ / file_name).string();
        ::setenv("KAVRO_REGISTRY", file_.c_str(), 1);
    }
    ~ScopedRegistry() {
        if (previous_) ::setenv("KAVRO_REGISTRY", previous_->c_str(), 1);
        else ::unsetenv("KAVRO_REGISTRY");
    }
    ScopedRegistry(const ScopedRegistry&) = delete;
    ScopedRegistry& operator=(const ScopedRegistry&) = delete;

    const TempDir& dir() const { return dir_; }
    const std::string& file() const { return file_; }

private:
    TempDir dir_;
    std::string file_;
    std::optional<std::string> previous_;
};

} // namespace kavro::test
