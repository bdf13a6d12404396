// The network camera sources and the network receiver as the console and the mixer use them: registered with
// regsvr32, found by name, created by CLSID, connected to a mixing renderer through the JPEG decoder, showing
// the simulator's pictures, a "no signal" card when the camera is gone, and surviving hostile servers.
#include "outside/network_camera.h"
#include "outside/receiver.h"
#include "platform/dshow/jpeg_decoder.h"
#include "platform/dshow/vmr9/vmr9.h"
#include "platform/jpeg/jpeg.h"
#include "tests/outside/camip/bad_server.h"
#include "tests/platform/dshow/test_support.h"
#include "tests/support/filters.h"
#include "tools/kavro-camera-sim/camera_sim.h"

#include <sys/wait.h>

#include <cstring>
#include <functional>

using namespace kavro::test;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kLibraries[] = {CAMIP1_AX, CAMIP2_AX, CAMIP3_AX, CAMIP4_AX, RECEIVER_AX};
const CLSID kCameras[] = {CLSID_NetworkCamera1, CLSID_NetworkCamera2, CLSID_NetworkCamera3, CLSID_NetworkCamera4};
const IID kCameraIids[] = {IID_INetworkCamera1, IID_INetworkCamera2, IID_INetworkCamera3, IID_INetworkCamera4};

CLSID class_of(IBaseFilter* f) {
    CLSID c{};
    if (f) f->GetClassID(&c);
    return c;
}

class Cameras : public TempRegistry {
protected:
    void SetUp() override {
        TempRegistry::SetUp();
        // In the setup step's order.
        for (const char* lib : kLibraries) ASSERT_EQ(regsvr32(REGSVR32, std::string("/s ") + lib), 0) << lib;
    }
};

TEST_F(Cameras, RegisteredCreatedByClassAndFoundByName) {
    for (int n = 0; n < 4; ++n) {
        SCOPED_TRACE(n + 1);
        auto camera = create<IBaseFilter>(kCameras[n], IID_IBaseFilter);
        ASSERT_TRUE(camera);
        for (int other = 0; other < 4; ++other) {
            ComPtr<INetworkCamera> control;
            EXPECT_EQ(camera.as(kCameraIids[other], control), other == n ? S_OK : E_NOINTERFACE);
        }
        ComPtr<INetworkCamera> control;
        ASSERT_EQ(camera.as(kCameraIids[n], control), S_OK);
        EXPECT_EQ(control->SetCamera(127, 0, 0, 1, 8080, 2), S_OK);
        EXPECT_EQ(control->SetCamera(0, 0, 0, 0, 0, 1), S_OK); // the console's "no camera"
        EXPECT_EQ(control->SetCamera(256, 0, 0, 1, 8080, 2), E_INVALIDARG);
        EXPECT_EQ(control->SetCamera(127, 0, 0, 1, 70000, 2), E_INVALIDARG);
        EXPECT_EQ(control->SetCamera(127, 0, 0, 1, 8080, 4), E_INVALIDARG);
        EXPECT_TRUE(find_pin(camera.get(), PINDIR_OUTPUT, 0));
    }
    // The mixer's four prefix lookups bind each camera to its own filter, also after camera 1 is registered
    // again (a filter keeps its place).
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(class_of(find_filter_by_name("camIP").get()), CLSID_NetworkCamera1);
        EXPECT_EQ(class_of(find_filter_by_name("camIP2").get()), CLSID_NetworkCamera2);
        EXPECT_EQ(class_of(find_filter_by_name("camIP3").get()), CLSID_NetworkCamera3);
        EXPECT_EQ(class_of(find_filter_by_name("camIP4").get()), CLSID_NetworkCamera4);
        ASSERT_EQ(regsvr32(REGSVR32, std::string("/s ") + CAMIP1_AX), 0);
    }
    auto receiver = create<IBaseFilter>(CLSID_JpegReceiver, IID_IBaseFilter);
    ComPtr<IJpegReceiver> rc;
    ASSERT_EQ(receiver.as(IID_IJpegReceiver, rc), S_OK);
    EXPECT_EQ(rc->SetSource(127, 0, 0, 1, 9000), S_OK);
    EXPECT_EQ(rc->SetSource(127, 0, 0, 1, -1), E_INVALIDARG);
    EXPECT_EQ(class_of(find_filter_by_name("JPEG Receiver").get()), CLSID_JpegReceiver);
}

