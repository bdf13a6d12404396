// The platform's components: capture graph builder, device enumerator, sample grabber, video renderer
// window settings, graph file writer.
#include "platform/registry/registry.h"
#include "platform/ui/ui.h"
#include "tests/platform/dshow/test_filters.h"
#include "tests/support/grabber_callback.h"

#include <fstream>
#include <sstream>

using namespace kavro::test;

namespace {

class Components : public TempRegistry {
protected:
    ComPtr<IGraphBuilder> graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<ICaptureGraphBuilder2> builder = make_builder();
    ComPtr<IMediaControl> control = control_of(graph);

    ComPtr<ICaptureGraphBuilder2> make_builder() {
        auto b = create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
        EXPECT_EQ(b->SetFiltergraph(graph.get()), S_OK);
        return b;
    }
};

// A filter with several pins of each direction.
class ManyPins final : public CBaseFilter {
public:
    class Out final : public CBaseOutputPin {
    public:
        Out(ManyPins* f, const char* name, HRESULT* phr) : CBaseOutputPin("out", f, &f->lock_, phr, name) {}
        HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
        HRESULT GetMediaType(int pos, CMediaType* mt) override {
            if (pos != 0) return VFW_S_NO_MORE_ITEMS;
            *mt = video_type(MEDIASUBTYPE_RGB32, 8, 8);
            return S_OK;
        }
        HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* r) override {
            r->cBuffers = 1;
            r->cbBuffer = 256;
            ALLOCATOR_PROPERTIES got{};
            return a->SetProperties(r, &got);
        }
    };
    class In final : public CBaseInputPin {
    public:
        In(ManyPins* f, const char* name, HRESULT* phr) : CBaseInputPin("in", f, &f->lock_, phr, name) {}
        HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    };
    explicit ManyPins(HRESULT* phr) : CBaseFilter("many", nullptr, &lock_, CLSID_NULL, phr) {
        pins_.emplace_back(new In(this, "In0", phr));
        pins_.emplace_back(new Out(this, "Out0", phr));
        pins_.emplace_back(new In(this, "In1", phr));
        pins_.emplace_back(new Out(this, "Out1", phr));
        pins_.emplace_back(new In(this, "In2", phr));
    }
    int GetPinCount() override { return int(pins_.size()); }
    CBasePin* GetPin(int n) override { return n >= 0 && n < GetPinCount() ? pins_[std::size_t(n)].get() : nullptr; }
    static ComPtr<IBaseFilter> make() {
        HRESULT hr = S_OK;
        ComPtr<IBaseFilter> f;
        (new ManyPins(&hr))->NonDelegatingQueryInterface(IID_IBaseFilter, f.put_void());
        return f;
    }

private:
    CCritSec lock_;
    std::vector<std::unique_ptr<CBasePin>> pins_;
};

std::string name_of(IPin* p) {
    PIN_INFO info{};
    p->QueryPinInfo(&info);
    if (info.pFilter) info.pFilter->Release();
    return info.achName;
}

TEST_F(Components, FindPinByDirectionIndexTypeAndConnection) {
    auto many = ManyPins::make();
    auto other = ManyPins::make();
    ASSERT_EQ(graph->AddFilter(many.get(), "many"), S_OK);
    ASSERT_EQ(graph->AddFilter(other.get(), "other"), S_OK);
    ComPtr<IPin> p;
    ASSERT_EQ(builder->FindPin(many.get(), PINDIR_INPUT, nullptr, nullptr, FALSE, 2, p.put()), S_OK);
    EXPECT_EQ(name_of(p.get()), "In2");
    ASSERT_EQ(builder->FindPin(many.get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Video, FALSE, 1, p.put()), S_OK);
    EXPECT_EQ(name_of(p.get()), "Out1");
    EXPECT_EQ(builder->FindPin(many.get(), PINDIR_OUTPUT, nullptr, nullptr, FALSE, 2, p.put()), E_FAIL);
    const GUID audio = make_guid("73647561-0000-0010-8000-00AA00389B71");
    EXPECT_EQ(builder->FindPin(many.get(), PINDIR_OUTPUT, nullptr, &audio, FALSE, 0, p.put()), E_FAIL);

    // RenderStream into a sink takes its first free input.
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, many.get(), nullptr, other.get()), S_OK);
    ASSERT_EQ(builder->FindPin(other.get(), PINDIR_INPUT, nullptr, nullptr, TRUE, 0, p.put()), S_OK);
    EXPECT_EQ(name_of(p.get()), "In1");
    ASSERT_EQ(builder->FindPin(many.get(), PINDIR_OUTPUT, nullptr, nullptr, TRUE, 0, p.put()), S_OK);
    EXPECT_EQ(name_of(p.get()), "Out1");
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, many.get(), nullptr, other.get()), S_OK);
    ASSERT_EQ(builder->FindPin(other.get(), PINDIR_INPUT, nullptr, nullptr, TRUE, 0, p.put()), S_OK);
    EXPECT_EQ(name_of(p.get()), "In2");
    EXPECT_EQ(builder->FindPin(many.get(), PINDIR_OUTPUT, nullptr, nullptr, TRUE, 0, p.put()), E_FAIL);
}

