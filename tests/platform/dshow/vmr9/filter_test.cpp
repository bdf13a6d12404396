// The mixing renderer filter in real graphs: creation by class identifier, its configuration interfaces,
// type negotiation, running graphs composing Noir and test sources with a colour-keyed overlay, streams
// connected and disconnected between runs, display pacing, the current image and the window system.
#include "platform/dshow/vmr9/vmr9.h"
#include "platform/ui/gdi.h"
#include "platform/ui/ui.h"
#include "tests/platform/dshow/test_support.h"
#include "tests/platform/dshow/vmr9/test_source.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <thread>

using namespace kavro::test;
using kavro::vmr9::ImageView;

namespace {

constexpr std::intptr_t test_window = 77;

// Records the pictures the renderers send, for the test to wait on.
class PictureLog {
public:
    PictureLog() {
        kavro::vmr9::set_picture_sink([this](std::intptr_t window, const ImageView& v) {
            std::lock_guard lock(mutex_);
            ++count_;
            window_ = window;
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
    ~PictureLog() { kavro::vmr9::set_picture_sink(nullptr); }

    int count() {
        std::lock_guard lock(mutex_);
        return count_;
    }
    int seen() const { return count_; } // inside a check of wait_for
    // Waits until a picture satisfies the check (up to 3 s).
    bool wait_for(const std::function<bool(const PictureLog&)>& check) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(3), [&] { return count_ > 0 && check(*this); });
    }
    std::uint32_t at(int x, int y) const { return px_[std::size_t(y) * std::size_t(w_) + std::size_t(x)] & 0xffffff; }
    int width() const { return w_; }
    int height() const { return h_; }
    // For use outside wait_for: read under the lock, since the display thread keeps writing.
    std::intptr_t last_window() {
        std::lock_guard lock(mutex_);
        return window_;
    }
    std::string last_pixels(std::initializer_list<std::pair<int, int>> points) {
        std::lock_guard lock(mutex_);
        std::string text;
        for (auto [x, y] : points) {
            char hex[16] = " -";
            if (x < w_ && y < h_) std::snprintf(hex, sizeof hex, " %06x", at(x, y));
            text += hex;
        }
        return text;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int count_ = 0;
    std::intptr_t window_ = 0;
    int w_ = 0, h_ = 0;
    std::vector<std::uint32_t> px_;
};

bool near(std::uint32_t got, double r, double g, double b, double tol = 2.5) {
    return std::fabs(double(got >> 16 & 0xff) - r) <= tol && std::fabs(double(got >> 8 & 0xff) - g) <= tol &&
           std::fabs(double(got & 0xff) - b) <= tol;
}

struct Mixer {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> vmr;
    ComPtr<IVMRFilterConfig9> config;
    ComPtr<IVMRWindowlessControl9> windowless;
    ComPtr<IVMRMixerControl9> mixer;
    ComPtr<IVMRMixerBitmap9> bitmap;

    explicit Mixer(DWORD streams) {
        graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        EXPECT_EQ(graph.as(IID_IMediaControl, control), S_OK);
        vmr = create<IBaseFilter>(CLSID_VideoMixingRenderer9, IID_IBaseFilter);
        EXPECT_EQ(graph->AddFilter(vmr.get(), "VMR9"), S_OK);
        EXPECT_EQ(vmr.as(IID_IVMRFilterConfig9, config), S_OK);
        EXPECT_EQ(config->SetRenderingMode(VMR9Mode_Windowless), S_OK);
        EXPECT_EQ(config->SetNumberOfStreams(streams), S_OK);
        EXPECT_EQ(vmr.as(IID_IVMRWindowlessControl9, windowless), S_OK);
        EXPECT_EQ(vmr.as(IID_IVMRMixerControl9, mixer), S_OK);
        EXPECT_EQ(vmr.as(IID_IVMRMixerBitmap9, bitmap), S_OK);
    }
    ~Mixer() {
        if (control) control->Stop();
    }
    ComPtr<IPin> input(int k) { return find_pin(vmr.get(), PINDIR_INPUT, k); }
    HRESULT connect(IBaseFilter* source, int k) {
        auto out = find_pin(source, PINDIR_OUTPUT, 0);
        auto in = input(k);
        if (!out || !in) return E_FAIL;
        return graph->ConnectDirect(out.get(), in.get(), nullptr);
    }
};

IBaseFilter* add_source(Mixer& m, const char* name, TestVideoLayout layout, PictureFn picture,
                        CTestVideoStream** stream = nullptr) {
    IBaseFilter* f = CTestVideoSource::create(layout, std::move(picture), stream);
    EXPECT_EQ(m.graph->AddFilter(f, name), S_OK);
    return f;
}

class Vmr9Filter : public TempRegistry {};

} // namespace

TEST_F(Vmr9Filter, CreatedByClassWithItsInterfacesAndPins) {
    auto vmr = create<IBaseFilter>(CLSID_VideoMixingRenderer9, IID_IBaseFilter);
    ASSERT_TRUE(vmr);
    ComPtr<IVMRFilterConfig9> config;
    ComPtr<IVMRMixerControl9> mixer;
    ComPtr<IVMRWindowlessControl9> windowless;
    ComPtr<IVMRMixerBitmap9> bitmap;
    ASSERT_EQ(vmr.as(IID_IVMRFilterConfig9, config), S_OK);
    ASSERT_EQ(vmr.as(IID_IVMRMixerControl9, mixer), S_OK);
    ASSERT_EQ(vmr.as(IID_IVMRWindowlessControl9, windowless), S_OK);
    ASSERT_EQ(vmr.as(IID_IVMRMixerBitmap9, bitmap), S_OK);

    EXPECT_TRUE(find_pin(vmr.get(), PINDIR_INPUT, 0));
    EXPECT_FALSE(find_pin(vmr.get(), PINDIR_INPUT, 1)); // one input until streams are asked for
    EXPECT_EQ(config->SetRenderingMode(VMR9Mode_Renderless), E_INVALIDARG);
    EXPECT_EQ(config->SetRenderingMode(VMR9Mode_Windowless), S_OK);
    EXPECT_EQ(config->SetNumberOfStreams(0), E_INVALIDARG);
    EXPECT_EQ(config->SetNumberOfStreams(17), E_INVALIDARG);
    ASSERT_EQ(config->SetNumberOfStreams(12), S_OK);
    for (int k = 0; k < 12; ++k) {
        auto pin = find_pin(vmr.get(), PINDIR_INPUT, k);
        ASSERT_TRUE(pin) << k;
        PIN_INFO info{};
        ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
        EXPECT_EQ(std::string(info.achName), "VMR Input" + std::to_string(k));
        info.pFilter->Release();
    }
    EXPECT_FALSE(find_pin(vmr.get(), PINDIR_INPUT, 12));
    ComPtr<IPin> by_name;
    EXPECT_EQ(vmr->FindPin("VMR Input11", by_name.put()), S_OK);

    const VMR9NormalizedRect r{0, 0, 0.5f, 0.5f};
    EXPECT_EQ(mixer->SetOutputRect(11, &r), S_OK);
    EXPECT_EQ(mixer->SetOutputRect(12, &r), E_INVALIDARG);
    EXPECT_EQ(mixer->SetOutputRect(0, nullptr), E_POINTER);
    EXPECT_EQ(mixer->SetAlpha(3, 0.8f), S_OK);
    EXPECT_EQ(mixer->SetAlpha(3, 1.5f), E_INVALIDARG);
    EXPECT_EQ(mixer->SetAlpha(12, 0.5f), E_INVALIDARG);
    EXPECT_EQ(mixer->SetZOrder(0, 15), S_OK);
    EXPECT_EQ(mixer->SetZOrder(16, 15), E_INVALIDARG);

    // The mixer's preference update: other filtering and render-target bits cleared, bilinear and RGB set.
    DWORD prefs = 0;
    ASSERT_EQ(mixer->GetMixingPrefs(&prefs), S_OK);
    EXPECT_EQ(prefs & MixerPref9_FilteringMask, MixerPref9_BiLinearFiltering);
    EXPECT_EQ(prefs & MixerPref9_RenderTargetMask, MixerPref9_RenderTargetRGB);
    ASSERT_EQ(mixer->SetMixingPrefs((prefs & 0xFFF0101F) | 0x1010), S_OK);
    DWORD again = 0;
    mixer->GetMixingPrefs(&again);
    EXPECT_EQ(again, (prefs & 0xFFF0101F) | 0x1010);
    EXPECT_EQ(mixer->GetMixingPrefs(nullptr), E_POINTER);

    EXPECT_EQ(windowless->SetVideoPosition(nullptr, nullptr), E_POINTER);
    const RECT negative{10, 10, 0, 0};
    EXPECT_EQ(windowless->SetVideoPosition(nullptr, &negative), E_INVALIDARG);
    BYTE* dib = nullptr;
    EXPECT_EQ(windowless->GetCurrentImage(&dib), E_FAIL); // nothing connected: no native size
    EXPECT_EQ(windowless->GetCurrentImage(nullptr), E_POINTER);
    EXPECT_EQ(bitmap->SetAlphaBitmap(nullptr), E_POINTER);

    // The overlay comes from a device context of the window system; anything else is refused.
    auto canvas = std::make_shared<kavro::ui::Canvas>(64, 48);
    kavro::ui::Dc dc(canvas);
    VMR9AlphaBitmap ab{};
    ab.dwFlags = VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_SrcColorKey;
    ab.hdc = &dc;
    ab.rSrc = {0, 0, 64, 48};
    ab.rDest = {0, 0, 1, 1};
    ab.fAlpha = 0.5f;
    EXPECT_EQ(bitmap->SetAlphaBitmap(&ab), S_OK);
    VMR9AlphaBitmap bad = ab;
    bad.rSrc = {0, 0, 65, 48}; // beyond the canvas
    EXPECT_EQ(bitmap->SetAlphaBitmap(&bad), E_INVALIDARG);
    bad = ab;
    bad.rSrc = {10, 10, 10, 20}; // empty
    EXPECT_EQ(bitmap->SetAlphaBitmap(&bad), E_INVALIDARG);
    bad = ab;
    bad.fAlpha = -0.5f;
    EXPECT_EQ(bitmap->SetAlphaBitmap(&bad), E_INVALIDARG);
    bad = ab;
    bad.dwFlags = VMR9AlphaBitmap_EntireDDS; // no display surfaces here
    EXPECT_EQ(bitmap->SetAlphaBitmap(&bad), E_INVALIDARG);
    bad = ab;
    bad.hdc = nullptr;
    EXPECT_EQ(bitmap->SetAlphaBitmap(&bad), E_INVALIDARG);
    kavro::ui::Dc empty;
    bad.hdc = &empty; // a device context without a canvas
    EXPECT_EQ(bitmap->SetAlphaBitmap(&bad), E_INVALIDARG);
    bad = ab;
    bad.rDest = {0, 0, NAN, 1};
    EXPECT_EQ(bitmap->SetAlphaBitmap(&bad), E_INVALIDARG);
    bad.dwFlags = VMR9AlphaBitmap_Disable; // switching it off needs nothing else
    EXPECT_EQ(bitmap->SetAlphaBitmap(&bad), S_OK);
}

// Inputs take uncompressed 5-6-5, 24-bit and 32-bit RGB video, either row order; nothing else.
TEST_F(Vmr9Filter, NegotiatesTheRgbLayouts) {
    Mixer m(6);
    auto solid = [](int, int, int) { return 0x123456u; };
    struct Case {
        TestVideoLayout layout;
        bool accepted;
    } cases[] = {
        {{MEDIASUBTYPE_RGB565, 16, 64, 48, true}, true},   {{MEDIASUBTYPE_RGB24, 24, 63, 47, true}, true},
        {{MEDIASUBTYPE_RGB24, 24, 64, 48, false}, true},   {{MEDIASUBTYPE_RGB32, 32, 64, 48, false}, true},
        {{MEDIASUBTYPE_RGB555, 16, 64, 48, true}, false},  {{MEDIASUBTYPE_RGB32, 24, 64, 48, true}, false},
    };
    int k = 0;
    for (const Case& c : cases) {
        ComPtr<IBaseFilter> f = ComPtr<IBaseFilter>::adopt(add_source(m, ("source " + std::to_string(k)).c_str(), c.layout, solid));
        const HRESULT hr = m.connect(f.get(), k);
        EXPECT_EQ(SUCCEEDED(hr), c.accepted) << "case " << k << " " << hresult_name(hr);
        ++k;
    }
    // Streams cannot be changed once inputs are connected.
    EXPECT_EQ(m.config->SetNumberOfStreams(8), VFW_E_WRONG_STATE);
}

// Noir on stream 0 behind two test sources (24-bit bottom-up and 32-bit top-down) with rectangles, opacities,
// layers and a colour-keyed overlay; the window's picture is checked at chosen points.
TEST_F(Vmr9Filter, RunningGraphComposesStreamsAndOverlay) {
    ASSERT_EQ(register_library(NOIR_AX), S_OK);
    PictureLog log;
    Mixer m(9);
    auto noir = create<IBaseFilter>(make_guid("9E237DA7-8506-453F-99D9-8B80F69254FB"), IID_IBaseFilter);
    ASSERT_EQ(m.graph->AddFilter(noir.get(), "Noir"), S_OK);
    auto builder = create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    ASSERT_EQ(builder->SetFiltergraph(m.graph.get()), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, noir.get(), nullptr, m.vmr.get()), S_OK);
    ComPtr<IPin> connected;
    ASSERT_EQ(m.input(0)->ConnectedTo(connected.put()), S_OK); // Noir took input 0

