// The console's video graphs on the media platform with the real plug-ins: the build in its order, every
// failing step with its error-trace location, the release, pane connect/disconnect with the inserted decoder,
// and the overlay rule.
#include "tests/console/video/video_test_support.h"

#include "platform/ui/control_host.h"

#include <chrono>
#include <thread>
#include <utility>

namespace kavro::test {
namespace {

using namespace console;
using namespace console::video_location;

// The classes the build asks for, in its order.
const std::vector<CLSID> kBuildOrder = {
    CLSID_ZoomViewer, CLSID_MjpegViewer, CLSID_Mpeg4Viewer,
    // composite
    CLSID_FilterGraph, CLSID_CaptureGraphBuilder2, kNoirClass, CLSID_CaptureCard, CLSID_NetworkCamera1,
    CLSID_NetworkCamera2, CLSID_NetworkCamera3, CLSID_NetworkCamera4, CLSID_Capteur, CLSID_SampleGrabber,
    CLSID_NullRenderer, CLSID_VideoMixingRenderer9,
    // mixer view
    CLSID_FilterGraph, CLSID_CaptureGraphBuilder2, CLSID_JpegReceiver, CLSID_VideoMixingRenderer9,
    // mesh view
    CLSID_FilterGraph, CLSID_CaptureGraphBuilder2, CLSID_VideoRenderer, CLSID_Mesh};

using VideoBuild = VideoFixture;

TEST_F(VideoBuild, BuildsEveryGraphInOrderWithThePanesOfTheLayout) {
    auto video = make_video();
    ASSERT_EQ(video->build(), S_OK);
    EXPECT_TRUE(reported_.empty());
    EXPECT_EQ(factory_.asked, kBuildOrder);
    EXPECT_TRUE(video->video_ready());
    for (int key : {9, 10, 11}) EXPECT_NE(video->media_control(key), nullptr) << key;
    EXPECT_TRUE(video->sensor());

    // Panes 0..3 (the card) and 4 (camera 1, through the decoder the graph inserted) are connected.
    const ConsoleLayout layout = video->layout();
    for (int k = 0; k < 8; ++k) EXPECT_EQ(layout.panes[k].connected, k <= 4) << k;
    EXPECT_EQ(filters_of_class(video->composite_graph(), CLSID_JpegDecoder), 1);

    // Stream 0 is the background; pane k is stream k + 1 with z-order 12 - z.
    ComPtr<IVMRMixerControl9> mixer;
    ASSERT_EQ(ComPtr<IBaseFilter>(video->composite_renderer()).as(IID_IVMRMixerControl9, mixer), S_OK);
    float alpha = 0;
    DWORD z = 0;
    VMR9NormalizedRect r{};
    ASSERT_EQ(mixer->GetAlpha(0, &alpha), S_OK);
    EXPECT_EQ(alpha, 1.0f);
    ASSERT_EQ(mixer->GetZOrder(0, &z), S_OK);
    EXPECT_EQ(z, 15u);
    ASSERT_EQ(mixer->GetOutputRect(2, &r), S_OK);  // pane 1: the top right quarter, layer 1
    EXPECT_EQ(r.left, 0.5f);
    EXPECT_EQ(r.right, 1.0f);
    EXPECT_EQ(r.bottom, 0.5f);
    ASSERT_EQ(mixer->GetZOrder(2, &z), S_OK);
    EXPECT_EQ(z, 11u);
    DWORD prefs = 0;
    ASSERT_EQ(mixer->GetMixingPrefs(&prefs), S_OK);
    EXPECT_EQ(prefs & (MixerPref9_FilteringMask | MixerPref9_RenderTargetMask),
              MixerPref9_BiLinearFiltering | MixerPref9_RenderTargetRGB);

    // The three players live in their panes.
    for (int pane : {ids::kPaneZoom, ids::kPaneMjpeg, ids::kPaneMpeg4}) {
        IUnknown* hosted = ui::attached_control(ui::get_dlg_item(window_, pane));
        EXPECT_NE(hosted, nullptr) << pane;
        if (hosted) hosted->Release();
    }

    video->release_all();
    EXPECT_FALSE(video->video_ready());
    EXPECT_FALSE(video->sensor());
    EXPECT_EQ(video->media_control(10), nullptr);
    video->release_all();  // the second release finds nothing
    EXPECT_TRUE(reported_.empty());
}

// Every step of a build with the shipped layout (panes 0..4 shown), and the location its failure is traced
// with; 0: the build goes on without it (a camera player).
struct Step {
    const char* what;
    int location;
};
const Step kBuildSteps[] = {
    {"create ZoomViewer", 0}, {"create MjpegViewer", 0}, {"create Mpeg4Viewer", 0},
    // composite
    {"create FilterGraph", kGraph}, {"create CaptureGraphBuilder2", kBuilder},
    {"graph 1 media control", kMediaControl}, {"builder 1 SetFiltergraph", kAttachBuilder},
    {"create Noir", kNoir}, {"graph 1 AddFilter Noir", kAddNoir},
    {"create CaptureCard", kCaptureCard}, {"graph 1 AddFilter Adlink", kAddCaptureCard},
    {"create Camera1", kCameraFirst}, {"graph 1 AddFilter Caméras IP1", kCameraFirst},
    {"create Camera2", kCameraFirst + 1}, {"graph 1 AddFilter Caméras IP2", kCameraFirst + 1},
    {"create Camera3", kCameraFirst + 2}, {"graph 1 AddFilter Caméras IP3", kCameraFirst + 2},
    {"create Camera4", kCameraFirst + 3}, {"graph 1 AddFilter Caméras IP4", kCameraFirst + 3},
    {"create Capteur", kSensor}, {"graph 1 AddFilter Capteur", kAddSensor},
    {"create SampleGrabber", kGrabber}, {"graph 1 AddFilter SampleGrabber", kAddGrabber},
    {"create NullRenderer", kNullRenderer}, {"graph 1 AddFilter Null Renderer", kAddNullRenderer},
    {"create VMR9", kRenderer}, {"graph 1 AddFilter VMR9", kAddRenderer},
    // the sensor through the grabber into the null renderer, then Noir into the mixing renderer
    {"builder 1 RenderStream", kRenderSensor}, {"graph 1 Connect", kRenderSensor}, {"graph 1 Connect", kRenderSensor},
    {"builder 1 RenderStream", kRenderNoir}, {"graph 1 Connect", kRenderNoir},
    // pane connect of panes 0..4: the source's pin, the renderer's pin, the connection
    {"builder 1 FindPin", kConnectSourcePin}, {"builder 1 FindPin", kConnectRendererPin}, {"graph 1 Connect", kConnect},
    {"builder 1 FindPin", kConnectSourcePin}, {"builder 1 FindPin", kConnectRendererPin}, {"graph 1 Connect", kConnect},
    {"builder 1 FindPin", kConnectSourcePin}, {"builder 1 FindPin", kConnectRendererPin}, {"graph 1 Connect", kConnect},
    {"builder 1 FindPin", kConnectSourcePin}, {"builder 1 FindPin", kConnectRendererPin}, {"graph 1 Connect", kConnect},
    {"builder 1 FindPin", kConnectSourcePin}, {"builder 1 FindPin", kConnectRendererPin}, {"graph 1 Connect", kConnect},
    // mixer view
    {"create FilterGraph", kMixerViewFirst}, {"create CaptureGraphBuilder2", kMixerViewFirst + 1},
    {"graph 2 media control", kMixerViewFirst + 2}, {"builder 2 SetFiltergraph", kMixerViewFirst + 3},
    {"create JpegReceiver", kMixerViewFirst + 4}, {"graph 2 AddFilter JPEG Receiver", kMixerViewFirst + 5},
    {"create VMR9", kMixerViewFirst + 6}, {"graph 2 AddFilter VMR9", kMixerViewFirst + 7},
    {"builder 2 RenderStream", kMixerViewFirst + 14}, {"graph 2 Connect", kMixerViewFirst + 14},
    // mesh view
    {"create FilterGraph", kMeshGraph}, {"create CaptureGraphBuilder2", kMeshGraph},
    {"graph 3 media control", kMeshGraph}, {"builder 3 SetFiltergraph", kMeshGraph},
    {"create VideoRenderer", kMeshGraph}, {"graph 3 AddFilter Video Renderer", kMeshGraph},
    {"create Mesh", kMeshGraph}, {"graph 3 AddFilter Mesh", kMeshGraph},
    {"builder 3 RenderStream", kMeshGraph}, {"graph 3 Connect", kMeshGraph}};

// A filter of another class in place of one the build asks for, without the interface the build wants of it.
struct WrongFilter {
    const char* what;
    CLSID clsid;
    int location;
};

TEST_F(VideoBuild, EachFailingStepReleasesEverythingAndReportsItsLocation) {
    std::vector<std::string> all;
    for (const Step& s : kBuildSteps) all.emplace_back(s.what);
    {
        BuildSteps steps;
        factory_.steps = &steps;
        auto video = make_video();
        ASSERT_EQ(video->build(), S_OK);
        ASSERT_EQ(steps.log, all);
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(std::to_string(i) + ": " + all[i]);
        BuildSteps steps;
        steps.fail_at = int(i);
        factory_ = RecordingFactory{};
        factory_.steps = &steps;
        reported_.clear();
        auto video = make_video();
        const HRESULT hr = video->build();
        if (kBuildSteps[i].location == 0) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_TRUE(reported_.empty());
            EXPECT_EQ(steps.log, all);
            continue;
        }
        EXPECT_TRUE(FAILED(hr));
        EXPECT_EQ(reported_, std::vector<int>{kBuildSteps[i].location});
        // Nothing after the failing step ran, and every graph and builder is gone with the release.
        EXPECT_EQ(steps.log, std::vector<std::string>(all.begin(), all.begin() + std::ptrdiff_t(i) + 1));
        EXPECT_EQ(steps.live.load(), 0);
        EXPECT_FALSE(video->video_ready());
        EXPECT_FALSE(video->sensor());
        EXPECT_EQ(video->composite_graph(), nullptr);
        for (int key : {9, 10, 11}) EXPECT_EQ(video->media_control(key), nullptr);
        video->release_all();
        EXPECT_EQ(reported_.size(), 1u);
    }

