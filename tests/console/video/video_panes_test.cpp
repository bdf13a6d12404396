// The console's video graphs on the media platform with the real plug-ins: the build in its order, every
// failing step of the build, of fitting to the panes, of running the mesh and of a remote layout with its
// error-trace location, the release, pane connect/disconnect with the inserted decoder, and the overlay rule.
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
    std::string what;
    int location;
};
const std::vector<Step> kBuildSteps = {
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
    // the sensor filter's settings from the layout document, the grabber's set-up
    {"sensor control", kSensorControl},
    {"sensor GetConfig 1", kSensorGetConfig}, {"sensor SetConfig 1", kSensorSetConfig},
    {"sensor GetConfig 2", kSensorGetConfig}, {"sensor SetConfig 2", kSensorSetConfig},
    {"sensor GetConfig 3", kSensorGetConfig}, {"sensor SetConfig 3", kSensorSetConfig},
    {"sensor GetConfig 4", kSensorGetConfig}, {"sensor SetConfig 4", kSensorSetConfig},
    {"grabber control", kGrabberControl}, {"grabber SetBufferSamples", kGrabberSetup},
    {"grabber SetOneShot", kGrabberSetup}, {"grabber SetMediaType", kGrabberSetup},
    // the mixing renderer
    {"create VMR9", kRenderer}, {"graph 1 AddFilter VMR9", kAddRenderer}, {"renderer 1 config", kRendererConfig},
    {"renderer 1 SetRenderingMode", kRenderingMode}, {"renderer 1 SetNumberOfStreams", kStreams},
    {"renderer 1 windowless", kWindowless}, {"renderer 1 mixer control", kMixerControl},
    {"renderer 1 bitmap", kMixerBitmap}, {"grabber SetCallback", kGrabberSetup},
    // the sensor through the grabber into the null renderer, the renderer in its pane, Noir into the renderer
    {"builder 1 RenderStream", kRenderSensor}, {"graph 1 Connect", kRenderSensor}, {"graph 1 Connect", kRenderSensor},
    {"renderer 1 SetVideoClippingWindow", kClippingWindow}, {"renderer 1 GetMixingPrefs", kMixingPrefs},
    {"renderer 1 SetMixingPrefs", kMixingPrefs}, {"renderer 1 SetVideoPosition", kVideoPosition},
    {"builder 1 RenderStream", kRenderNoir}, {"graph 1 Connect", kRenderNoir},
    // pane connect of panes 0..4: the source's pin, the renderer's pin, the connection
    {"builder 1 FindPin", kConnectSourcePin}, {"builder 1 FindPin", kConnectRendererPin}, {"graph 1 Connect", kConnect},
    {"builder 1 FindPin", kConnectSourcePin}, {"builder 1 FindPin", kConnectRendererPin}, {"graph 1 Connect", kConnect},
    {"builder 1 FindPin", kConnectSourcePin}, {"builder 1 FindPin", kConnectRendererPin}, {"graph 1 Connect", kConnect},
    {"builder 1 FindPin", kConnectSourcePin}, {"builder 1 FindPin", kConnectRendererPin}, {"graph 1 Connect", kConnect},
    {"builder 1 FindPin", kConnectSourcePin}, {"builder 1 FindPin", kConnectRendererPin}, {"graph 1 Connect", kConnect},
    // the streams: the background, then panes 0..4
    {"renderer 1 SetOutputRect 0", kBackground}, {"renderer 1 SetAlpha 0", kBackground},
    {"renderer 1 SetZOrder 0", kBackground},
    {"renderer 1 SetOutputRect 1", kPaneStream}, {"renderer 1 SetAlpha 1", kPaneStream},
    {"renderer 1 SetZOrder 1", kPaneStream},
    {"renderer 1 SetOutputRect 2", kPaneStream}, {"renderer 1 SetAlpha 2", kPaneStream},
    {"renderer 1 SetZOrder 2", kPaneStream},
    {"renderer 1 SetOutputRect 3", kPaneStream}, {"renderer 1 SetAlpha 3", kPaneStream},
    {"renderer 1 SetZOrder 3", kPaneStream},
    {"renderer 1 SetOutputRect 4", kPaneStream}, {"renderer 1 SetAlpha 4", kPaneStream},
    {"renderer 1 SetZOrder 4", kPaneStream},
    {"renderer 1 SetOutputRect 5", kPaneStream}, {"renderer 1 SetAlpha 5", kPaneStream},
    {"renderer 1 SetZOrder 5", kPaneStream},
    // mixer view
    {"create FilterGraph", kMixerViewFirst}, {"create CaptureGraphBuilder2", kMixerViewFirst + 1},
    {"graph 2 media control", kMixerViewFirst + 2}, {"builder 2 SetFiltergraph", kMixerViewFirst + 3},
    {"create JpegReceiver", kMixerViewFirst + 4}, {"graph 2 AddFilter JPEG Receiver", kMixerViewFirst + 5},
    {"create VMR9", kMixerViewFirst + 6}, {"graph 2 AddFilter VMR9", kMixerViewFirst + 7},
    {"renderer 2 config", kMixerViewFirst + 8}, {"renderer 2 SetRenderingMode", kMixerViewFirst + 9},
    {"renderer 2 SetNumberOfStreams", kMixerViewFirst + 10}, {"renderer 2 windowless", kMixerViewFirst + 11},
    {"renderer 2 SetVideoClippingWindow", kMixerViewFirst + 12}, {"renderer 2 SetVideoPosition", kMixerViewFirst + 13},
    {"builder 2 RenderStream", kMixerViewFirst + 14}, {"graph 2 Connect", kMixerViewFirst + 14},
    // mesh view
    {"create FilterGraph", kMeshGraph}, {"create CaptureGraphBuilder2", kMeshGraph},
    {"graph 3 media control", kMeshGraph}, {"builder 3 SetFiltergraph", kMeshGraph},
    {"create VideoRenderer", kMeshGraph}, {"graph 3 AddFilter Video Renderer", kMeshGraph},
    {"create Mesh", kMeshGraph}, {"graph 3 AddFilter Mesh", kMeshGraph},
    {"builder 3 RenderStream", kMeshGraph}, {"graph 3 Connect", kMeshGraph}};