    // Red above, yellow below: shows that rows come the right way up.
    ComPtr<IBaseFilter> a = ComPtr<IBaseFilter>::adopt(add_source(
        m, "A", {MEDIASUBTYPE_RGB24, 24, 64, 48, true}, [](int, int y, int) { return y < 24 ? 0xff0000u : 0xffff00u; }));
    ComPtr<IBaseFilter> b = ComPtr<IBaseFilter>::adopt(
        add_source(m, "B", {MEDIASUBTYPE_RGB32, 32, 40, 30, false}, [](int, int, int) { return 0x0000ffu; }));
    ASSERT_EQ(m.connect(a.get(), 1), S_OK);
    ASSERT_EQ(m.connect(b.get(), 2), S_OK);

    // Composition 768x576 shown in a 384x288 destination. A: left half at alpha 1, z 10 (behind B).
    // B: (0.25..0.75, 0.25..0.75) at alpha 0.5, z 3. Noir: z 15.
    ASSERT_EQ(m.windowless->SetVideoClippingWindow(test_window), S_OK);
    const RECT dest{0, 0, 384, 288};
    ASSERT_EQ(m.windowless->SetVideoPosition(nullptr, &dest), S_OK);
    const VMR9NormalizedRect whole{0, 0, 1, 1}, left{0, 0, 0.5f, 1}, middle{0.25f, 0.25f, 0.75f, 0.75f};
    ASSERT_EQ(m.mixer->SetOutputRect(0, &whole), S_OK);
    ASSERT_EQ(m.mixer->SetAlpha(0, 1.0f), S_OK);
    ASSERT_EQ(m.mixer->SetZOrder(0, 15), S_OK);
    ASSERT_EQ(m.mixer->SetOutputRect(1, &left), S_OK);
    ASSERT_EQ(m.mixer->SetZOrder(1, 10), S_OK);
    ASSERT_EQ(m.mixer->SetOutputRect(2, &middle), S_OK);
    ASSERT_EQ(m.mixer->SetAlpha(2, 0.5f), S_OK);
    ASSERT_EQ(m.mixer->SetZOrder(2, 3), S_OK);

