// The capture and mixing graph built from the registered stand-ins of every filter: the lookups, the whole
// build, the graph file, the sensor channels, streams connected and removed as their alpha crosses 0.1 (with
// the network cameras' decoder), the release; and the overlay callback against a recording renderer.
#include "mixer/graph.h"
#include "platform/dshow/jpeg_decoder.h"
#include "platform/ui/ui.h"
#include "tests/mixer/rig.h"
#include "tests/support/message_boxes.h"

#include <gtest/gtest.h>

using namespace kavro;
using namespace kavro::mixer;

namespace {

int count_filters(IGraphBuilder* graph, const std::string& name) {
    ComPtr<IEnumFilters> e;
    if (FAILED(graph->EnumFilters(e.put()))) return -1;
    int n = 0;
    for (;;) {
        IBaseFilter* f = nullptr;
        ULONG got = 0;
        if (e->Next(1, &f, &got) != S_OK) break;
        ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::adopt(f);
        FILTER_INFO info{};
        filter->QueryFilterInfo(&info);
        if (info.pGraph) info.pGraph->Release();
        if (std::string(info.achName).starts_with(name)) ++n;
    }
    return n;
}

bool input_connected(MixerState& s, int input) {
    ComPtr<IPin> pin, other;
    s.objects.builder->FindPin(s.objects.renderer.get(), PINDIR_INPUT, nullptr, nullptr, FALSE, input, pin.put());
    return pin && pin->ConnectedTo(other.put()) == S_OK;
}

class MixerGraph : public ::testing::Test {
protected:
    MixerGraph() {
        rig.prepare(s);
        ui::WindowSpec spec;
        spec.style = ui::WS_POPUP;
        spec.rect = {0, 0, kWindowWidth, kWindowHeight};
        s.window = ui::create_window(spec, ui::def_window_proc);
    }
    ~MixerGraph() override {
        std::lock_guard lock(s.graph_lock);
        release_graph(s);
        ui::destroy_window(s.window);
    }
    HRESULT build() {
        std::lock_guard lock(s.graph_lock);
        return build_graph(s);
    }
    test::MessageBoxes boxes;
    test::MixerRig rig;
    test::Pictures pictures;
    MixerState s;
};

} // namespace

TEST_F(MixerGraph, BuildsEveryFilterSavesTheGraphFileAndComposesTheWindow) {
    rig.edit("kavro_old.xml", "<mode_on>0</mode_on>", "<mode_on>1</mode_on>");
    ASSERT_EQ(build(), S_OK) << ::testing::PrintToString(boxes.seen());
    EXPECT_TRUE(boxes.empty());
    IGraphBuilder* g = s.objects.graph.get();
    for (const char* name : {"Noir", "Caméras 1", "Caméras 2", "JPEG Sender", "Caméras IP1", "Caméras IP4", "Capteur",
                             "SampleGrabber", "Null Renderer", "VMR9"})
        EXPECT_EQ(count_filters(g, name), 1) << name;
    EXPECT_EQ(count_filters(g, kJpegDecoderName), 4); // one per network camera
    for (int input = 0; input <= 11; ++input) EXPECT_TRUE(input_connected(s, input)) << input;

    // The graph file under the drive-C root names the filters and their connections.
    std::ifstream file(rig.drive_c() + "/MyGraph.grf");
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    EXPECT_NE(text.find("\"Caméras 2\".\"Output 4\" -> \"JPEG Sender\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"Capteur\""), std::string::npos);

    // The sensor's channels took the file's flags; mixing preferences: bilinear, RGB target, the rest kept.
    ConsoleSensorChannelRecord r{};
    ASSERT_EQ(s.objects.sensor->GetConfig(5, &r), S_OK);
    EXPECT_EQ(r.settings.general_on, 1);
    EXPECT_EQ(r.settings.mode_on_1 + r.settings.mode_on_2 + r.settings.mode_on_3 + r.settings.mode_on_4, 4);
    DWORD prefs = 0;
    ASSERT_EQ(s.objects.mixer_control->GetMixingPrefs(&prefs), S_OK);
    EXPECT_EQ(prefs & (MixerPref9_FilteringMask | MixerPref9_RenderTargetMask),
              DWORD(MixerPref9_BiLinearFiltering | MixerPref9_RenderTargetRGB));

    // The window gets 720 x 576 pictures; the empty twelfth cell (bottom right) is Noir's black.
    EXPECT_TRUE(pictures.wait_for([](const test::Pictures& p) {
        return p.width() == 720 && p.height() == 576 && p.at(700, 560) == 0;
    }));

    std::lock_guard lock(s.graph_lock);
    release_graph(s);
    EXPECT_FALSE(s.objects.graph);
    EXPECT_FALSE(s.objects.sensor);
    release_graph(s); // a second release does nothing
}

