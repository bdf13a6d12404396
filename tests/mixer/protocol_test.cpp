// The control protocol's handlers on a mixer state without a running graph: the capture cards, network cameras
// and sensor filter are doubles that record the calls made on them; the configuration folder is temporary.
#include "mixer/protocol.h"
#include "tests/support/sensor_stub.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace kavro;
using namespace kavro::mixer;

namespace {

struct CardDouble : IPictureAdjust {
    struct Call {
        int place;
        std::int32_t value;
        std::uint8_t input;
        bool operator==(const Call&) const = default;
    };
    std::vector<Call> calls;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Reserved5() override { return E_NOTIMPL; }
    HRESULT Reserved7() override { return E_NOTIMPL; }
    HRESULT Reserved9() override { return E_NOTIMPL; }
    HRESULT SetAdjustment1(std::int32_t v, std::uint8_t i) override { return note(4, v, i); }
    HRESULT SetAdjustment2(std::int32_t v, std::uint8_t i) override { return note(6, v, i); }
    HRESULT SetAdjustment3(std::int32_t v, std::uint8_t i) override { return note(8, v, i); }
    HRESULT SetAdjustment4(std::int32_t v, std::uint8_t i) override { return note(10, v, i); }
    HRESULT note(int place, std::int32_t v, std::uint8_t i) {
        calls.push_back({place, v, i});
        return S_OK;
    }
};

struct CameraDouble : INetworkCamera {
    std::vector<std::vector<std::int32_t>> calls;
    HRESULT result = S_OK;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT SetCamera(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, std::int32_t e,
                      std::int32_t f) override {
        calls.push_back({a, b, c, d, e, f});
        return result;
    }
};

// Hands out a recognisable record and keeps what is set, per channel.
struct SensorDouble : test::SensorStub {
    SensorChannelRecord set[6]{};
    int set_calls = 0;
    HRESULT GetConfig(int index, ConsoleSensorChannelRecord* r) override {
        std::memset(r, 0, sizeof *r);
        r->settings.general_on = 1;
        r->settings.mode_on_3 = 1;
        r->settings.status_port = 15010u + unsigned(index);
        return S_OK;
    }
    HRESULT SetConfig(int index, const SensorChannelRecord* r) override {
        set[index] = *r;
        ++set_calls;
        return S_OK;
    }
};

TextTokens tokens(const std::string& text) { return TextTokens(text.data(), text.size()); }

std::string layout_request(int count, const std::function<std::string(int)>& value) {
    std::string text;
    for (int i = 0; i < count; ++i) text += (i ? " " : "") + value(i);
    return text;
}

class Protocol : public ::testing::Test {
protected:
    Protocol() {
        s.configs_dir = dir.slash();
        s.objects.card_adjust[0] = &card1;
        s.objects.card_adjust[1] = &card2;
        for (int k = 0; k < 4; ++k) s.objects.camera_control[k] = &cameras[k];
        s.objects.sensor = &sensor;
    }
    void file(const std::string& name, const std::string& content = "<a/>") {
        std::ofstream(dir / name) << content;
    }
    test::TempDir dir{"kavro-mixer-protocol"};
    CardDouble card1, card2; // outlive the state, which holds them
    CameraDouble cameras[4];
    SensorDouble sensor;
    MixerState s;
};

} // namespace

TEST(PictureScaling, SinglePrecisionConstantRoundsDown) {
    EXPECT_EQ(scale_picture_value(100), 127);
    EXPECT_EQ(scale_picture_value(200), 254);
    EXPECT_EQ(scale_picture_value(0), 0);
    EXPECT_EQ(scale_picture_value(-100), -127);
    EXPECT_EQ(scale_picture_value(2147483647), 2147483647); // clamps instead of overflowing
    EXPECT_EQ(scale_picture_value(-2147483647 - 1), -2147483647 - 1);
}