// A camera (or the receiver) connected to a mixing renderer, as the console's panes are.
class CameraGraph {
public:
    explicit CameraGraph(REFCLSID source_class) {
        graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        vmr = create<IBaseFilter>(CLSID_VideoMixingRenderer9, IID_IBaseFilter);
        source = create<IBaseFilter>(source_class, IID_IBaseFilter);
        ComPtr<IVMRFilterConfig9> config;
        EXPECT_EQ(vmr.as(IID_IVMRFilterConfig9, config), S_OK);
        EXPECT_EQ(vmr.as(IID_IVMRWindowlessControl9, windowless), S_OK);
        EXPECT_EQ(graph.as(IID_IMediaControl, control), S_OK);
        EXPECT_EQ(graph->AddFilter(source.get(), "Caméras IP1"), S_OK);
        EXPECT_EQ(graph->AddFilter(vmr.get(), "VMR9"), S_OK);
        EXPECT_EQ(config->SetRenderingMode(VMR9Mode_Windowless), S_OK);
        EXPECT_EQ(config->SetNumberOfStreams(2), S_OK);
        RECT dest{0, 0, 768, 576};
        EXPECT_EQ(windowless->SetVideoPosition(nullptr, &dest), S_OK);
    }
    ~CameraGraph() {
        if (control) control->Stop();
    }
    HRESULT connect() {
        out = find_pin(source.get(), PINDIR_OUTPUT, 0);
        in = find_pin(vmr.get(), PINDIR_INPUT, 0);
        return graph->Connect(out.get(), in.get());
    }
    int filters() {
        ComPtr<IEnumFilters> e;
        graph->EnumFilters(e.put());
        int n = 0;
        IBaseFilter* f = nullptr;
        ULONG got = 0;
        while (e->Next(1, &f, &got) == S_OK) {
            f->Release();
            ++n;
        }
        return n;
    }
    // The pixel (0x00RRGGBB) at (x, y), top-down, of the renderer's current image; 0xFFFFFFFF when none.
    std::uint32_t pixel(int x, int y) {
        BYTE* dib = nullptr;
        if (windowless->GetCurrentImage(&dib) != S_OK || !dib) return 0xFFFFFFFF;
        BITMAPINFOHEADER h;
        std::memcpy(&h, dib, sizeof h);
        std::uint32_t v = 0xFFFFFFFF;
        if (x < h.biWidth && y < h.biHeight)
            std::memcpy(&v, dib + h.biSize + 4 * (std::size_t(h.biHeight - 1 - y) * h.biWidth + x), 4);
        CoTaskMemFree(dib);
        return v & 0xFFFFFF;
    }
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> vmr, source;
    ComPtr<IVMRWindowlessControl9> windowless;
    ComPtr<IMediaControl> control;
    ComPtr<IPin> out, in;
};

bool near(std::uint32_t a, std::uint32_t b, int tolerance) {
    for (int shift : {0, 8, 16})
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) return false;
    return true;
}

// The simulator's colour bars across the top.
bool shows_bars(CameraGraph& g) {
    for (int i = 0; i < 8; ++i)
        if (!near(g.pixel(768 * (2 * i + 1) / 16, 60), camsim::kBars[i], 48)) return false;
    return true;
}

// The "no signal" card: its band and its background.
bool shows_card(CameraGraph& g) { return near(g.pixel(10, 170), 0x603030, 24) && near(g.pixel(10, 40), 0x202838, 24); }