TEST_F(MixerGraph, StreamsComeAndGoWithTheirAlphaAndNetworkCamerasTakeTheirDecoderAlong) {
    // Stream 2 starts hidden (alpha 0); stream 3 at 0.1 counts as shown.
    rig.edit("kavro_old.xml", "<right>0.5</right><bottom>0.333333</bottom><alpha>0.8</alpha>",
             "<right>0.5</right><bottom>0.333333</bottom><alpha>0</alpha>");
    rig.edit("kavro_old.xml", "<right>0.75</right><bottom>0.333333</bottom><alpha>0.8</alpha>",
             "<right>0.75</right><bottom>0.333333</bottom><alpha>0.1</alpha>");
    ASSERT_EQ(build(), S_OK);
    EXPECT_FALSE(s.shown[1]);
    EXPECT_FALSE(input_connected(s, 2));
    EXPECT_TRUE(s.shown[2]);

    std::lock_guard lock(s.graph_lock);
    IGraphBuilder* g = s.objects.graph.get();
    s.layout.alpha[7] = 0.05f; // network camera 1 goes
    s.layout.alpha[1] = 0.5f;  // stream 2 comes
    s.layout.alpha[2] = 0.1f;  // exactly 0.1 in double precision would go; as a float it is above 0.1
    apply_layout(s);
    EXPECT_FALSE(s.shown[7]);
    EXPECT_EQ(s.layout.alpha[7], 0.0f);
    EXPECT_FALSE(input_connected(s, 8));
    EXPECT_EQ(count_filters(g, kJpegDecoderName), 3);
    EXPECT_TRUE(s.shown[1]);
    EXPECT_TRUE(input_connected(s, 2));
    EXPECT_TRUE(s.shown[2]);

    s.layout.alpha[7] = 0.5f;
    s.layout.alpha[2] = 0.09f;
    apply_layout(s);
    EXPECT_TRUE(input_connected(s, 8));
    EXPECT_EQ(count_filters(g, kJpegDecoderName), 4);
    EXPECT_FALSE(input_connected(s, 3));
    OAFilterState state = -1;
    EXPECT_EQ(s.objects.control->GetState(2000, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    EXPECT_EQ(s.last_result.load(), S_OK);
}

TEST_F(MixerGraph, AMissingFilterIsNamedAndNothingIsLeftBuilt) {
    rig.edit("kavro_old.xml", "<filter_name>Capteur</filter_name>", "<filter_name>Capteur 2</filter_name>");
    EXPECT_EQ(build(), VFW_E_NOT_FOUND);
    EXPECT_EQ(boxes.seen(), std::vector<std::string>{"info: Capteur 2 non trouvé"});
    EXPECT_FALSE(s.objects.graph);
    EXPECT_FALSE(s.objects.card[0]);
    EXPECT_EQ(s.last_result.load(), VFW_E_NOT_FOUND);
}

TEST(MixerFindFilter, FirstPrefixMatchInRegistrationOrder) {
    test::MessageBoxes boxes;
    test::MixerRig rig({CAMIP2_AX, CAMIP1_AX});
    ComPtr<IBaseFilter> f;
    // "camIP" is a prefix of "camIP2", registered first: that one is bound.
    ASSERT_EQ(find_filter(CLSID_LegacyAmFilterCategory, "camIP", 0, f.put()), S_OK);
    ComPtr<INetworkCamera> second;
    EXPECT_EQ(f.as(IID_INetworkCamera2, second), S_OK);
    ASSERT_EQ(find_filter(CLSID_LegacyAmFilterCategory, "camIP", 1, f.put()), S_OK);
    EXPECT_EQ(f.as(IID_INetworkCamera1, second), S_OK);
    EXPECT_EQ(find_filter(CLSID_LegacyAmFilterCategory, "camip", 0, f.put()), VFW_E_NOT_FOUND); // case counts
    EXPECT_EQ(boxes.seen(), std::vector<std::string>{"info: camip non trouvé"});
}

namespace {

struct BitmapDouble : IVMRMixerBitmap9 {
    std::vector<float> alphas;
    std::vector<std::uint32_t> corner; // the top-left pixel of each picture, as handed over
    DWORD flags = 0;
    COLORREF key = 1;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT SetAlphaBitmap(const VMR9AlphaBitmap* b) override {
        alphas.push_back(b->fAlpha);
        corner.push_back(b->hdc->canvas()->pixel(0, 0) & 0xffffff);
        flags = b->dwFlags;
        key = b->clrSrcKey;
        return S_OK;
    }
};

} // namespace

TEST(MixerOverlay, DrawsEachFrameColourKeyedAndSwitchesOffAtOrBelowOneTenth) {
    BitmapDouble bitmap;
    OverlayState state;
    state.bitmap = &bitmap;
    state.alpha = 0.6f;
    OverlayCallback cb(state);
    std::vector<BYTE> frame(768 * 576 * 4, 0);
    frame[0] = 0x30, frame[1] = 0x20, frame[2] = 0x10; // B G R of the first pixel
    cb.BufferCB(0, frame.data(), LONG(frame.size()));
    cb.BufferCB(0, frame.data(), LONG(frame.size()) - 1); // short: not drawn
    ASSERT_EQ(bitmap.alphas, std::vector<float>{0.6f});
    EXPECT_EQ(bitmap.corner[0], 0x102030u);
    EXPECT_EQ(bitmap.flags, DWORD(VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_SrcColorKey));
    EXPECT_EQ(bitmap.key, 0u);

    state.alpha = 0.1f; // this frame is still drawn, fully transparent; then the overlay is off
    cb.BufferCB(0, frame.data(), LONG(frame.size()));
    cb.BufferCB(0, frame.data(), LONG(frame.size()));
    EXPECT_EQ(bitmap.alphas, (std::vector<float>{0.6f, 0.0f}));
    EXPECT_FALSE(state.on);
    state.bitmap = nullptr;
}
