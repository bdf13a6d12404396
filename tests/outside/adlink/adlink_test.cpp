// The capture card in running graphs: the adjustments on the pixels of one input, two cards in one graph
// serving inputs 0..3 and 4..7, the return input showing the mixing renderer's composition, a configured
// V4L2 device that gives no picture, and the time stamps.
#include "outside/adlink/adlink.h"
#include "tests/platform/dshow/plugin_support.h"

#include <cmath>

using namespace kavro::test;
using namespace std::chrono_literals;

namespace {

struct Card {
    explicit Card(const adlink::AdlinkOptions& options = {}) {
        HRESULT hr = S_OK;
        CUnknown* obj = CAdlink::CreateInstance(nullptr, &hr, options);
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(obj->NonDelegatingQueryInterface(IID_IBaseFilter, filter.put_void()), S_OK);
        EXPECT_EQ(filter->QueryInterface(IID_IPictureAdjust, adjust.put_void()), S_OK);
        adlink = static_cast<CAdlink*>(static_cast<CSource*>(filter.get()));
    }
    ComPtr<IPin> pin(int n) { return find_pin(filter.get(), PINDIR_OUTPUT, n); }
    ComPtr<IBaseFilter> filter;
    ComPtr<IPictureAdjust> adjust;
    CAdlink* adlink = nullptr;
};

// Test card places: the 75 % white bar, the red bar, a grey of the ramp, a point of the names.
constexpr int kWhiteX = 50, kRedX = 5 * 110 + 50, kBarY = 100;
std::uint32_t at(const std::vector<std::uint32_t>& f, int x, int y) { return f[std::size_t(y) * 768 + x] & 0xFFFFFF; }

bool near(std::uint32_t got, int r, int g, int b, int tol = 1) {
    return std::abs(int(got >> 16 & 0xFF) - r) <= tol && std::abs(int(got >> 8 & 0xFF) - g) <= tol &&
           std::abs(int(got & 0xFF) - b) <= tol;
}

// Equal to the test card of (card, input) everywhere but the clock box.
bool shows_card(const std::vector<std::uint32_t>& f, int card, int input) {
    adlink::TestCard expected(card, input);
    std::vector<std::uint32_t> want(std::size_t(768) * 576);
    expected.render(want.data(), 768, "");
    if (f.size() != want.size()) return false;
    for (int y = 0; y < 576; ++y)
        for (int x = 0; x < 768; ++x) {
            const bool clock = x >= adlink::kClockBox.left && x < adlink::kClockBox.right &&
                               y >= adlink::kClockBox.top && y < adlink::kClockBox.bottom;
            if (!clock && (f[std::size_t(y) * 768 + x] & 0xFFFFFF) != (want[std::size_t(y) * 768 + x] & 0xFFFFFF))
                return false;
        }
    return true;
}

class AdlinkGraph : public TempRegistry {
protected:
    void SetUp() override {
        TempRegistry::SetUp();
        graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        ASSERT_EQ(graph.as(IID_IMediaControl, control), S_OK);
    }
    void TearDown() override {
        if (control) control->Stop();
        TempRegistry::TearDown();
    }
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
};

TEST_F(AdlinkGraph, AdjustmentsChangeTheirInputsPixelsAnd127LeavesThemAlone) {
    Card card;
    ASSERT_EQ(graph->AddFilter(card.filter.get(), "Adlink"), S_OK);
    Tap in0(graph.get(), card.pin(0).get(), "input 1");
    Tap in1(graph.get(), card.pin(1).get(), "input 2");
    ASSERT_EQ(control->Run(), S_OK);

    ASSERT_TRUE(in0.wait_for([](auto& f) { return shows_card(f, 1, 1); }));
    EXPECT_TRUE(in1.wait_for([](auto& f) { return shows_card(f, 1, 2); }));
    const std::vector<std::uint32_t> neutral = in0.last();
    EXPECT_EQ(at(neutral, kWhiteX, kBarY), 0xBFBFBFu);
    EXPECT_EQ(at(neutral, kRedX, kBarY), 0xBF0000u);

    IPictureAdjust* a = card.adjust.get();
    // Brightness 0: 128 darker.
    ASSERT_EQ(a->SetAdjustment1(0, 0), S_OK);
    EXPECT_TRUE(in0.wait_for([](auto& f) { return near(at(f, kWhiteX, kBarY), 63, 63, 63); }));
    // Back to 127 everywhere: exactly the card again, clock box apart.
    ASSERT_EQ(a->SetAdjustment1(127, 0), S_OK);
    EXPECT_TRUE(in0.wait_for([](auto& f) { return shows_card(f, 1, 1); }));
    // Contrast 0: everything mid grey, also the clock drawn each frame.
    ASSERT_EQ(a->SetAdjustment2(0, 0), S_OK);
    EXPECT_TRUE(in0.wait_for([](auto& f) {
        return at(f, kWhiteX, kBarY) == 0x808080u && at(f, kRedX, kBarY) == 0x808080u &&
               at(f, 384, adlink::kClockBox.top + 20) == 0x808080u;
    }));
    ASSERT_EQ(a->SetAdjustment2(127, 0), S_OK);
    // Saturation 0: the red bar becomes its luma, 0.299 x 191.
    ASSERT_EQ(a->SetAdjustment3(0, 0), S_OK);
    EXPECT_TRUE(in0.wait_for([](auto& f) {
        return near(at(f, kRedX, kBarY), 57, 57, 57) && at(f, kWhiteX, kBarY) == 0xBFBFBFu;
    }));
    ASSERT_EQ(a->SetAdjustment3(127, 0), S_OK);
    // Hue 254: half a turn takes red to cyan of the same luma.
    ASSERT_EQ(a->SetAdjustment4(254, 0), S_OK);
    EXPECT_TRUE(in0.wait_for([](auto& f) { return near(at(f, kRedX, kBarY), 0, 114, 114); }));
    // Saturation 254 doubles the colour: red clips at 255, the others at 0.
    ASSERT_EQ(a->SetAdjustment4(127, 0), S_OK);
    ASSERT_EQ(a->SetAdjustment3(254, 0), S_OK);
    EXPECT_TRUE(in0.wait_for([](auto& f) { return near(at(f, kRedX, kBarY), 255, 0, 0); }));

    // The other input never moved.
    EXPECT_TRUE(shows_card(in1.last(), 1, 2));

    // Values outside 0..254 are taken as the nearest end; inputs outside 0..7 are refused.
    EXPECT_EQ(a->SetAdjustment1(300, 2), S_OK);
    EXPECT_EQ(card.adlink->Adjustments(2).brightness, 254);
    EXPECT_EQ(a->SetAdjustment1(-5, 2), S_OK);
    EXPECT_EQ(card.adlink->Adjustments(2).brightness, 0);
    EXPECT_EQ(a->SetAdjustment2(10, 8), E_INVALIDARG);
    EXPECT_EQ(a->SetAdjustment4(10, 255), E_INVALIDARG);
    EXPECT_EQ(a->Reserved3(), E_NOTIMPL);
    EXPECT_EQ(a->Reserved9(), E_NOTIMPL);

    // Frames a period apart (the first may come before the stream start is known).
    const std::vector<double> times = in1.times();
    ASSERT_GE(times.size(), 4u);
    for (std::size_t i = 2; i < times.size(); ++i) EXPECT_NEAR(times[i] - times[i - 1], 0.04, 1e-6);
}

TEST_F(AdlinkGraph, SecondCardOfAGraphServesInputs4To7) {
    Card first, second;
    ASSERT_EQ(graph->AddFilter(first.filter.get(), "Caméras 1"), S_OK);
    ASSERT_EQ(graph->AddFilter(second.filter.get(), "Caméras 2"), S_OK);
    EXPECT_EQ(first.adlink->Card(), 0);
    EXPECT_EQ(second.adlink->Card(), 1);
    Tap a0(graph.get(), first.pin(0).get(), "first 0");
    Tap a3(graph.get(), first.pin(3).get(), "first 3");
    Tap b0(graph.get(), second.pin(0).get(), "second 0");
    Tap b2(graph.get(), second.pin(2).get(), "second 2");
    // The mixer's port 8000 calls the second card with inputs 4..7.
    ASSERT_EQ(second.adjust->SetAdjustment1(0, 4), S_OK);
    ASSERT_EQ(control->Run(), S_OK);

    EXPECT_TRUE(a0.wait_for([](auto& f) { return shows_card(f, 1, 1); }));
    EXPECT_TRUE(a3.wait_for([](auto& f) { return shows_card(f, 1, 4); }));
    EXPECT_TRUE(b2.wait_for([](auto& f) { return shows_card(f, 2, 7); }));
    EXPECT_TRUE(b0.wait_for([](auto& f) { return near(at(f, kWhiteX, kBarY), 63, 63, 63); }));
    ASSERT_EQ(second.adjust->SetAdjustment1(127, 4), S_OK);
    EXPECT_TRUE(b0.wait_for([](auto& f) { return shows_card(f, 2, 5); }));
    // An adjustment of input 0 handed to the second card changes none of its pins.
    ASSERT_EQ(second.adjust->SetAdjustment2(0, 0), S_OK);
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(shows_card(b0.last(), 2, 5));
    EXPECT_TRUE(shows_card(a0.last(), 1, 1));
    ASSERT_EQ(control->Stop(), S_OK);

    // Out of the graph and back: alone again, it is the first card.
    ASSERT_EQ(graph->RemoveFilter(first.filter.get()), S_OK);
    ASSERT_EQ(graph->RemoveFilter(second.filter.get()), S_OK);
    ASSERT_EQ(graph->AddFilter(second.filter.get(), "Adlink"), S_OK);
    EXPECT_EQ(second.adlink->Card(), 0);
}

TEST_F(AdlinkGraph, Input8ShowsTheMixingRenderersComposition) {
    Card first, second;
    ASSERT_EQ(graph->AddFilter(first.filter.get(), "Caméras 1"), S_OK);
    ASSERT_EQ(graph->AddFilter(second.filter.get(), "Caméras 2"), S_OK);
    auto vmr = create<IBaseFilter>(CLSID_VideoMixingRenderer9, IID_IBaseFilter);
    ASSERT_EQ(graph->AddFilter(vmr.get(), "VMR9"), S_OK);
    ComPtr<IVMRFilterConfig9> config;
    ASSERT_EQ(vmr.as(IID_IVMRFilterConfig9, config), S_OK);
    ASSERT_EQ(config->SetRenderingMode(VMR9Mode_Windowless), S_OK);
    ASSERT_EQ(config->SetNumberOfStreams(1), S_OK);
    // The mix is input 2 of the first card, darkened; what comes back on input 8 is that mix.
    ASSERT_EQ(first.adjust->SetAdjustment1(0, 1), S_OK);
    ASSERT_EQ(graph->ConnectDirect(first.pin(1).get(), find_pin(vmr.get(), PINDIR_INPUT, 0).get(), nullptr), S_OK);
    Tap back(graph.get(), second.pin(3).get(), "return");
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_TRUE(back.wait_for([](auto& f) {
        return near(at(f, kWhiteX, kBarY), 63, 63, 63, 2) && near(at(f, kRedX, kBarY), 63, 0, 0, 2);
    })) << std::hex << at(back.last(), kWhiteX, kBarY);
    // Its own adjustments apply on top.
    ASSERT_EQ(second.adjust->SetAdjustment2(0, 7), S_OK);
    EXPECT_TRUE(back.wait_for([](auto& f) { return at(f, kWhiteX, kBarY) == 0x808080u; }));
}

TEST_F(AdlinkGraph, ConfiguredDeviceWithoutPictureShowsNoSignalAndTheDevice) {
    adlink::AdlinkOptions options;
    options.device_for_input = [](int input) -> std::optional<std::string> {
        if (input == 0) return "/nonexistent/video9";
        return std::nullopt;
    };
    Card card(options);
    ASSERT_EQ(graph->AddFilter(card.filter.get(), "Adlink"), S_OK);
    Tap in0(graph.get(), card.pin(0).get(), "input 1");
    Tap in1(graph.get(), card.pin(1).get(), "input 2");
    ASSERT_EQ(control->Run(), S_OK);
    // The lines under the names, which a plain test card does not have: the device and why it gives nothing.
    adlink::TestCard expected(1, 1, "NO SIGNAL /nonexistent/video9\ncannot open (No such file or directory)");
    std::vector<std::uint32_t> want(std::size_t(768) * 576);
    expected.render(want.data(), 768, "");
    EXPECT_TRUE(in0.wait_for([&](const std::vector<std::uint32_t>& f) {
        for (int y = 336; y < adlink::kClockBox.top; ++y)
            for (int x = 0; x < 768; ++x)
                if (at(f, x, y) != (want[std::size_t(y) * 768 + x] & 0xFFFFFF)) return false;
        return true;
    }));
    EXPECT_TRUE(in1.wait_for([](auto& f) { return shows_card(f, 1, 2); }));
}

} // namespace
