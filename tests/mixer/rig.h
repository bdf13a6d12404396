// A machine for the mixer's tests: a registry of its own with every filter the mixer looks up registered by the
// regsvr32 tool, a drive C and a configs folder in a temporary folder, the network sender on a free loopback
// port, and the renderer's pictures collected instead of shown.
#pragma once

#include "mixer/state.h"
#include "platform/dshow/vmr9/vmr9.h"
#include "tests/support/filters.h"
#include "tests/support/ports.h"
#include "tests/support/registry.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kavro::test {

// The last picture the renderers composed.
class Pictures {
public:
    Pictures() {
        vmr9::set_picture_sink([this](std::intptr_t, const vmr9::ImageView& v) {
            std::lock_guard lock(mutex_);
            ++count_;
            w_ = v.width;
            h_ = v.height;
            px_.resize(std::size_t(v.width) * std::size_t(v.height));
            for (int y = 0; y < v.height; ++y)
                std::memcpy(&px_[std::size_t(y) * std::size_t(v.width)],
                            reinterpret_cast<const std::uint8_t*>(v.pixels) + v.stride * std::size_t(y),
                            std::size_t(v.width) * 4);
            cv_.notify_all();
        });
    }
    ~Pictures() { vmr9::set_picture_sink(nullptr); }
    // Waits (up to 10 s: a loaded machine) for a picture that satisfies check.
    bool wait_for(const std::function<bool(const Pictures&)>& check) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return count_ > 0 && check(*this); });
    }
    std::uint32_t at(int x, int y) const { return px_[std::size_t(y) * std::size_t(w_) + std::size_t(x)] & 0xffffff; }
    int width() const { return w_; }
    int height() const { return h_; }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int count_ = 0, w_ = 0, h_ = 0;
    std::vector<std::uint32_t> px_;
};

class MixerRig {
public:
    // Registers the plug-ins given (all of them by default).
    explicit MixerRig(std::vector<std::string> plugins = all_plugins()) {
        drive_c_ = work_.str() + "/drive_c";
        ::setenv("KAVRO_DRIVE_C", drive_c_.c_str(), 1);
        ::setenv("KAVRO_JPEG_SENDER_ADDRESS", "127.0.0.1", 1);
        ::setenv("KAVRO_JPEG_SENDER_PORT", std::to_string(free_tcp_port()).c_str(), 1);
        for (const std::string& p : plugins) EXPECT_EQ(regsvr32(REGSVR32, "/s " + p), 0) << p;
        EXPECT_TRUE(dshow::register_builtin_filters());
        std::filesystem::create_directories(configs());
        std::filesystem::copy_file(std::string(KAVRO_SOURCE_DIR) + "/configs/mixer/kavro.xml",
                                   configs() + "kavro_old.xml");
    }
    ~MixerRig() {
        ::unsetenv("KAVRO_DRIVE_C");
        ::unsetenv("KAVRO_JPEG_SENDER_PORT");
        ::unsetenv("KAVRO_JPEG_SENDER_ADDRESS");
    }

    static std::vector<std::string> all_plugins() {
        return {NOIR_AX, ADLINK_AX, SENDER_AX, CAMIP1_AX, CAMIP2_AX, CAMIP3_AX, CAMIP4_AX, CAPTEUR_AX};
    }

    std::string configs() const { return work_.str() + "/configs/"; }
    const std::string& drive_c() const { return drive_c_; }
    std::string read(const std::string& name) const {
        std::ifstream in(configs() + name);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // Replaces `from` by `to` in the configuration file `name`.
    void edit(const std::string& name, const std::string& from, const std::string& to) {
        std::string text = read(name);
        const auto at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        std::ofstream(configs() + name) << text;
    }
    void prepare(mixer::MixerState& s) const {
        s.configs_dir = configs();
    }

private:
    ScopedRegistry registry_;
    TempDir work_{"kavro-mixer"};
    std::string drive_c_;
};

} // namespace kavro::test
