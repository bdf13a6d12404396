// The console's video graphs on the media platform with the real plug-ins: the build in its order, every
// failing step with its error-trace location, the release, pane connect/disconnect with the inserted decoder,
// and the overlay rule.
#include "tests/console/video/video_test_support.h"

#include "platform/ui/control_host.h"

#include <chrono>
#include <thread>

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

struct FailingStep {
    const char* what;
    CLSID clsid;
    int nth;          // the n-th creation of the class fails; 0: a Noir filter comes instead of every one
    int location;
};

TEST_F(VideoBuild, EachFailingStepReleasesEverythingAndReportsItsLocation) {
    const FailingStep steps[] = {
        {"composite graph", CLSID_FilterGraph, 1, kGraph},
        {"composite builder", CLSID_CaptureGraphBuilder2, 1, kBuilder},
        {"Noir", kNoirClass, 1, kNoir},
        {"capture card", CLSID_CaptureCard, 1, kCaptureCard},
        {"capture card without adjustments", CLSID_CaptureCard, 0, kPictureAdjust},
        {"camera 1", CLSID_NetworkCamera1, 1, kCameraFirst},
        {"camera 4", CLSID_NetworkCamera4, 1, kCameraFirst + 3},
        {"camera 2 without its interface", CLSID_NetworkCamera2, 0, kCameraControlFirst + 1},
        {"camera 4 without its interface", CLSID_NetworkCamera4, 0, kCameraControlFirst + 3},
        {"sensor filter", CLSID_Capteur, 1, kSensor},
        {"sensor filter without its control", CLSID_Capteur, 0, kSensorControl},
        {"sample grabber", CLSID_SampleGrabber, 1, kGrabber},
        {"null renderer", CLSID_NullRenderer, 1, kNullRenderer},
        {"composite renderer", CLSID_VideoMixingRenderer9, 1, kRenderer},
        {"mixer-view graph", CLSID_FilterGraph, 2, kMixerViewFirst},
        {"receiver", CLSID_JpegReceiver, 1, kMixerViewFirst + 4},
        {"receiver without its interface", CLSID_JpegReceiver, 0, kMixerViewFirst + 15},
        {"mixer-view renderer", CLSID_VideoMixingRenderer9, 2, kMixerViewFirst + 6},
        {"mesh graph", CLSID_FilterGraph, 3, kMeshGraph},
        {"video renderer", CLSID_VideoRenderer, 1, kMeshGraph},
        {"mesh source", CLSID_Mesh, 1, kMeshGraph},
        {"mesh source without IMesh", CLSID_Mesh, 0, kMeshGraph},
    };
    for (const FailingStep& s : steps) {
        SCOPED_TRACE(s.what);
        factory_ = RecordingFactory{};
        if (s.nth) factory_.refuse = std::make_pair(s.clsid, s.nth);
        else factory_.instead = s.clsid;
        reported_.clear();
        auto video = make_video();
        EXPECT_TRUE(FAILED(video->build()));
        EXPECT_EQ(reported_, std::vector<int>{s.location});
        EXPECT_FALSE(video->video_ready());
        EXPECT_FALSE(video->sensor());
        EXPECT_EQ(video->composite_graph(), nullptr);
        for (int key : {9, 10, 11}) EXPECT_EQ(video->media_control(key), nullptr);
        // Nothing is created after the failing step, and everything before it came in the build's order.
        const std::size_t n = factory_.asked.size();
        ASSERT_LE(n, kBuildOrder.size());
        EXPECT_TRUE(std::equal(factory_.asked.begin(), factory_.asked.end(), kBuildOrder.begin()));
        if (s.nth) {
            EXPECT_EQ(factory_.asked.back(), s.clsid);
        }
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
