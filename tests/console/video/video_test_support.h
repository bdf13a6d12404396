// What the video and remote-control suites share: a console whose operator window lives on the window system
// model, the plug-ins registered in a registry of the test, a class factory that records every creation and
// can refuse one or hand out another class instead, stand-ins for the graph objects that log their calls and can
// fail any one of them (step_objects.h), and a capture card that records its picture adjustments.
#pragma once

#include "console/video/video_panes.h"
#include "console/window/ids.h"
#include "console/window/resources.h"
#include "console/window/window_proc.h"
#include "platform/com/object.h"
#include "platform/dshow/base/source.h"
#include "platform/dshow/jpeg_decoder.h"
#include "platform/ui/ui.h"
#include "tests/console/video/step_objects.h"
#include "tests/support/filters.h"
#include "tests/support/registry.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kavro::test {

namespace fs = std::filesystem;

inline constexpr CLSID kVideoClasses[] = {CLSID_FilterGraph, CLSID_CaptureGraphBuilder2, CLSID_VideoMixingRenderer9};

// A capture card with four RGB32 pins that records the adjustments it is given.
class FakeCard : public CSource, public IPictureAdjust {
public:
    struct Call {
        int which;             // 1..4
        std::int32_t value;
        std::uint8_t input;
        friend bool operator==(const Call&, const Call&) = default;
    };

    class Stream : public CSourceStream {
    public:
        Stream(FakeCard* f, HRESULT* phr, const char* name) : CSourceStream("fake card", phr, f, name) {}
        HRESULT GetMediaType(CMediaType* mt) override {
            auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
            std::memset(vih, 0, sizeof *vih);
            vih->bmiHeader = BITMAPINFOHEADER{40, 64, -48, 1, 32, BI_RGB, 64 * 48 * 4, 0, 0, 0, 0};
            mt->SetType(&MEDIATYPE_Video);
            mt->SetSubtype(&MEDIASUBTYPE_RGB32);
            mt->SetFormatType(&FORMAT_VideoInfo);
            mt->SetSampleSize(64 * 48 * 4);
            return S_OK;
        }
        HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* req) override {
            req->cBuffers = 1;
            req->cbBuffer = 64 * 48 * 4;
            ALLOCATOR_PROPERTIES actual{};
            return a->SetProperties(req, &actual);
        }
        HRESULT FillBuffer(IMediaSample* s) override {
            BYTE* p = nullptr;
            s->GetPointer(&p);
            std::memset(p, 0x40, std::size_t(s->GetSize()));
            return S_OK;
        }
        HRESULT Notify(IBaseFilter*, Quality) override { return S_OK; }
    };

    explicit FakeCard(HRESULT* phr) : CSource("fake card", nullptr, CLSID_CaptureCard, phr) {
        for (const char* name : {"Out0", "Out1", "Out2", "Out3"}) new Stream(this, phr, name);
    }
    static HRESULT create(FakeCard** self, REFIID iid, void** object) {
        HRESULT hr = S_OK;
        auto* card = new FakeCard(&hr);
        *self = card;
        return card->NonDelegatingQueryInterface(iid, object);
    }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IPictureAdjust) return GetInterface(static_cast<IPictureAdjust*>(this), object);
        return CSource::NonDelegatingQueryInterface(riid, object);
    }
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Reserved5() override { return E_NOTIMPL; }
    HRESULT Reserved7() override { return E_NOTIMPL; }
    HRESULT Reserved9() override { return E_NOTIMPL; }
    HRESULT SetAdjustment1(std::int32_t v, std::uint8_t in) override { return record(1, v, in); }
    HRESULT SetAdjustment2(std::int32_t v, std::uint8_t in) override { return record(2, v, in); }
    HRESULT SetAdjustment3(std::int32_t v, std::uint8_t in) override { return record(3, v, in); }
    HRESULT SetAdjustment4(std::int32_t v, std::uint8_t in) override { return record(4, v, in); }

    std::vector<Call> calls() {
        std::lock_guard<std::mutex> l(lock_);
        return calls_;
    }
    std::atomic<int> fail_which{0};  // this adjustment answers E_FAIL (set by the test thread)

private:
    HRESULT record(int which, std::int32_t v, std::uint8_t in) {
        std::lock_guard<std::mutex> l(lock_);
        calls_.push_back({which, v, in});
        return which == fail_which ? E_FAIL : S_OK;
    }
    std::mutex lock_;
    std::vector<Call> calls_;
};

// Short names of the classes the console's video creates, for the step log.
inline std::string class_name(REFCLSID c) {
    static const std::pair<CLSID, const char*> names[] = {
        {CLSID_ZoomViewer, "ZoomViewer"}, {CLSID_MjpegViewer, "MjpegViewer"}, {CLSID_Mpeg4Viewer, "Mpeg4Viewer"},
        {CLSID_FilterGraph, "FilterGraph"}, {CLSID_CaptureGraphBuilder2, "CaptureGraphBuilder2"},
        {console::kNoirClass, "Noir"}, {CLSID_CaptureCard, "CaptureCard"}, {CLSID_NetworkCamera1, "Camera1"},
        {CLSID_NetworkCamera2, "Camera2"}, {CLSID_NetworkCamera3, "Camera3"}, {CLSID_NetworkCamera4, "Camera4"},
        {CLSID_Capteur, "Capteur"}, {CLSID_SampleGrabber, "SampleGrabber"}, {CLSID_NullRenderer, "NullRenderer"},
        {CLSID_VideoMixingRenderer9, "VMR9"}, {CLSID_JpegReceiver, "JpegReceiver"},
        {CLSID_VideoRenderer, "VideoRenderer"}, {CLSID_Mesh, "Mesh"}};
    for (const auto& [clsid, name] : names)
        if (clsid == c) return name;
    return "?";
}