    // Overlay: a 768x576 canvas, black (transparent) but for a white band at rows 500..539, at alpha 0.6.
    auto canvas = std::make_shared<kavro::ui::Canvas>(768, 576);
    for (int y = 0; y < 576; ++y)
        for (int x = 0; x < 768; ++x) canvas->set_pixel(x, y, y >= 500 && y < 540 ? 0xffffffffu : 0xff000000u);
    kavro::ui::Dc dc(canvas);
    VMR9AlphaBitmap ab{};
    ab.dwFlags = VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_SrcColorKey;
    ab.hdc = &dc;
    ab.rSrc = {0, 0, 768, 576};
    ab.rDest = {0, 0, 1, 1};
    ab.fAlpha = 0.6f;
    ab.clrSrcKey = 0;
    ASSERT_EQ(m.bitmap->SetAlphaBitmap(&ab), S_OK);

    ASSERT_EQ(m.control->Run(), S_OK);
    // Destination pixels: x 0..191 is A's half; B covers 96..287 x 72..215; the band is rows 250..269.
    auto expected = [](const PictureLog& p) {
        return p.width() == 384 && p.height() == 288 && near(p.at(40, 30), 255, 0, 0) &&  // A top: red
               near(p.at(40, 200), 255, 255, 0) &&                                          // A bottom: yellow
               near(p.at(150, 100), 127.5, 0, 127.5) &&                                     // B over red
               near(p.at(250, 100), 0, 0, 127.5) &&                                         // B over black
               near(p.at(300, 30), 0, 0, 0) &&                                              // Noir only
               near(p.at(40, 260), 255, 255, 255 * 0.6) &&                                  // band over yellow
               near(p.at(300, 260), 153, 153, 153);                                         // band over black
    };
    EXPECT_TRUE(log.wait_for(expected))
        << "last picture:"
        << log.last_pixels({{40, 30}, {40, 200}, {150, 100}, {250, 100}, {300, 30}, {40, 260}, {300, 260}});
    EXPECT_EQ(log.last_window(), test_window);