TEST_F(Components, RenderStreamWithoutSinkAddsTheVideoRenderer) {
    TestSource* s;
    auto src = TestSource::make(&s);
    ASSERT_EQ(graph->AddFilter(src.get(), "src"), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, src.get(), nullptr, nullptr), S_OK);
    ComPtr<IBaseFilter> vr;
    ASSERT_EQ(graph->FindFilterByName("Video Renderer", vr.put()), S_OK);
    CLSID clsid{};
    vr->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_VideoRenderer);
    // Nothing left to render.
    EXPECT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, src.get(), nullptr, nullptr), E_FAIL);
}

TEST_F(Components, DeviceEnumeratorListsRegisteredFiltersInOrder) {
    const std::string base =
        "SOFTWARE\\Classes\\CLSID\\" + guid_to_string(CLSID_LegacyAmFilterCategory) + "\\Instance\\";
    for (const char* n : {"camIP2", "camIP", "Adlink 7250"}) {
        const std::string k = base + n;
        kavro::registry::set_string(k, "FriendlyName", n);
        kavro::registry::set_string(k, "CLSID", guid_to_string(CLSID_NullRenderer));
        kavro::registry::set_number(k, "Merit", MERIT_DO_NOT_USE);
    }
    auto devenum = create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    ComPtr<IEnumMoniker> e;
    ASSERT_EQ(devenum->CreateClassEnumerator(CLSID_LegacyAmFilterCategory, e.put(), 0), S_OK);
    std::vector<std::string> names;
    for (;;) {
        IMoniker* m = nullptr;
        ULONG got = 0;
        if (e->Next(1, &m, &got) != S_OK) break;
        ComPtr<IMoniker> mon = ComPtr<IMoniker>::adopt(m);
        ComPtr<IPropertyBag> bag;
        ASSERT_EQ(mon->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.put_void()), S_OK);
        char name[64];
        ASSERT_EQ(bag->Read("FriendlyName", name, sizeof name), S_OK);
        names.push_back(name);
        char tiny[4];
        EXPECT_EQ(bag->Read("FriendlyName", tiny, sizeof tiny), E_NOT_SUFFICIENT_BUFFER);
        EXPECT_EQ(bag->Read("Merit", name, sizeof name), S_OK);
        EXPECT_STREQ(name, "2097152");
        EXPECT_EQ(bag->Read("Nothing", name, sizeof name), E_INVALIDARG);
        ComPtr<IBaseFilter> f;
        ASSERT_EQ(mon->BindToObject(nullptr, nullptr, IID_IBaseFilter, f.put_void()), S_OK);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"camIP2", "camIP", "Adlink 7250"}));
    e->Reset();
    IMoniker* two[2] = {};
    ULONG got = 0;
    EXPECT_EQ(e->Skip(2), S_OK);
    EXPECT_EQ(e->Next(2, two, &got), S_FALSE);
    EXPECT_EQ(got, 1u);
    two[0]->Release();
}

// Records the grabber's callbacks.
struct Callback final : kavro::test::GrabberCallback {
    HRESULT SampleCB(double, IMediaSample*) override {
        samples.fetch_add(1);
        return 0;
    }
    HRESULT BufferCB(double, BYTE* buffer, LONG length) override {
        buffers.fetch_add(1);
        last_length.store(length);
        first.store(buffer[0]);
        return 0;
    }
    std::atomic<int> samples{0}, buffers{0}, last_length{0}, first{0};
};