TEST_F(Protocol, CameraPictureGoesToTheCardOfTheCameraOnItsInput) {
    handle_camera_picture(s, tokens("3 100 100 100 100"));
    EXPECT_EQ(card1.calls, (std::vector<CardDouble::Call>{{4, 127, 2}, {6, 127, 2}, {8, 127, 2}, {10, 127, 2}}));
    EXPECT_TRUE(card2.calls.empty());
    handle_camera_picture(s, tokens("6 0 0 0 0"));
    EXPECT_EQ(card2.calls, (std::vector<CardDouble::Call>{{4, 0, 5}, {6, 0, 5}, {8, 0, 5}, {10, 0, 5}}));
    // Any other camera number (here 0: input 255) goes to the second card; missing values read as 0.
    card2.calls.clear();
    handle_camera_picture(s, tokens("0 200"));
    EXPECT_EQ(card2.calls, (std::vector<CardDouble::Call>{{4, 254, 255}, {6, 0, 255}, {8, 0, 255}, {10, 0, 255}}));
    // The lowest number (a longer one clamps to it) is input 255 too, without overflowing.
    card2.calls.clear();
    handle_camera_picture(s, tokens("-3888888831 1 1 1 1"));
    ASSERT_EQ(card2.calls.size(), 4u);
    EXPECT_EQ(card2.calls[0].input, 255);
}

TEST_F(Protocol, NetworkCamerasTakeSixValuesEachWithProgressLines) {
    cameras[1].result = E_FAIL; // a camera that refuses does not stop the others
    std::string text;
    for (int i = 0; i < 24; ++i) text += (i ? " " : "") + std::to_string(i + 1);
    ::testing::internal::CaptureStdout();
    handle_ip_camera(s, tokens(text));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "init 1\ninit 2\ninit 3\ninit 4\nfin init\n");
    for (int k = 0; k < 4; ++k) {
        ASSERT_EQ(cameras[k].calls.size(), 1u);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(cameras[k].calls[0][std::size_t(i)], 6 * k + i + 1);
    }
    EXPECT_EQ(s.last_result.load(), S_OK); // the last call's result
}

TEST_F(Protocol, LayoutStoresStreamsOverlayAndChannelsInRequestOrder) {
    // 116 tokens: stream k's five values are k.1 .. k.5; overlay 0.7; channel c's twelve values 100c + i.
    const std::string text = layout_request(116, [](int i) {
        if (i < 55) return std::to_string(i / 5 + 1) + "." + std::to_string(i % 5 + 1);
        if (i == 55) return std::string("0.7");
        const int c = (i - 56) / 12 + 1, j = (i - 56) % 12;
        return (j % 3 == 0) ? std::string(c % 2 ? "1" : "2") : std::to_string(100 * c + j);
    });
    s.overlay.on = false;
    EXPECT_EQ(handle_layout(s, tokens(text)), LayoutOutcome::applied);
    EXPECT_FLOAT_EQ(s.layout.left[0], 1.1f);
    EXPECT_FLOAT_EQ(s.layout.alpha[10], 11.5f);
    EXPECT_FLOAT_EQ(s.layout.bottom[6], 7.4f);
    EXPECT_FLOAT_EQ(s.overlay.alpha, 0.7f);
    EXPECT_TRUE(s.overlay.on);
    ASSERT_EQ(sensor.set_calls, 5);
    for (int c = 1; c <= 5; ++c) {
        const SensorChannelRecord& r = sensor.set[c];
        const std::uint8_t on = c % 2 ? 1 : 0; // "2" is not 1: off
        EXPECT_EQ(r.setting1_on, on);
        EXPECT_EQ(r.setting1_a, 100 * c + 1);
        EXPECT_EQ(r.setting1_b, 100 * c + 2);
        EXPECT_EQ(r.setting4_on, on);
        EXPECT_EQ(r.setting4_a, 100 * c + 4);
        EXPECT_EQ(r.setting4_b, 100 * c + 5);
        EXPECT_EQ(r.setting2_a, 100 * c + 7);
        EXPECT_EQ(r.setting2_b, 100 * c + 8);
        EXPECT_EQ(r.setting3_on, on);
        EXPECT_EQ(r.setting3_a, 100 * c + 10);
        EXPECT_EQ(r.setting3_b, 100 * c + 11);
        // What the filter returned stays.
        EXPECT_EQ(r.general_on, 1);
        EXPECT_EQ(r.mode_on_3, 1);
        EXPECT_EQ(r.status_port, 15010u + unsigned(c));
    }
}

TEST_F(Protocol, ShortLayoutReadsMissingTokensAsZeroAndLeavesTheSensorAlone) {
    for (float& a : s.layout.alpha) a = 0.8f;
    handle_layout(s, tokens("0.1 0.2 0.3 0.4 0.5 0 0 0"));
    EXPECT_FLOAT_EQ(s.layout.alpha[0], 0.5f);
    for (int k = 1; k < 11; ++k) EXPECT_EQ(s.layout.alpha[k], 0.0f) << k;
    EXPECT_EQ(s.overlay.alpha, 0.0f);
    EXPECT_EQ(sensor.set_calls, 0); // token 55 is 0: no channel settings
    // A datagram cut inside a number: the number is read up to where it stops.
    handle_layout(s, tokens("0.25 x 1e"));
    EXPECT_FLOAT_EQ(s.layout.left[0], 0.25f);
    EXPECT_EQ(s.layout.top[0], 0.0f);
    EXPECT_FLOAT_EQ(s.layout.right[0], 1.0f);
}