// The console's video with every graph object a stand-in that logs its calls and can fail one of them.
class VideoSteps : public VideoFixture {
protected:
    // Runs `op` on a fresh video after `prepare` (whose steps are not walked) with nothing failing: its steps
    // must be `table`'s, in order. Then once per step on a fresh video with that step failing: the step's
    // location is reported once, nothing after the step ran, the failure released every stand-in, and a second
    // release reports nothing. A step at location 0 fails without stopping the operation.
    template <class Prepare, class Op>
    void walk(const std::vector<Step>& table, Prepare prepare, Op op) {
        std::vector<std::string> all;
        for (const Step& s : table) all.push_back(s.what);
        for (int i = -1; i < int(table.size()); ++i) {
            SCOPED_TRACE(i < 0 ? std::string("nothing failing") : std::to_string(i) + ": " + all[std::size_t(i)]);
            BuildSteps steps;
            factory_ = RecordingFactory{};
            factory_.steps = &steps;
            reported_.clear();
            auto video = make_video();
            prepare(*video);
            ASSERT_TRUE(reported_.empty());
            const std::size_t base = steps.log.size();
            steps.fail_at = i < 0 ? -1 : int(base) + i;
            const HRESULT hr = op(*video);
            const std::vector<std::string> done(steps.log.begin() + std::ptrdiff_t(base), steps.log.end());
            if (i < 0 || table[std::size_t(i)].location == 0) {
                EXPECT_EQ(hr, S_OK);
                EXPECT_TRUE(reported_.empty());
                ASSERT_EQ(done, all);
                continue;
            }
            EXPECT_TRUE(FAILED(hr));
            EXPECT_EQ(reported_, std::vector<int>{table[std::size_t(i)].location});
            EXPECT_EQ(done, std::vector<std::string>(all.begin(), all.begin() + i + 1));
            EXPECT_EQ(steps.live.load(), 0);
            EXPECT_FALSE(video->video_ready());
            EXPECT_FALSE(video->sensor());
            EXPECT_EQ(video->composite_graph(), nullptr);
            for (int key : {9, 10, 11}) EXPECT_EQ(video->media_control(key), nullptr);
            video->release_all();
            EXPECT_EQ(reported_.size(), 1u);
        }
    }
    static void build(ConsoleVideo& video) { ASSERT_EQ(video.build(), S_OK); }
    // What an operation without an answer did: a report says it failed.
    HRESULT outcome() const { return reported_.empty() ? S_OK : E_FAIL; }
};