// Creates through the COM runtime (the plug-ins registered for the test), recording each class asked for.
// `refuse`: the n-th request (from 1) of a class answers E_FAIL; `instead`: every request of a class gets a
// "Noir" filter (which has none of the private interfaces); `card`: the capture card is a FakeCard; `steps`:
// every creation is a step, and the graphs, graph builders, renderers, sensor filter and sample grabber come as
// stand-ins (step_objects.h) so that their calls are steps too.
struct RecordingFactory {
    std::vector<CLSID> asked;
    std::optional<std::pair<CLSID, int>> refuse;
    std::optional<CLSID> instead;
    bool fake_card = false;
    FakeCard* card = nullptr;
    BuildSteps* steps = nullptr;

    HRESULT operator()(REFCLSID clsid, REFIID iid, void** object) {
        asked.push_back(clsid);
        if (steps) {
            if (steps->fails("create " + class_name(clsid))) return E_FAIL;
            const int n = int(std::count(asked.begin(), asked.end(), clsid));
            if (clsid == CLSID_FilterGraph) {
                ComPtr<IGraphBuilder> real;
                const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                                    real.put_void());
                if (FAILED(hr)) return hr;
                return ComPtr<IGraphBuilder>(new StepGraph(*steps, n, real))->QueryInterface(iid, object);
            }
            if (clsid == CLSID_CaptureGraphBuilder2) {
                ComPtr<ICaptureGraphBuilder2> real;
                const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                                    real.put_void());
                if (FAILED(hr)) return hr;
                return ComPtr<ICaptureGraphBuilder2>(new StepBuilder(*steps, n, real))->QueryInterface(iid, object);
            }
            if (const char* name = clsid == CLSID_VideoMixingRenderer9 ? "renderer"
                                   : clsid == CLSID_Capteur             ? "sensor"
                                   : clsid == CLSID_SampleGrabber       ? "grabber"
                                                                        : nullptr) {
                ComPtr<IBaseFilter> real;
                const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                                    real.put_void());
                if (FAILED(hr)) return hr;
                const std::string full = clsid == CLSID_VideoMixingRenderer9 ? name + (" " + std::to_string(n)) : name;
                return ComPtr<IBaseFilter>(new StepFilter(*steps, full, real))->QueryInterface(iid, object);
            }
        }
        if (refuse && refuse->first == clsid &&
            std::count(asked.begin(), asked.end(), clsid) == refuse->second)
            return E_FAIL;
        if (instead && *instead == clsid)
            return CoCreateInstance(console::kNoirClass, nullptr, CLSCTX_INPROC_SERVER, iid, object);
        if (fake_card && clsid == CLSID_CaptureCard) return FakeCard::create(&card, iid, object);
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object);
    }
};

inline fs::path make_configs(const TempDir& root) {
    fs::create_directory(root / "configs");
    return root / "configs";
}

// The plug-ins the console's video uses, registered in the test's registry, and the console's layout file
// (the shipped one with camera pane 5 shown as well) in the test's configs folder.
class VideoFixture : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* lib : {NOIR_AX, ADLINK_AX, CAMIP1_AX, CAMIP2_AX, CAMIP3_AX, CAMIP4_AX, CAPTEUR_AX,
                                RECEIVER_AX, VIEWERS_DLL, MESH_AX})
            ASSERT_EQ(regsvr32(REGSVR32, std::string("/s ") + lib), 0) << lib;
        fs::copy_file(std::string(KAVRO_SOURCE_DIR) + "/configs/interface.xml", configs_ / "interface.xml");
        app_.config.configs_dir = configs_.string() + "/";
        MinXL::t_xml_node doc("_EMPTY_", "");
        doc.load_file(std::string(KAVRO_SOURCE_DIR) + "/configs/kavro.xml");
        doc.child(kConsoleFirstPane + 4).child(4).node_text() = "1";  // camera 1 in pane 4
        ASSERT_TRUE(doc.save_file((configs_ / "kavro.xml").string()));

        window_ = ui::create_dialog(console::operator_dialog_template(), proc_.proc());
        ASSERT_TRUE(window_);
        ui::show_window(window_, ui::SW_SHOW);
        ui::user::resized(window_, 1280, 1000, ui::SIZE_MAXIMIZED);
    }
    void TearDown() override {
        app_.window.exiting = true;
        app_.subsystems.video.reset();
        ui::destroy_window(window_);
    }

    // A video of the console with its own factory and a recorder of the error trace.
    std::unique_ptr<console::ConsoleVideo> make_video() {
        console::VideoEnvironment env;
        env.create = [this](REFCLSID c, REFIID i, void** o) { return factory_(c, i, o); };
        env.report = [this](int location, HRESULT) { reported_.push_back(location); };
        env.configs_dir = configs_.string() + "/";
        return std::make_unique<console::ConsoleVideo>(app_, env);
    }

    ScopedRegistry registry_;
    TempDir temp_{"kavro-video"};
    fs::path configs_ = make_configs(temp_);
    console::ConsoleApp app_;
    console::OperatorWindowProc proc_{app_};
    ui::Hwnd window_;
    RecordingFactory factory_;
    std::vector<int> reported_;
};

inline int filters_of_class(IGraphBuilder* graph, REFCLSID clsid) {
    ComPtr<IEnumFilters> e;
    if (!graph || FAILED(graph->EnumFilters(e.put()))) return -1;
    int n = 0;
    IBaseFilter* f = nullptr;
    ULONG got = 0;
    while (e->Next(1, &f, &got) == S_OK) {
        CLSID c{};
        f->GetClassID(&c);
        if (c == clsid) ++n;
        f->Release();
    }
    return n;
}

} // namespace kavro::test
