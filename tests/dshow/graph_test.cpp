#include "tests/dshow/test_support.h"

#include <atomic>
#include <chrono>
#include <thread>

using namespace kavro::test;

namespace {

class NoirGraph : public TempRegistry {};

TEST_F(NoirGraph, RunsIntoVideoRendererAndDeliversBlackFrames) {
    ASSERT_EQ(register_library(NOIR_AX), S_OK);
    auto graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    auto builder = create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    ASSERT_EQ(builder->SetFiltergraph(graph.get()), S_OK);
    auto noir = create<IBaseFilter>(make_guid("9E237DA7-8506-453F-99D9-8B80F69254FB"), IID_IBaseFilter);
    auto renderer = create<IBaseFilter>(CLSID_VideoRenderer, IID_IBaseFilter);
    ASSERT_EQ(graph->AddFilter(noir.get(), "Noir"), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer.get(), "Video Renderer"), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, noir.get(), nullptr, renderer.get()), S_OK);

    std::atomic<int> frames{0}, bad{0};
    kavro::dshow::set_video_frame_sink([&](const kavro::dshow::VideoFrame& f) {
        if (f.length != 884736 || f.has_time) ++bad;
        for (std::size_t i = 0; i < f.length; i += 4096)
            if (f.data[i] != 0) ++bad;
        ++frames;
    });
    ComPtr<IMediaControl> control;
    ASSERT_EQ(graph.as(IID_IMediaControl, control), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(control->Stop(), S_OK);
    kavro::dshow::set_video_frame_sink(nullptr);
    EXPECT_GE(frames.load(), 15);
    EXPECT_LE(frames.load(), 30);
    EXPECT_EQ(bad.load(), 0);
}

} // namespace
