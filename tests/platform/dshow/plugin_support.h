// Helpers of the plug-in tests: regsvr32 and the mixer's lookup by friendly name (tests/support/filters.h), and
// a sample grabber tap that keeps the last frame of a pin.
#pragma once

#include "tests/platform/dshow/test_support.h"
#include "tests/support/filters.h"
#include "tests/support/grabber_callback.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kavro::test {

// A sample grabber and a null renderer behind one output pin; keeps the last frame and every sample time.
class Tap final : public GrabberCallback {
public:
    // `direct`: the pin connects straight to the grabber; otherwise the graph may insert a decoder between.
    Tap(IGraphBuilder* graph, IPin* out, const char* name, bool direct = true) {
        EXPECT_EQ(graph->QueryInterface(IID_IMediaControl, control_.put_void()), S_OK);
        grabber_ = create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
        null_ = create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
        EXPECT_EQ(graph->AddFilter(grabber_.get(), name), S_OK);
        EXPECT_EQ(graph->AddFilter(null_.get(), (std::string(name) + " end").c_str()), S_OK);
        ComPtr<ISampleGrabber> sg;
        EXPECT_EQ(grabber_.as(IID_ISampleGrabber, sg), S_OK);
        AM_MEDIA_TYPE want{};
        want.majortype = MEDIATYPE_Video;
        want.subtype = MEDIASUBTYPE_RGB32;
        EXPECT_EQ(sg->SetMediaType(&want), S_OK);
        EXPECT_EQ(sg->SetBufferSamples(FALSE), S_OK);
        EXPECT_EQ(sg->SetOneShot(FALSE), S_OK);
        EXPECT_EQ(sg->SetCallback(this, 1), S_OK);
        sg_ = sg;
        const ComPtr<IPin> in = find_pin(grabber_.get(), PINDIR_INPUT);
        EXPECT_EQ(direct ? graph->ConnectDirect(out, in.get(), nullptr) : graph->Connect(out, in.get()), S_OK);
        EXPECT_EQ(graph->ConnectDirect(find_pin(grabber_.get(), PINDIR_OUTPUT).get(),
                                       find_pin(null_.get(), PINDIR_INPUT).get(), nullptr),
                  S_OK);
    }

    // The grabber may still be calling the tap on its streaming thread: the graph stops first.
    ~Tap() {
        if (control_) control_->Stop();
        if (sg_) sg_->SetCallback(nullptr, 1);
    }
    Tap(const Tap&) = delete;
    Tap& operator=(const Tap&) = delete;

    HRESULT BufferCB(double time, BYTE* buffer, LONG length) override {
        std::lock_guard lock(mutex_);
        times_.push_back(time);
        last_.assign(reinterpret_cast<const std::uint32_t*>(buffer),
                     reinterpret_cast<const std::uint32_t*>(buffer) + length / 4);
        return 0;
    }

    // Waits (up to `limit`) for a frame that satisfies `check`; the frame is rows top first, 0x00RRGGBB.
    bool wait_for(const std::function<bool(const std::vector<std::uint32_t>&)>& check,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(4000)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (!last_.empty() && check(last_)) return true;
            }
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    std::vector<std::uint32_t> last() {
        std::lock_guard lock(mutex_);
        return last_;
    }
    std::vector<double> times() {
        std::lock_guard lock(mutex_);
        return times_;
    }

private:
    ComPtr<IBaseFilter> grabber_, null_;
    ComPtr<ISampleGrabber> sg_;
    ComPtr<IMediaControl> control_;
    std::mutex mutex_;
    std::vector<double> times_;
    std::vector<std::uint32_t> last_;
};

} // namespace kavro::test