// The time limits the operator sees (2 s to the card), stretched under the thread sanitizer, which slows the
// instrumented code many times over.
#if defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 3;
#else
constexpr int kSlowdown = 1;
#endif
constexpr std::chrono::milliseconds kCardLimit{2000 * kSlowdown};

bool within(std::chrono::milliseconds limit, const std::function<bool()>& ok) {
    limit *= kSlowdown;
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (ok()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return ok();
}

camsim::CameraOptions local(int port) {
    camsim::CameraOptions o;
    o.address = "127.0.0.1";
    o.port = port;
    return o;
}

int free_port() {
    camsim::Camera probe(local(0));
    return probe.port();
}

TEST_F(Cameras, ConnectsThroughTheDecoderAndDisconnectingRemovesIt) {
    CameraGraph g(CLSID_NetworkCamera1);
    ASSERT_EQ(g.connect(), S_OK);
    ASSERT_EQ(g.filters(), 3);
    ComPtr<IPin> decoder_in, decoder_out;
    ASSERT_EQ(g.out->ConnectedTo(decoder_in.put()), S_OK);
    PIN_INFO info{};
    ASSERT_EQ(decoder_in->QueryPinInfo(&info), S_OK);
    ComPtr<IBaseFilter> decoder = ComPtr<IBaseFilter>::adopt(info.pFilter);
    EXPECT_EQ(class_of(decoder.get()), CLSID_JpegDecoder);

    // The console's pane disconnect for a camera.
    ASSERT_EQ(decoder_in->Disconnect(), S_OK);
    ASSERT_EQ(g.out->Disconnect(), S_OK);
    ASSERT_EQ(g.in->ConnectedTo(decoder_out.put()), S_OK);
    ASSERT_EQ(decoder_out->Disconnect(), S_OK);
    ASSERT_EQ(g.graph->RemoveFilter(decoder.get()), S_OK);
    ASSERT_EQ(g.in->Disconnect(), S_OK);
    EXPECT_EQ(g.filters(), 2);
    // And it connects again.
    ASSERT_EQ(g.connect(), S_OK);
    EXPECT_EQ(g.filters(), 3);
}

// Pictures from the simulator reach the renderer, also from the smaller stream (scaled by the decoder); when
// the camera goes away the card shows within 2 s, and the pictures come back by themselves.
TEST_F(Cameras, SimulatorPicturesNoSignalAndRecovery) {
    const int port = free_port();
    auto sim = std::make_unique<camsim::Camera>(local(port));
    CameraGraph g(CLSID_NetworkCamera2);
    ComPtr<INetworkCamera> camera;
    ASSERT_EQ(g.source.as(IID_INetworkCamera2, camera), S_OK);
    ASSERT_EQ(camera->SetCamera(127, 0, 0, 1, port, 2), S_OK);
    ASSERT_EQ(g.connect(), S_OK);
    ASSERT_EQ(g.control->Run(), S_OK);
    EXPECT_TRUE(within(std::chrono::seconds(3), [&] { return shows_bars(g); }));

    ASSERT_EQ(camera->SetCamera(127, 0, 0, 1, port, 3), S_OK); // the 384 x 288 stream, while running
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(within(std::chrono::seconds(3), [&] { return shows_bars(g); }));

    sim.reset();
    const auto gone = Clock::now();
    EXPECT_TRUE(within(std::chrono::seconds(3), [&] { return shows_card(g); }));
    EXPECT_LE(Clock::now() - gone, kCardLimit);

    sim = std::make_unique<camsim::Camera>(local(port));
    EXPECT_TRUE(within(std::chrono::seconds(5), [&] { return shows_bars(g); }));
    const auto stopping = Clock::now();
    ASSERT_EQ(g.control->Stop(), S_OK);
    EXPECT_LE(Clock::now() - stopping, std::chrono::milliseconds(1000));
}

// A camera that cannot be reached shows the card from the start; a stopped graph reads nothing.
TEST_F(Cameras, UnreachableCameraShowsTheCard) {
    const int port = free_port();
    CameraGraph g(CLSID_NetworkCamera3);
    ComPtr<INetworkCamera> camera;
    ASSERT_EQ(g.source.as(IID_INetworkCamera3, camera), S_OK);
    ASSERT_EQ(camera->SetCamera(127, 0, 0, 1, port, 1), S_OK);
    ASSERT_EQ(g.connect(), S_OK);
    ASSERT_EQ(g.control->Run(), S_OK);
    const auto started = Clock::now();
    EXPECT_TRUE(within(std::chrono::seconds(2), [&] { return shows_card(g); }));
    EXPECT_LE(Clock::now() - started, kCardLimit);
    auto sim = std::make_unique<camsim::Camera>(local(port));
    EXPECT_TRUE(within(std::chrono::seconds(5), [&] { return shows_bars(g); }));
}

// Hostile servers: the card shows (nothing bad reaches the picture), the graph keeps running, takes a good
// stream afterwards and stops at once.
TEST_F(Cameras, HostileServersNeverBlockOrBreakTheGraph) {
    std::vector<std::uint32_t> pixels;
    camsim::draw_card(pixels, 320, 240, "BAD", "SERVER", 0, "00:00:00");
    std::vector<std::uint8_t> jpeg;
    ASSERT_EQ(kavro::jpeg::encode({reinterpret_cast<const std::uint8_t*>(pixels.data()), 320, 240, 320 * 4,
                                   kavro::jpeg::PixelFormat::bgrx32, false},
                                  {}, jpeg),
              kavro::jpeg::Status::ok);
    camsim::Camera good(local(0));
    for (Hostile mode : {Hostile::wrong_content_type, Hostile::no_boundary, Hostile::huge_part, Hostile::not_jpeg,
                         Hostile::truncated_jpeg, Hostile::corrupt_jpeg, Hostile::trickle, Hostile::reset_mid_frame}) {
        SCOPED_TRACE(int(mode));
        BadServer server(mode, jpeg);
        CameraGraph g(CLSID_JpegReceiver);
        ComPtr<IJpegReceiver> receiver;
        ASSERT_EQ(g.source.as(IID_IJpegReceiver, receiver), S_OK);
        ASSERT_EQ(receiver->SetSource(127, 0, 0, 1, server.port()), S_OK);
        ASSERT_EQ(g.connect(), S_OK);
        ASSERT_EQ(g.control->Run(), S_OK);
        EXPECT_TRUE(within(std::chrono::milliseconds(2500), [&] { return server.accepted() > 0 && shows_card(g); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_TRUE(shows_card(g));
        // The same running graph then shows a good stream: nothing was left broken.
        ASSERT_EQ(receiver->SetSource(127, 0, 0, 1, good.port()), S_OK);
        EXPECT_TRUE(within(std::chrono::seconds(4), [&] { return shows_bars(g); }));
        if (mode == Hostile::corrupt_jpeg) {
            ComPtr<IPin> decoder_in;
            ASSERT_EQ(g.out->ConnectedTo(decoder_in.put()), S_OK);
            PIN_INFO info{};
            ASSERT_EQ(decoder_in->QueryPinInfo(&info), S_OK);
            ComPtr<IBaseFilter> decoder = ComPtr<IBaseFilter>::adopt(info.pFilter);
            ComPtr<IJpegDecoderStats> stats;
            ASSERT_EQ(decoder.as(IID_IJpegDecoderStats, stats), S_OK);
            LONG decoded = 0, dropped = 0;
            ASSERT_EQ(stats->GetCounts(&decoded, &dropped), S_OK);
            EXPECT_GT(dropped, 10);
        }
        const auto stopping = Clock::now();
        ASSERT_EQ(g.control->Stop(), S_OK);
        EXPECT_LE(Clock::now() - stopping, std::chrono::milliseconds(1000));
    }
}

} // namespace