    // The current image: the composition at Noir's native size, 32 bits, rows bottom-up.
    BYTE* dib = nullptr;
    ASSERT_EQ(m.windowless->GetCurrentImage(&dib), S_OK);
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib, sizeof h);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 768);
    EXPECT_EQ(h.biHeight, 576);
    EXPECT_EQ(h.biBitCount, 32);
    EXPECT_EQ(h.biSizeImage, 768u * 576u * 4u);
    auto pixel = [&](int x, int y) {
        std::uint32_t v;
        std::memcpy(&v, dib + 40 + (std::size_t(575 - y) * 768 + std::size_t(x)) * 4, 4);
        return v & 0xffffff;
    };
    EXPECT_TRUE(near(pixel(80, 60), 255, 0, 0));
    EXPECT_TRUE(near(pixel(600, 60), 0, 0, 0));
    EXPECT_TRUE(near(pixel(500, 200), 0, 0, 127.5));
    CoTaskMemFree(dib);

    // Switching the overlay off and moving B while running takes effect without a restart.
    ab.dwFlags = VMR9AlphaBitmap_Disable;
    ASSERT_EQ(m.bitmap->SetAlphaBitmap(&ab), S_OK);
    const VMR9NormalizedRect corner{0.75f, 0, 1, 0.25f};
    ASSERT_EQ(m.mixer->SetOutputRect(2, &corner), S_OK);
    EXPECT_TRUE(log.wait_for([](const PictureLog& p) {
        return near(p.at(150, 100), 255, 0, 0) && near(p.at(350, 30), 0, 0, 127.5) && near(p.at(300, 260), 0, 0, 0);
    }));
    EXPECT_EQ(m.control->Stop(), S_OK);
}

