// The mixer's picture to the console's mixer view: a 768 x 576 picture through the Jpeg Sender, over loopback,
// into the JPEG Receiver (JPEG_Receiver.ax, registered as the setup step does) and the decoder the graph
// inserts: what arrives is the picture sent, at least 30 dB.
#include "outside/receiver.h"
#include "outside/sender/sender.h"
#include "tests/platform/dshow/plugin_support.h"
#include "tests/platform/dshow/vmr9/test_source.h"

#include <cmath>

using namespace kavro::test;
using namespace std::chrono_literals;

namespace {

std::uint32_t scene(int x, int y, int) {
    const int r = x * 255 / 767, g = y * 255 / 575, b = 128 + int(60 * std::sin(x / 40.0) * std::cos(y / 30.0));
    return std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
}

double psnr(const std::vector<std::uint32_t>& frame) {
    if (frame.size() != 768u * 576u) return 0;
    double se = 0;
    for (int y = 0; y < 576; ++y)
        for (int x = 0; x < 768; ++x) {
            const std::uint32_t got = frame[std::size_t(y) * 768 + x], want = scene(x, y, 0);
            for (int shift : {0, 8, 16}) {
                const double d = double(got >> shift & 0xFF) - double(want >> shift & 0xFF);
                se += d * d;
            }
        }
    return 10 * std::log10(255.0 * 255.0 / std::max(se / (768.0 * 576.0 * 3.0), 1e-9));
}

class SenderToReceiver : public TempRegistry {};

TEST_F(SenderToReceiver, AKnownPictureArrivesAtLeast30Db) {
    // The mixer's side: a 25/s 768 x 576 picture into the sender on a free loopback port.
    auto mixer = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<IMediaControl> mixer_control;
    ASSERT_EQ(mixer.as(IID_IMediaControl, mixer_control), S_OK);
    sender::ServerOptions options;
    options.address = "127.0.0.1";
    options.port = 0;
    HRESULT hr = S_OK;
    ComPtr<IBaseFilter> sender_filter;
    CUnknown* obj = CSenderJPEG::CreateInstance(nullptr, &hr, options);
    ASSERT_EQ(obj->NonDelegatingQueryInterface(IID_IBaseFilter, sender_filter.put_void()), S_OK);
    auto* sender = static_cast<CSenderJPEG*>(static_cast<CBaseRenderer*>(sender_filter.get()));
    TestVideoLayout layout;
    layout.width = 768;
    layout.height = 576;
    layout.bottom_up = false;
    layout.frame_time = UNITS / 25;
    layout.same_picture = true;
    ComPtr<IBaseFilter> source = ComPtr<IBaseFilter>::adopt(CTestVideoSource::create(layout, scene));
    ASSERT_EQ(mixer->AddFilter(source.get(), "Caméras 2"), S_OK);
    ASSERT_EQ(mixer->AddFilter(sender_filter.get(), "JPEG Sender"), S_OK);
    ASSERT_EQ(mixer->ConnectDirect(find_pin(source.get(), PINDIR_OUTPUT).get(),
                                   find_pin(sender_filter.get(), PINDIR_INPUT).get(), nullptr),
              S_OK);
    ASSERT_EQ(mixer_control->Run(), S_OK);
    for (int i = 0; i < 300 && sender->Server().port() == 0; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_NE(sender->Server().port(), 0);

    // The console's side, as its mixer view builds it.
    std::string out;
    ASSERT_EQ(regsvr32(REGSVR32, std::string("/s ") + RECEIVER_AX, &out), 0) << out;
    auto view = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<IMediaControl> view_control;
    ASSERT_EQ(view.as(IID_IMediaControl, view_control), S_OK);
    auto receiver = create<IBaseFilter>(CLSID_JpegReceiver, IID_IBaseFilter);
    ASSERT_TRUE(receiver);
    ComPtr<IJpegReceiver> address;
    ASSERT_EQ(receiver.as(IID_IJpegReceiver, address), S_OK);
    ASSERT_EQ(address->SetSource(127, 0, 0, 1, sender->Server().port()), S_OK);
    ASSERT_EQ(view->AddFilter(receiver.get(), "JPEG Receiver"), S_OK);
    Tap shown(view.get(), find_pin(receiver.get(), PINDIR_OUTPUT).get(), "shown", false);
    ASSERT_EQ(view_control->Run(), S_OK);

    double best = 0;
    EXPECT_TRUE(shown.wait_for([&](const std::vector<std::uint32_t>& f) {
        best = std::max(best, psnr(f));
        return best >= 30.0;
    }, 8000ms)) << "best PSNR " << best << " dB";
    view_control->Stop();
    mixer_control->Stop();
}

} // namespace