    const WrongFilter wrong[] = {
        {"capture card without adjustments", CLSID_CaptureCard, kPictureAdjust},
        {"camera 2 without its interface", CLSID_NetworkCamera2, kCameraControlFirst + 1},
        {"camera 4 without its interface", CLSID_NetworkCamera4, kCameraControlFirst + 3},
        {"sensor filter without its control", CLSID_Capteur, kSensorControl},
        {"sample grabber without its control", CLSID_SampleGrabber, kGrabberControl},
        {"renderer without its configuration", CLSID_VideoMixingRenderer9, kRendererConfig},
        {"receiver without its interface", CLSID_JpegReceiver, kMixerViewFirst + 15},
        {"mesh source without IMesh", CLSID_Mesh, kMeshGraph},
    };
    for (const WrongFilter& w : wrong) {
        SCOPED_TRACE(w.what);
        factory_ = RecordingFactory{};
        factory_.instead = w.clsid;
        reported_.clear();
        auto video = make_video();
        EXPECT_TRUE(FAILED(video->build()));
        EXPECT_EQ(reported_, std::vector<int>{w.location});
        EXPECT_FALSE(video->video_ready());
        EXPECT_EQ(video->composite_graph(), nullptr);
        video->release_all();
        EXPECT_EQ(reported_.size(), 1u);
    }
}

TEST_F(VideoBuild, MissingLayoutFileStopsTheBuildButAMissingPlayerDoesNot) {
    fs::rename(configs_ / "kavro.xml", configs_ / "elsewhere.xml");
    auto video = make_video();
    EXPECT_TRUE(FAILED(video->build()));
    EXPECT_EQ(reported_, std::vector<int>{kLayoutFile});

    fs::rename(configs_ / "elsewhere.xml", configs_ / "kavro.xml");
    reported_.clear();
    factory_ = RecordingFactory{};
    factory_.refuse = std::make_pair(CLSID_MjpegViewer, 1);
    video = make_video();
    EXPECT_EQ(video->build(), S_OK);
    EXPECT_TRUE(reported_.empty());
}

// A plug-in's message box during the build runs a message loop: the operator may close the window (the exit
// releases the video) or start a view that builds again. Neither may free the graph the build is filling;
// the release is done when the build ends.
TEST_F(VideoBuild, AReleaseOrBuildAskedFromInsideTheBuildWaitsForItsEnd) {
    console::VideoEnvironment env;
    console::ConsoleVideo* video = nullptr;
    HRESULT nested = S_OK;
    bool first = true;
    env.create = [&](REFCLSID c, REFIID i, void** o) {
        if (c == CLSID_Mesh && std::exchange(first, false)) {
            nested = video->build();
            video->release_all();
        }
        return factory_(c, i, o);
    };
    env.report = [this](int location, HRESULT) { reported_.push_back(location); };
    env.configs_dir = configs_.string() + "/";
    auto owner = std::make_unique<console::ConsoleVideo>(app_, env);
    video = owner.get();
    EXPECT_EQ(video->build(), S_OK);
    EXPECT_TRUE(FAILED(nested));
    EXPECT_FALSE(video->video_ready());
    EXPECT_EQ(video->mesh(), nullptr);
    EXPECT_TRUE(reported_.empty());
    // The next build makes the whole video again.
    EXPECT_EQ(video->build(), S_OK);
    EXPECT_TRUE(video->video_ready());
    EXPECT_NE(video->mesh(), nullptr);
}

TEST_F(VideoBuild, CameraPaneDisconnectRemovesTheInsertedDecoderAndConnectBringsOneBack) {
    auto video = make_video();
    ASSERT_EQ(video->build(), S_OK);
    IGraphBuilder* graph = video->composite_graph();
    ComPtr<IBaseFilter> camera;
    ASSERT_EQ(graph->FindFilterByName("Caméras IP1", camera.put()), S_OK);
    ASSERT_EQ(filters_of_class(graph, CLSID_JpegDecoder), 1);

    ASSERT_EQ(video->disconnect_pane(4, camera.get(), 0), S_OK);
    EXPECT_EQ(filters_of_class(graph, CLSID_JpegDecoder), 0);
    ComPtr<IPin> in, peer;
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                               builder.put_void()),
              S_OK);
    ASSERT_EQ(builder->FindPin(video->composite_renderer(), PINDIR_INPUT, nullptr, nullptr, FALSE, 5, in.put()), S_OK);
    EXPECT_EQ(in->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);

    ASSERT_EQ(video->connect_pane(4, camera.get(), 0), S_OK);
    EXPECT_EQ(filters_of_class(graph, CLSID_JpegDecoder), 1);
    EXPECT_EQ(in->ConnectedTo(peer.put()), S_OK);

    // A card pane goes straight to the renderer: nothing is removed but the connection.
    ComPtr<IBaseFilter> card;
    ASSERT_EQ(graph->FindFilterByName("Adlink", card.put()), S_OK);
    ASSERT_EQ(video->disconnect_pane(2, card.get(), 2), S_OK);
    EXPECT_EQ(filters_of_class(graph, CLSID_JpegDecoder), 1);
    EXPECT_TRUE(reported_.empty());

    // Disconnecting a camera pane that is not connected fails where the camera's peer is asked for.
    ComPtr<IBaseFilter> camera2;
    ASSERT_EQ(graph->FindFilterByName("Caméras IP2", camera2.put()), S_OK);
    EXPECT_TRUE(FAILED(video->disconnect_pane(5, camera2.get(), 0)));
    EXPECT_EQ(reported_, std::vector<int>{kDisconnectPeerOfSource});
    EXPECT_FALSE(video->video_ready());
}

