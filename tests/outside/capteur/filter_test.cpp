// The filter through ICapteurControl (both record forms, bad arguments) and its overlay frames in a running
// graph: Capteur -> SampleGrabber -> Null Renderer.
#include "outside/capteur/overlay.h"
#include "tests/outside/capteur/capteur_test_support.h"
#include "tests/support/grabber_callback.h"

#include <memory>
#include <mutex>
#include <vector>

using namespace capteur;
using namespace capteur::test;
using namespace kavro::test;

namespace {

TEST(CapteurControl, BothRecordFormsRoundTripAndNothingIsWrittenPastThem) {
    Filter f;
    ICapteurControl* c = f.control.get();

    // The mixer's 52-byte record, alone on the heap: reading past it is caught by the address sanitizer.
    auto mixer = std::make_unique<kavro::SensorChannelRecord>();
    std::memset(mixer.get(), 0, sizeof *mixer);
    mixer->general_on = 1;
    mixer->mode_on_1 = mixer->mode_on_2 = mixer->mode_on_3 = mixer->mode_on_4 = 1;
    mixer->unused[1] = 0x77;
    mixer->setting1_a = -12;
    mixer->setting4_b = 0x12345678;
    ASSERT_EQ(c->SetConfig(2, mixer.get()), S_OK);

    // The console's 56-byte form with a guard after it.
    struct Guarded {
        kavro::ConsoleSensorChannelRecord record;
        std::uint8_t guard[32];
    } g;
    std::memset(&g, 0xA5, sizeof g);
    ASSERT_EQ(c->GetConfig(2, &g.record), S_OK);
    for (std::uint8_t b : g.guard) ASSERT_EQ(b, 0xA5);
    EXPECT_EQ(std::memcmp(&g.record.settings, mixer.get(), sizeof *mixer), 0);
    for (std::uint8_t b : g.record.node_address) EXPECT_EQ(b, 0); // no robot heard

    // The console hands its own record's settings; the node address is the filter's, not the caller's.
    g.record.settings.setting2_b = 99;
    g.record.node_address[0] = 9;
    ASSERT_EQ(c->SetConfig(2, &g.record.settings), S_OK);
    kavro::ConsoleSensorChannelRecord back{};
    ASSERT_EQ(c->GetConfig(2, &back), S_OK);
    EXPECT_EQ(back.settings.setting2_b, 99);
    EXPECT_EQ(back.settings.unused[1], 0x77); // kept as handed
    EXPECT_EQ(back.node_address[0], 0);

    // Every index 1..5 has its own record; other indexes are refused.
    for (int i = 1; i <= 5; ++i) {
        kavro::SensorChannelRecord r{};
        r.setting3_a = i * 10;
        ASSERT_EQ(c->SetConfig(i, &r), S_OK);
    }
    for (int i = 1; i <= 5; ++i) {
        ASSERT_EQ(c->GetConfig(i, &back), S_OK);
        EXPECT_EQ(back.settings.setting3_a, i * 10);
    }
    EXPECT_EQ(c->SetConfig(0, mixer.get()), E_INVALIDARG);
    EXPECT_EQ(c->SetConfig(6, mixer.get()), E_INVALIDARG);
    EXPECT_EQ(c->GetConfig(-1, &back), E_INVALIDARG);
    EXPECT_EQ(c->SetConfig(1, nullptr), E_POINTER);
    EXPECT_EQ(c->GetConfig(1, nullptr), E_POINTER);
}

TEST(CapteurControl, StatusPositionWaypointsAndAddressesByPointer) {
    Filter f;
    ICapteurControl* c = f.control.get();
    int index = 4;
    std::int32_t r[4] = {-1, -1, -1, -1};
    ASSERT_EQ(c->GetStatus(&index, &r[0], &r[1], &r[2], &r[3]), S_OK);
    for (auto v : r) EXPECT_EQ(v, 0);
    float lat = -1, lon = -1;
    ASSERT_EQ(c->GetPosition(&index, &lat, &lon), S_OK);
    EXPECT_EQ(lat, 0.0f); // none known
    EXPECT_EQ(lon, 0.0f);
    index = 6;
    EXPECT_EQ(c->GetStatus(&index, &r[0], &r[1], &r[2], &r[3]), E_INVALIDARG);
    EXPECT_EQ(c->GetPosition(&index, &lat, &lon), E_INVALIDARG);
    EXPECT_EQ(c->GetStatus(nullptr, &r[0], &r[1], &r[2], &r[3]), E_POINTER);
    index = 1;
    EXPECT_EQ(c->GetStatus(&index, &r[0], nullptr, &r[2], &r[3]), E_POINTER);
    EXPECT_EQ(c->GetPosition(&index, &lat, nullptr), E_POINTER);

    int robot = 3;
    float x = 12.5f, y = -3.25f;
    ASSERT_EQ(c->SetWaypoint(&robot, 2, &x, &y), S_OK);
    EXPECT_EQ(c->SetWaypoint(&robot, 5, &x, &y), E_INVALIDARG);
    EXPECT_EQ(c->SetWaypoint(&robot, 1, nullptr, &y), E_POINTER);
    int value = 7;
    ASSERT_EQ(c->SetRobotValue(&robot, &value), S_OK);
    EXPECT_EQ(c->SetRobotValue(nullptr, &value), E_POINTER);
    float wx = 0, wy = 0;
    ASSERT_TRUE(f.capteur->Channels().waypoint(3, 2, wx, wy));
    EXPECT_EQ(wx, 12.5f);
    EXPECT_EQ(wy, -3.25f);
    int kept = 0;
    ASSERT_TRUE(f.capteur->Channels().value(3, kept));
    EXPECT_EQ(kept, 7);

    // The status poll's order: GetConfig(i), AddressBytes(address of i); the bytes are left as they were.
    kavro::ConsoleSensorChannelRecord rec{};
    ASSERT_EQ(c->GetConfig(2, &rec), S_OK);
    unsigned char a[4] = {127, 0, 0, 12};
    ASSERT_EQ(c->AddressBytes(&a[0], &a[1], &a[2], &a[3]), S_OK);
    EXPECT_EQ(a[3], 12);
    Address kept_address{};
    f.capteur->Channels().address(2, kept_address);
    EXPECT_EQ(kept_address, (Address{127, 0, 0, 12}));
    ASSERT_EQ(c->LoopbackBytes(&a[0], &a[1], &a[2], &a[3]), S_OK);
    EXPECT_EQ(f.capteur->Channels().reference(), (Address{127, 0, 0, 12}));
    EXPECT_EQ(c->AddressBytes(&a[0], nullptr, &a[2], &a[3]), E_POINTER);
    EXPECT_EQ(c->LoopbackBytes(nullptr, &a[1], &a[2], &a[3]), E_POINTER);
    EXPECT_EQ(c->Reserved3(), E_NOTIMPL);
    EXPECT_EQ(c->Reserved4(), E_NOTIMPL);
}

// Keeps a copy of the last frame and the sample times.
struct Grab final : kavro::test::GrabberCallback {
    HRESULT BufferCB(double time, BYTE* buffer, LONG length) override {
        std::lock_guard lock(mutex);
        times.push_back(time);
        last.assign(buffer, buffer + length);
        return 0;
    }
    std::mutex mutex;
    std::vector<double> times;
    std::vector<BYTE> last;
};

class CapteurGraph : public TempRegistry {};

TEST_F(CapteurGraph, FramesShowTheRobotsBarsOnBlack) {
    CapteurOptions options;
    options.listener.bind_address = {127, 0, 0, 1};
    Filter f(options);
    const std::uint16_t port = free_udp_port();
    Sender r1("127.0.0.61");
    auto rec = status_record(port, {127, 0, 0, 61});
    ASSERT_EQ(f.control->SetConfig(1, &rec), S_OK);
    ASSERT_TRUE(eventually([&] { return f.capteur->Listener().bound_ports() == 1; }));
    ASSERT_TRUE(r1.send(port, "status 80 127 127 90 48.100000 11.500000 10.0.0.61"));
    ASSERT_TRUE(eventually([&] { return f.capteur->Listener().taken() == 1; }));

    auto graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    auto builder = create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    ASSERT_EQ(builder->SetFiltergraph(graph.get()), S_OK);
    auto grabber = create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto null = create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    ASSERT_EQ(graph->AddFilter(f.filter.get(), "Capteur"), S_OK);
    ASSERT_EQ(graph->AddFilter(grabber.get(), "SampleGrabber"), S_OK);
    ASSERT_EQ(graph->AddFilter(null.get(), "Null Renderer"), S_OK);
    ComPtr<ISampleGrabber> sg;
    ASSERT_EQ(grabber.as(IID_ISampleGrabber, sg), S_OK);
    AM_MEDIA_TYPE want{};
    want.majortype = MEDIATYPE_Video;
    want.subtype = MEDIASUBTYPE_RGB32;
    ASSERT_EQ(sg->SetMediaType(&want), S_OK);
    ASSERT_EQ(sg->SetBufferSamples(FALSE), S_OK);
    ASSERT_EQ(sg->SetOneShot(FALSE), S_OK);
    Grab grab;
    ASSERT_EQ(sg->SetCallback(&grab, 1), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, f.filter.get(), grabber.get(), null.get()), S_OK);

    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(sg->GetConnectedMediaType(&connected), S_OK);
    EXPECT_EQ(connected.subtype, MEDIASUBTYPE_RGB32);
    ASSERT_GE(connected.cbFormat, sizeof(VIDEOINFOHEADER));
    const auto* vi = reinterpret_cast<const VIDEOINFOHEADER*>(connected.pbFormat);
    EXPECT_EQ(vi->bmiHeader.biWidth, 768);
    EXPECT_EQ(vi->bmiHeader.biHeight, -576); // rows top first
    EXPECT_EQ(vi->bmiHeader.biBitCount, 32);
    FreeMediaType(connected);