TEST_F(Protocol, NegativeFirstTokenIsAQuit) {
    EXPECT_EQ(handle_layout(s, tokens("-1")), LayoutOutcome::quit);
    EXPECT_EQ(handle_layout(s, tokens("-5 1 2")), LayoutOutcome::quit);
    EXPECT_EQ(handle_layout(s, tokens("-2")), LayoutOutcome::quit_and_shut_down);
    EXPECT_EQ(handle_layout(s, tokens("-2.0 0")), LayoutOutcome::quit_and_shut_down);
    EXPECT_EQ(handle_layout(s, tokens("0")), LayoutOutcome::applied);
}

TEST_F(Protocol, GetconfListsTheConfigurationsButInterfaceOldIn1000Bytes) {
    EXPECT_FALSE(handle_configuration(s, tokens("getconf"))); // no file: no reply
    file("interface.xml");
    file("interface_old.xml");
    file("kavro_old.xml");
    file("notes.txt");
    auto reply = handle_configuration(s, tokens("getconf"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), 1000u);
    const std::string text = reply->c_str();
    EXPECT_TRUE(text == "2 interface.xml kavro_old.xml " || text == "2 kavro_old.xml interface.xml ") << text;
    EXPECT_FALSE(handle_configuration(s, tokens("getconf "))); // anything after it: not a list request
    EXPECT_FALSE(handle_configuration(s, tokens("getconfx")));
    const std::string with_nul("getconf\0junk", 12);
    EXPECT_TRUE(handle_configuration(s, TextTokens(with_nul.data(), with_nul.size()))); // text ends at the NUL
}

TEST_F(Protocol, GetconfLeavesOutNamesPastTheReplyAndAnswersQuicklyForThousandsOfFiles) {
    for (int i = 0; i < 3000; ++i) file("preset_with_a_long_name_" + std::to_string(i) + ".xml");
    const auto start = std::chrono::steady_clock::now();
    auto text = configuration_list(s.configs_dir);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(text);
    EXPECT_LE(text->size(), 999u);
    std::istringstream in(*text);
    int count = 0;
    in >> count;
    int names = 0;
    for (std::string n; in >> n; ++names) EXPECT_TRUE(n.starts_with("preset_with_a_long_name_")) << n;
    EXPECT_EQ(names, count);
    EXPECT_GT(count, 20);
    EXPECT_LT(took, std::chrono::seconds(5)); // a loose bound: the walk stops once nothing more fits
}

TEST_F(Protocol, SetconfCopiesOnlyPlainExistingNamesOfTheFolder) {
    file("day.xml", "<day/>");
    std::ofstream(dir / "outside.xml") << "<outside/>";
    handle_configuration(s, tokens("setconf day.xml"));
    std::ifstream pending(dir / "kavro.xml");
    std::string got((std::istreambuf_iterator<char>(pending)), {});
    EXPECT_EQ(got, "<day/>");
    std::filesystem::remove(dir / "kavro.xml");

    std::filesystem::create_directory(dir / "sub");
    std::ofstream(dir / "sub" / "x.xml") << "<x/>";
    for (const char* bad : {"setconf ", "setconf ../outside.xml", "setconf sub/x.xml", "setconf sub\\x.xml",
                            "setconf ..", "setconf nothing.xml", "setconf sub", "setconfday.xml"}) {
        ::testing::internal::CaptureStderr();
        handle_configuration(s, tokens(bad));
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(std::filesystem::exists(dir / "kavro.xml")) << bad;
        if (std::string_view(bad) != "setconfday.xml") {
            EXPECT_NE(err.find("setconf"), std::string::npos) << bad;
        }
    }
    // The console's 100-byte form: the name ends at the NUL, whatever follows.
    std::string console("setconf day.xml", 15);
    console.resize(100, '\x7f');
    console[15] = '\0';
    handle_configuration(s, TextTokens(console.data(), console.size()));
    EXPECT_TRUE(std::filesystem::exists(dir / "kavro.xml"));
}