TEST_F(VideoBuild, CurrentImageIsTheCompositeAsTheRendererShowsItAndATakenLayoutMovesThePanes) {
    factory_.fake_card = true;  // its pictures are grey 0x40
    auto video = make_video();
    ASSERT_EQ(video->build(), S_OK);
    std::vector<std::uint8_t> dib;
    EXPECT_TRUE(FAILED(video->current_image(kViewMesh, dib)));
    EXPECT_TRUE(dib.empty());
    ASSERT_EQ(video->run_composite_graph(), S_OK);
    // The first pictures take a moment to arrive.
    for (int i = 0; i < 100; ++i) {
        if (SUCCEEDED(video->current_image(kViewLocalMixer, dib)) && dib.size() > 40 && dib[40 + 4 * (768 * (575 - 450) + 600)] != 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    BITMAPINFOHEADER h{};
    ASSERT_GE(dib.size(), sizeof h);
    std::memcpy(&h, dib.data(), sizeof h);
    EXPECT_EQ(h.biWidth, 768);
    EXPECT_EQ(h.biHeight, 576);  // rows bottom-up
    ASSERT_EQ(dib.size(), sizeof h + 768u * 576u * 4u);
    // Row 450 from the top, in pane 3 (the bottom right quarter, nothing in front): the card's grey.
    const std::uint8_t* px = dib.data() + sizeof h + 4 * (768 * (575 - 450) + 600);
    EXPECT_NEAR(px[0], 0x40, 2);
    EXPECT_NEAR(px[2], 0x40, 2);

    // A layout taken over: camera 1 leaves (with its decoder), camera 2 comes; the graph is not run again.
    video->stop_graphs();
    MinXL::t_xml_node doc("_EMPTY_", "");
    doc.load_file((configs_ / "kavro_old.xml").string());
    ConsoleLayout layout = video->layout();
    layout.panes[4].alpha = 0;
    layout.panes[5].alpha = 0.7f;
    ASSERT_EQ(video->take_layout(doc, layout), S_OK);
    EXPECT_FALSE(video->layout().panes[4].connected);
    EXPECT_TRUE(video->layout().panes[5].connected);
    EXPECT_EQ(filters_of_class(video->composite_graph(), CLSID_JpegDecoder), 1);
    OAFilterState state{};
    EXPECT_EQ(video->media_control(10)->GetState(1000, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_TRUE(reported_.empty());
}

TEST(Overlay, SwitchesOffAtPointOneInSinglePrecisionAfterDrawingThatFrame) {
    OverlayState s;
    float alpha = -1;
    s.alpha = 0.5f;
    EXPECT_FALSE(overlay_frame_alpha(s, alpha));  // not enabled: nothing drawn
    s.enabled = true;
    EXPECT_TRUE(overlay_frame_alpha(s, alpha));
    EXPECT_EQ(alpha, 0.5f);
    EXPECT_TRUE(s.enabled);

    s.alpha = 0.1f;  // the single-precision 0.1 switches it off
    EXPECT_TRUE(overlay_frame_alpha(s, alpha));
    EXPECT_EQ(alpha, 0.1f);
    EXPECT_FALSE(s.enabled);
    EXPECT_EQ(s.alpha.load(), 0.0f);

    s.enabled = true;
    s.alpha = 0.05f;  // drawn once more, then off
    EXPECT_TRUE(overlay_frame_alpha(s, alpha));
    EXPECT_EQ(alpha, 0.05f);
    EXPECT_FALSE(overlay_frame_alpha(s, alpha));

    s.enabled = true;
    s.alpha = 0.100001f;
    EXPECT_TRUE(overlay_frame_alpha(s, alpha));
    EXPECT_TRUE(s.enabled);
}

TEST_F(VideoBuild, OverlayCallbackHandsWholeSensorPicturesToTheRenderer) {
    auto video = make_video();
    ASSERT_EQ(video->build(), S_OK);
    ISampleGrabberCB* cb = const_cast<MyCallback*>(video->overlay_callback());
    ASSERT_NE(cb, nullptr);
    std::vector<BYTE> frame(std::size_t(kOverlayWidth) * kOverlayHeight * 4, 0);
    const LONG size = LONG(frame.size());
    const int before = video->overlay_callback()->drawn();
    EXPECT_EQ(cb->BufferCB(0, frame.data(), size), 0);  // the overlay is off at start
    video->overlay().alpha = 0.8f;
    video->overlay().enabled = true;
    EXPECT_EQ(cb->BufferCB(0, frame.data(), size - 4), 0);  // a short picture is not read
    EXPECT_EQ(video->overlay_callback()->drawn(), before);
    EXPECT_EQ(cb->BufferCB(0, frame.data(), size), 0);
    EXPECT_EQ(video->overlay_callback()->drawn(), before + 1);
}

} // namespace
} // namespace kavro::test