TEST_F(Components, SampleGrabberTakesItsTypeAndHandsOutEveryBuffer) {
    TestSource* s;
    auto src = TestSource::make(&s, MEDIASUBTYPE_RGB24, 64, 48);
    auto grabber = create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto null = create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    ComPtr<ISampleGrabber> sg;
    ASSERT_EQ(grabber.as(IID_ISampleGrabber, sg), S_OK);
    ASSERT_EQ(graph->AddFilter(src.get(), "Capteur"), S_OK);
    ASSERT_EQ(graph->AddFilter(grabber.get(), "SampleGrabber"), S_OK);
    ASSERT_EQ(graph->AddFilter(null.get(), "Null Renderer"), S_OK);

    Callback cb;
    AM_MEDIA_TYPE want{};
    want.majortype = MEDIATYPE_Video;
    want.subtype = MEDIASUBTYPE_RGB32;
    ASSERT_EQ(sg->SetMediaType(&want), S_OK);
    ASSERT_EQ(sg->SetBufferSamples(FALSE), S_OK);
    ASSERT_EQ(sg->SetOneShot(FALSE), S_OK);
    ASSERT_EQ(sg->SetCallback(&cb, 1), S_OK);
    EXPECT_EQ(sg->SetCallback(&cb, 2), E_INVALIDARG);
    // RGB24 is not what the grabber takes.
    EXPECT_TRUE(FAILED(builder->RenderStream(nullptr, &MEDIATYPE_Video, src.get(), grabber.get(), null.get())));
    AM_MEDIA_TYPE connected{};
    EXPECT_EQ(sg->GetConnectedMediaType(&connected), VFW_E_NOT_CONNECTED);

    want.subtype = MEDIASUBTYPE_RGB24;
    ASSERT_EQ(sg->SetMediaType(&want), S_OK);
    ASSERT_EQ(sg->SetBufferSamples(TRUE), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, src.get(), grabber.get(), null.get()), S_OK);
    ASSERT_EQ(sg->GetConnectedMediaType(&connected), S_OK);
    EXPECT_EQ(connected.subtype, MEDIASUBTYPE_RGB24);
    FreeMediaType(connected);
    LONG size = 0;
    EXPECT_EQ(sg->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);

    ASSERT_EQ(control_of(graph)->Run(), S_OK);
    sleep_ms(200);
    ASSERT_EQ(control_of(graph)->Stop(), S_OK);
    EXPECT_GT(cb.buffers.load(), 3);
    EXPECT_EQ(cb.samples.load(), 0);
    EXPECT_EQ(cb.last_length.load(), 64 * 48 * 3);
    EXPECT_EQ(cb.first.load(), 0x5A);
    ASSERT_EQ(sg->GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_EQ(size, 64 * 48 * 3);
    std::vector<LONG> copy(std::size_t(size) / sizeof(LONG) + 1);
    LONG small = 10;
    EXPECT_EQ(sg->GetCurrentBuffer(&small, copy.data()), E_OUTOFMEMORY);
    ASSERT_EQ(sg->GetCurrentBuffer(&size, copy.data()), S_OK);
    EXPECT_EQ(reinterpret_cast<BYTE*>(copy.data())[5], 0x5A);

    // One shot: a single buffer, then the stream stops.
    const int before = cb.buffers.load();
    ASSERT_EQ(sg->SetOneShot(TRUE), S_OK);
    ASSERT_EQ(control_of(graph)->Run(), S_OK);
    sleep_ms(150);
    ASSERT_EQ(control_of(graph)->Stop(), S_OK);
    EXPECT_EQ(cb.buffers.load(), before + 1);
    ASSERT_EQ(sg->SetCallback(nullptr, 0), S_OK);
}