// The mixer's way of showing and hiding a camera: stop, disconnect (or connect), run again; the other
// sources keep delivering on their own threads across it.
TEST_F(Vmr9Filter, StreamsConnectAndDisconnectBetweenRuns) {
    PictureLog log;
    Mixer m(4);
    CTestVideoStream* streams[3] = {};
    ComPtr<IBaseFilter> src[3];
    const std::uint32_t colours[3] = {0x202020, 0x00ff00, 0xff00ff};
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t c = colours[k];
        src[k] = ComPtr<IBaseFilter>::adopt(add_source(m, ("S" + std::to_string(k)).c_str(),
                                                       {MEDIASUBTYPE_RGB32, 32, 32, 24, true},
                                                       [c](int, int, int) { return c; }, &streams[k]));
        ASSERT_EQ(m.connect(src[k].get(), k), S_OK);
    }
    m.windowless->SetVideoClippingWindow(test_window);
    const RECT dest{0, 0, 64, 48};
    m.windowless->SetVideoPosition(nullptr, &dest);
    const VMR9NormalizedRect l{0, 0, 0.5f, 1}, r{0.5f, 0, 1, 1};
    m.mixer->SetZOrder(0, 15);
    m.mixer->SetOutputRect(1, &l);
    m.mixer->SetOutputRect(2, &r);

    auto both = [](const PictureLog& p) { return p.at(10, 20) == 0x00ff00u && p.at(50, 20) == 0xff00ffu; };
    ASSERT_EQ(m.control->Run(), S_OK);
    ASSERT_TRUE(log.wait_for(both));
    EXPECT_EQ(m.input(2)->Disconnect(), VFW_E_NOT_STOPPED); // not while running

    ASSERT_EQ(m.control->Stop(), S_OK);
    auto out2 = find_pin(src[2].get(), PINDIR_OUTPUT);
    ASSERT_EQ(out2->Disconnect(), S_OK);
    ASSERT_EQ(m.input(2)->Disconnect(), S_OK);
    const int before = streams[1]->frames();
    ASSERT_EQ(m.control->Run(), S_OK);
    EXPECT_TRUE(log.wait_for([](const PictureLog& p) { return p.at(10, 20) == 0x00ff00u && p.at(50, 20) == 0x202020u; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_GT(streams[1]->frames(), before + 3); // still delivering
    const int stopped_at = streams[2]->frames();

    ASSERT_EQ(m.control->Stop(), S_OK);
    ASSERT_EQ(m.connect(src[2].get(), 2), S_OK);
    ASSERT_EQ(m.control->Run(), S_OK);
    EXPECT_TRUE(log.wait_for(both));
    EXPECT_EQ(m.control->Stop(), S_OK);
    EXPECT_GT(streams[2]->frames(), stopped_at);
}

// A source with no pacing of its own gets one frame per display tick; pictures come 25 a second at most.
TEST_F(Vmr9Filter, UntimedSourcesArePacedByTheDisplayTick) {
    PictureLog log;
    Mixer m(2);
    CTestVideoStream* a = nullptr;
    CTestVideoStream* b = nullptr;
    ComPtr<IBaseFilter> fa = ComPtr<IBaseFilter>::adopt(
        add_source(m, "A", {MEDIASUBTYPE_RGB565, 16, 32, 24, true}, [](int, int, int n) { return std::uint32_t(n & 0xff) << 8; }, &a));
    ComPtr<IBaseFilter> fb = ComPtr<IBaseFilter>::adopt(
        add_source(m, "B", {MEDIASUBTYPE_RGB24, 24, 32, 24, true}, [](int, int, int n) { return std::uint32_t(n & 0xff); }, &b));
    ASSERT_EQ(m.connect(fa.get(), 0), S_OK);
    ASSERT_EQ(m.connect(fb.get(), 1), S_OK);
    m.windowless->SetVideoClippingWindow(test_window);
    const RECT dest{0, 0, 32, 24};
    m.windowless->SetVideoPosition(nullptr, &dest);
    ASSERT_EQ(m.control->Run(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int a0 = a->frames(), b0 = b->frames(), p0 = log.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const int fa1 = a->frames() - a0, fb1 = b->frames() - b0, pictures = log.count() - p0;
    ASSERT_EQ(m.control->Stop(), S_OK);
    // 50 ticks a second and a picture every second tick; a loaded machine may lose many, never gain.
    EXPECT_GE(fa1, 10);
    EXPECT_LE(fa1, 52);
    EXPECT_GE(fb1, 10);
    EXPECT_LE(fb1, 52);
    EXPECT_GE(pictures, 5);
    EXPECT_LE(pictures, 26);
}

// StopWhenReady pauses until every connected input holds a frame, then stops.
TEST_F(Vmr9Filter, StopWhenReady) {
    ASSERT_EQ(register_library(NOIR_AX), S_OK);
    Mixer m(2);
    auto noir = create<IBaseFilter>(make_guid("9E237DA7-8506-453F-99D9-8B80F69254FB"), IID_IBaseFilter);
    ASSERT_EQ(m.graph->AddFilter(noir.get(), "Noir"), S_OK);
    ASSERT_EQ(m.connect(noir.get(), 0), S_OK);
    ASSERT_EQ(m.control->Pause(), S_OK);
    OAFilterState state = -1;
    EXPECT_EQ(m.control->GetState(2000, &state), S_OK);
    EXPECT_EQ(state, State_Paused);
    ASSERT_EQ(m.control->StopWhenReady(), S_OK);
    EXPECT_EQ(m.control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    ASSERT_EQ(m.control->Run(), S_OK);
    ASSERT_EQ(m.control->Stop(), S_OK);
}

// A sample shorter than its frame is not shown (and not read beyond its end); the stream goes on.
TEST_F(Vmr9Filter, ShortSamplesAreNotShown) {
    PictureLog log;
    Mixer m(2);
    ComPtr<IBaseFilter> good = ComPtr<IBaseFilter>::adopt(
        add_source(m, "good", {MEDIASUBTYPE_RGB32, 32, 16, 16, true}, [](int, int, int) { return 0x00ff00u; }));
    CTestVideoStream* s = nullptr;
    ComPtr<IBaseFilter> bad = ComPtr<IBaseFilter>::adopt(add_source(
        m, "short", {MEDIASUBTYPE_RGB24, 24, 16, 16, true, 100}, [](int, int, int) { return 0xff0000u; }, &s));
    ASSERT_EQ(m.connect(good.get(), 0), S_OK);
    ASSERT_EQ(m.connect(bad.get(), 1), S_OK);
    m.windowless->SetVideoClippingWindow(test_window);
    const RECT dest{0, 0, 16, 16};
    m.windowless->SetVideoPosition(nullptr, &dest);
    ASSERT_EQ(m.control->Run(), S_OK);
    ASSERT_TRUE(log.wait_for([&](const PictureLog&) { return s->frames() > 5; }));
    EXPECT_TRUE(log.wait_for([](const PictureLog& p) { return p.at(8, 8) == 0x00ff00u; }));
    ASSERT_EQ(m.control->Stop(), S_OK);
}

// Without a sink of its own the picture goes to the window system's window given as clipping window.
TEST_F(Vmr9Filter, PicturesReachTheWindowSystem) {
    kavro::ui::WindowSpec spec;
    spec.title = "mixer";
    spec.rect = {0, 0, 320, 240};
    const kavro::ui::Hwnd window = kavro::ui::create_window(spec, kavro::ui::def_window_proc);
    ASSERT_TRUE(window);
    Mixer m(1);
    ComPtr<IBaseFilter> f = ComPtr<IBaseFilter>::adopt(
        add_source(m, "S", {MEDIASUBTYPE_RGB32, 32, 32, 24, true}, [](int, int, int) { return 0x336699u; }));
    ASSERT_EQ(m.connect(f.get(), 0), S_OK);
    ASSERT_EQ(m.windowless->SetVideoClippingWindow(OAHWND(window.value)), S_OK);
    const RECT dest{0, 0, 160, 120};
    ASSERT_EQ(m.windowless->SetVideoPosition(nullptr, &dest), S_OK);
    ASSERT_EQ(m.control->Run(), S_OK);
    // The first tick may show the background only, before the source's first frame is in.
    std::shared_ptr<const kavro::ui::VideoFrame> frame;
    for (int i = 0; i < 150; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        frame = kavro::ui::current_frame(window);
        if (frame && frame->pixels.size() == 160u * 120u && frame->pixels[60 * 160 + 80] != 0xff000000u) break;
    }
    ASSERT_EQ(m.control->Stop(), S_OK);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, 160);
    EXPECT_EQ(frame->height, 120);
    EXPECT_EQ(frame->pixels[60 * 160 + 80], 0xff336699u);
    kavro::ui::destroy_window(window);
}

// A 32-bit top-down source takes the input's own allocator (its one buffer plus two the compositor may keep)
// and writes each frame where the compositor reads it: every new frame shows, exactly, without a conversion.
// A bottom-up source beside it is converted as before.
TEST_F(Vmr9Filter, TopDownSourcesWriteIntoTheRenderersBuffers) {
    PictureLog log;
    Mixer m(2);
    auto ramp = [](int x, int y, int n) {
        return std::uint32_t(x * 4) << 16 | std::uint32_t(n & 0xff) << 8 | std::uint32_t(y * 5);
    };
    auto diagonal = [](int x, int y, int) { return x == y ? 0xffffffu : 0x2040c0u; };
    CTestVideoStream* a = nullptr;
    ComPtr<IBaseFilter> fa =
        ComPtr<IBaseFilter>::adopt(add_source(m, "A", {MEDIASUBTYPE_RGB32, 32, 64, 48, false}, ramp, &a));
    ComPtr<IBaseFilter> fb =
        ComPtr<IBaseFilter>::adopt(add_source(m, "B", {MEDIASUBTYPE_RGB32, 32, 64, 48, true}, diagonal));
    ASSERT_EQ(m.connect(fa.get(), 0), S_OK);
    ASSERT_EQ(m.connect(fb.get(), 1), S_OK);
    ComPtr<IMemInputPin> mem;
    ASSERT_EQ(m.input(0).as(IID_IMemInputPin, mem), S_OK);
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(mem->GetAllocator(allocator.put()), S_OK);
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(allocator->GetProperties(&props), S_OK);
    EXPECT_EQ(props.cBuffers, 3);
    EXPECT_GE(props.cbBuffer, 64 * 48 * 4);

    // Composition at A's native size in a destination twice as wide: each source 1:1 in its half.
    m.windowless->SetVideoClippingWindow(test_window);
    const RECT dest{0, 0, 128, 48};
    m.windowless->SetVideoPosition(nullptr, &dest);
    const VMR9NormalizedRect l{0, 0, 0.5f, 1}, r{0.5f, 0, 1, 1};
    m.mixer->SetOutputRect(0, &l);
    m.mixer->SetOutputRect(1, &r);
    ASSERT_EQ(m.control->Run(), S_OK);
    std::set<std::uint32_t> frames_seen;
    auto exact = [&](const PictureLog& p) {
        const std::uint32_t n = p.at(0, 0) >> 8 & 0xff;
        for (int y = 0; y < 48; y += 7)
            for (int x = 0; x < 64; x += 5)
                if (p.at(x, y) != ramp(x, y, int(n)) || p.at(64 + x, y) != diagonal(x, y, 0)) return false;
        frames_seen.insert(n);
        return frames_seen.size() >= 5;
    };
    EXPECT_TRUE(log.wait_for(exact)) << "frames seen whole: " << frames_seen.size();
    ASSERT_EQ(m.control->Stop(), S_OK);
    ComPtr<IMixerCounts> counts;
    ASSERT_EQ(m.vmr.as(IID_IMixerCounts, counts), S_OK);
    std::uint64_t in_place = 0, converted = 0, composed = 0;
    ASSERT_EQ(counts->GetCounts(&in_place, &converted, &composed), S_OK);
    EXPECT_GE(in_place, 5u);  // A
    EXPECT_GE(converted, 1u); // B
    EXPECT_GE(in_place + 1, std::uint64_t(a->frames())); // all but the one in flight at the stop
    EXPECT_GE(composed, std::uint64_t(log.count()));
}

// A source may keep a buffer of the renderer's allocator across a stop, a new run and the end of the whole
// graph: the memory stays its own until it lets go, and the renderer goes on with the other buffers.
TEST_F(Vmr9Filter, ASourceKeepsABufferWhileTheGraphStops) {
    PictureLog log;
    ComPtr<IMediaSample> kept;
    BYTE* data = nullptr;
    {
        Mixer m(1);
        auto picture = [](int x, int, int n) { return x < 16 ? 0x00ff00u : std::uint32_t(n & 0xff); };
        ComPtr<IBaseFilter> f =
            ComPtr<IBaseFilter>::adopt(add_source(m, "A", {MEDIASUBTYPE_RGB32, 32, 32, 24, false}, picture));
        ASSERT_EQ(m.connect(f.get(), 0), S_OK);
        m.windowless->SetVideoClippingWindow(test_window);
        const RECT dest{0, 0, 32, 24};
        m.windowless->SetVideoPosition(nullptr, &dest);
        ComPtr<IMemInputPin> mem;
        ASSERT_EQ(m.input(0).as(IID_IMemInputPin, mem), S_OK);
        ComPtr<IMemAllocator> allocator;
        ASSERT_EQ(mem->GetAllocator(allocator.put()), S_OK);
        ASSERT_EQ(m.control->Run(), S_OK);
        ASSERT_TRUE(log.wait_for([](const PictureLog& p) { return p.at(4, 4) == 0x00ff00u; }));
        ASSERT_EQ(allocator->GetBuffer(kept.put(), nullptr, nullptr, 0), S_OK);
        ASSERT_EQ(kept->GetPointer(&data), S_OK);
        ASSERT_EQ(m.control->Stop(), S_OK);
        std::memset(data, 0x11, 32 * 24 * 4); // still ours after the stop

        // Running again with one buffer fewer: new frames keep coming.
        const int before = log.count();
        ASSERT_EQ(m.control->Run(), S_OK);
        EXPECT_TRUE(
            log.wait_for([&](const PictureLog& p) { return p.at(4, 4) == 0x00ff00u && p.seen() > before + 2; }));
        ASSERT_EQ(m.control->Stop(), S_OK);
    } // graph, renderer and source gone
    std::memset(data, 0x22, 32 * 24 * 4);
    kept = nullptr; // the allocator's last buffer back: it goes too
}