TEST_F(VideoSteps, EachFailingBuildStepReleasesEverythingAndReportsItsLocation) {
    walk(kBuildSteps, [](ConsoleVideo&) {}, [](ConsoleVideo& v) { return v.build(); });
}

// After the build: fitting the pictures to the panes, running the mesh graph, and a remote layout that takes
// camera 1 off (its inserted decoder leaves), brings camera 2 in and sets the sensor filter.
TEST_F(VideoSteps, EachFailingStepAfterTheBuildReleasesEverythingAndReportsItsLocation) {
    walk({{"renderer 1 SetVideoClippingWindow", kFitComposite}, {"renderer 1 SetVideoPosition", kFitCompositePosition},
          {"renderer 2 SetVideoClippingWindow", kFitMixerView}, {"renderer 2 SetVideoPosition", kFitMixerViewPosition}},
         build, [this](ConsoleVideo& v) { return v.fit_to_panes(), outcome(); });
    walk({{"graph 3 Run", kRunMesh}}, build, [](ConsoleVideo& v) { return v.run_mesh_graph(); });

    std::vector<Step> layout_steps;
    for (int r = 1; r <= 4; ++r) {
        layout_steps.push_back({("sensor GetConfig " + std::to_string(r)), kLayoutGetConfig});
        layout_steps.push_back({("sensor SetConfig " + std::to_string(r)), kLayoutSetConfig});
    }
    for (int s = 1; s <= 4; ++s)
        for (const char* call : {"SetOutputRect ", "SetAlpha ", "SetZOrder "})
            layout_steps.push_back({("renderer 1 " + std::string(call) + std::to_string(s)), kPaneStream});
    // Camera 1's pin, the pins of the decoder the graph inserted for it, and the renderer's input of pane 4.
    const std::string camera = "Caméras IP1/Out", decoder_in = "JPEG Decoder/In",
                      decoder_out = "JPEG Decoder/Out", renderer = "VMR9/VMR Input5";
    const std::vector<Step> rest = {
        {"builder 1 FindPin", kDisconnectSourcePin}, {camera + " ConnectedTo", kDisconnectPeerOfSource},
        {decoder_in + " Disconnect", kDisconnectPeer}, {camera + " Disconnect", kDisconnectSource},
        {"builder 1 FindPin", kDisconnectRendererPin}, {renderer + " ConnectedTo", kDisconnectPeerOfRenderer},
        {decoder_out + " QueryPinInfo", kDisconnectPeerInfo}, {decoder_out + " Disconnect", kDisconnectDecoderPin},
        {"graph 1 RemoveFilter", kRemoveDecoder}, {renderer + " Disconnect", kDisconnectRenderer},
        {"builder 1 FindPin", kConnectSourcePin}, {"builder 1 FindPin", kConnectRendererPin},
        {"graph 1 Connect", kConnect}, {"renderer 1 SetOutputRect 6", kPaneStream},
        {"renderer 1 SetAlpha 6", kPaneStream}, {"renderer 1 SetZOrder 6", kPaneStream},
        {"graph 1 Run", kRunComposite}};
    layout_steps.insert(layout_steps.end(), rest.begin(), rest.end());
    walk(layout_steps, build, [this](ConsoleVideo& v) {
        CompositePane panes[kConsolePanes];
        const ConsoleLayout now = v.layout();
        std::copy(std::begin(now.panes), std::end(now.panes), panes);
        panes[4].alpha = 0;
        panes[5].alpha = 0.7f;
        std::int32_t sensor[4][12] = {};
        v.apply_remote_layout(panes, 0.8f, sensor);
        return outcome();
    });
}

// A filter of another class in place of one the build asks for, without the interface the build wants of it.
struct WrongFilter {
    const char* what;
    CLSID clsid;
    int location;
};

TEST_F(VideoBuild, AFilterWithoutTheInterfaceAskedForStopsTheBuildAtItsLocation) {
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
    layout.overlay_alpha = 0.6f;
    ASSERT_EQ(video->take_layout(doc, layout), S_OK);
    EXPECT_EQ(video->layout().overlay_alpha, 0.6f);
    EXPECT_FALSE(video->layout().overlay_enabled);  // only a remote layout switches the overlay on
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