TEST_F(Components, VideoWindowSettingsReachTheFrames) {
    TestSource* s;
    auto src = TestSource::make(&s, MEDIASUBTYPE_RGB32, 32, 16);
    auto vr = create<IBaseFilter>(CLSID_VideoRenderer, IID_IBaseFilter);
    ComPtr<IVideoWindow> window;
    ASSERT_EQ(vr.as(IID_IVideoWindow, window), S_OK);
    ASSERT_EQ(graph->AddFilter(src.get(), "Mesh"), S_OK);
    ASSERT_EQ(graph->AddFilter(vr.get(), "Video Renderer"), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, src.get(), nullptr, vr.get()), S_OK);
    LONG l, t, w, h;
    ASSERT_EQ(window->GetWindowPosition(&l, &t, &w, &h), S_OK);
    EXPECT_EQ(w, 32); // the video's size until placed
    EXPECT_EQ(h, 16);
    ASSERT_EQ(window->put_Owner(1015), S_OK);
    ASSERT_EQ(window->put_WindowStyle(0x44000000), S_OK);
    ASSERT_EQ(window->SetWindowPosition(0, 0, 320, 240), S_OK);
    EXPECT_EQ(window->SetWindowPosition(0, 0, -1, 240), E_INVALIDARG);
    EXPECT_EQ(window->put_Visible(5), E_INVALIDARG);
    ASSERT_EQ(window->put_Visible(OAFALSE), S_OK);
    LONG style = 0, visible = 1;
    OAHWND owner = 0;
    window->get_WindowStyle(&style);
    window->get_Visible(&visible);
    window->get_Owner(&owner);
    EXPECT_EQ(style, 0x44000000);
    EXPECT_EQ(visible, OAFALSE);
    EXPECT_EQ(owner, 1015);

    std::mutex m;
    std::vector<kavro::dshow::VideoFrame> frames;
    kavro::dshow::set_video_frame_sink([&](const kavro::dshow::VideoFrame& f) {
        std::lock_guard g(m);
        frames.push_back(f);
        frames.back().data = nullptr;
        frames.back().format = nullptr;
    });
    ASSERT_EQ(control->Run(), S_OK);
    sleep_ms(100);
    ASSERT_EQ(window->put_Visible(OATRUE), S_OK);
    sleep_ms(100);
    ASSERT_EQ(control->Stop(), S_OK);
    kavro::dshow::set_video_frame_sink(nullptr);
    std::lock_guard g(m);
    ASSERT_GT(frames.size(), 4u);
    EXPECT_EQ(frames.front().owner, 1015);
    EXPECT_EQ(frames.front().position, (RECT{0, 0, 320, 240}));
    EXPECT_FALSE(frames.front().visible);
    EXPECT_TRUE(frames.back().visible);
    EXPECT_EQ(frames.back().length, 32u * 16u * 4u);
}

TEST_F(Components, VideoRendererShowsFramesInItsOwnerWindow) {
    TestSource* s;
    auto src = TestSource::make(&s, MEDIASUBTYPE_RGB24, 6, 4);
    s->fill = 0x40;
    auto vr = create<IBaseFilter>(CLSID_VideoRenderer, IID_IBaseFilter);
    ComPtr<IVideoWindow> window;
    ASSERT_EQ(vr.as(IID_IVideoWindow, window), S_OK);
    ASSERT_EQ(graph->AddFilter(src.get(), "Mesh"), S_OK);
    ASSERT_EQ(graph->AddFilter(vr.get(), "Video Renderer"), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, src.get(), nullptr, vr.get()), S_OK);
    kavro::ui::WindowSpec spec;
    spec.title = "pane";
    const kavro::ui::Hwnd pane = kavro::ui::create_window(spec, kavro::ui::def_window_proc);
    ASSERT_TRUE(pane);
    ASSERT_EQ(window->put_Owner(OAHWND(pane.value)), S_OK);
    ASSERT_EQ(window->put_Visible(OAFALSE), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    sleep_ms(100);
    EXPECT_FALSE(kavro::ui::current_frame(pane)); // hidden: nothing shown
    ASSERT_EQ(window->put_Visible(OATRUE), S_OK);
    sleep_ms(100);
    ASSERT_EQ(control->Stop(), S_OK);
    auto frame = kavro::ui::current_frame(pane);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, 6);
    EXPECT_EQ(frame->height, 4);
    for (std::uint32_t p : frame->pixels) EXPECT_EQ(p, 0xFF404040u);
    kavro::ui::destroy_window(pane);
}

TEST_F(Components, GraphFileDescribesFiltersAndConnections) {
    auto src = TestSource::make(nullptr, MEDIASUBTYPE_RGB32, 64, 48);
    auto null = create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    ASSERT_EQ(graph->AddFilter(src.get(), "Noir"), S_OK);
    ASSERT_EQ(graph->AddFilter(null.get(), "Null Renderer"), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, src.get(), nullptr, null.get()), S_OK);
    const std::string path = dir + "/c/MyGraph.grf";
    ASSERT_EQ(kavro::dshow::write_graph_file(graph.get(), path), S_OK);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "filter \"Noir\" {00000000-0000-0000-0000-000000000000}\n"
                          "filter \"Null Renderer\" {C1F400A4-3F08-11D3-9F0B-006008039E37}\n"
                          "connect \"Noir\".\"Out\" -> \"Null Renderer\".\"In\" video/RGB32 64x-48x32\n");
    EXPECT_EQ(kavro::dshow::write_graph_file(nullptr, path), E_POINTER);
    { std::ofstream(dir + "/file") << "x"; }
    EXPECT_EQ(kavro::dshow::write_graph_file(graph.get(), dir + "/file/MyGraph.grf"), E_FAIL);
}

} // namespace