    ComPtr<IMediaControl> control;
    ASSERT_EQ(graph.as(IID_IMediaControl, control), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(grab.mutex);
        return grab.times.size() >= 4;
    }));
    ASSERT_EQ(control->Stop(), S_OK);

    std::lock_guard lock(grab.mutex);
    ASSERT_EQ(grab.last.size(), std::size_t(kFrameBytes));
    // Time stamps a frame period apart.
    // (The first frame is handed on while the graph is still pausing, before the stream start is known.)
    for (std::size_t i = 2; i < grab.times.size(); ++i) EXPECT_NEAR(grab.times[i] - grab.times[i - 1], 0.1, 1e-6);
    auto pixel = [&](int x, int y) {
        std::uint32_t p;
        std::memcpy(&p, &grab.last[(std::size_t(y) * kFrameWidth + std::size_t(x)) * 4], 4);
        return p & 0x00FFFFFF;
    };
    const Rect bat = bar_rect(1, Bar::Battery);
    const int mid = (bat.top + bat.bottom) / 2;
    EXPECT_EQ(pixel(bat.left + 40, mid), kGreen);     // inside the 80 % of the battery bar
    EXPECT_EQ(pixel(bat.left + 90, mid), 0u);         // past it
    EXPECT_EQ(pixel(bat.left + 40, kFrameHeight - 1 - mid), 0u); // the same row from the bottom: black
    const Rect sig = bar_rect(1, Bar::Signal);
    EXPECT_EQ(pixel(sig.left + 85, (sig.top + sig.bottom) / 2), kYellow);
    // Robot 2 has no record: its row stays black.
    const Rect other = bar_rect(2, Bar::Battery);
    EXPECT_EQ(pixel(other.left, (other.top + other.bottom) / 2), 0u);
    std::size_t lit = 0;
    for (std::size_t i = 0; i < grab.last.size(); i += 4)
        if (grab.last[i] | grab.last[i + 1] | grab.last[i + 2]) ++lit;
    EXPECT_GT(lit, 1000u);
    EXPECT_LT(lit, std::size_t(kFrameWidth) * kFrameHeight / 10); // mostly transparent black
    EXPECT_EQ(sg->SetCallback(nullptr, 0), S_OK);
}

} // namespace
