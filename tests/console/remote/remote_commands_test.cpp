// The remote-control datagrams read into commands: token positions, the refusals, the save name.
#include "console/remote/remote_commands.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kavro::console {
namespace {

struct Recorder : RemoteCommandTarget {
    std::vector<std::string> saves;
    int layouts = 0, shutdowns = 0, closes = 0;
    CompositePane panes[kConsolePanes];
    float overlay = -1;
    std::optional<std::vector<std::int32_t>> sensor;
    int input = 0;
    std::int32_t values[4] = {};
    int adjusts = 0;

    void save(const std::string& name) override { saves.push_back(name); }
    void layout(const CompositePane (&p)[kConsolePanes], float a, const RemoteSensorRows* s) override {
        ++layouts;
        for (int k = 0; k < kConsolePanes; ++k) panes[k] = p[k];
        overlay = a;
        if (s) sensor = std::vector<std::int32_t>(&(*s)[0][0], &(*s)[0][0] + 48);
        else sensor.reset();
    }
    void adjust(int in, const std::int32_t (&v)[4]) override {
        ++adjusts;
        input = in;
        for (int i = 0; i < 4; ++i) values[i] = v[i];
    }
    void shut_down() override { ++shutdowns; }
    void close() override { ++closes; }
};

kavro::LogLimit g_log;
RemoteCommand run(const std::string& text, Recorder& r) { return handle_remote_datagram(text.data(), text.size(), r, g_log); }

// A layout message of `count` tokens: token i is the number i, but the pane alphas are 0.5 and tokens 25..48
// text nobody reads; token 73 is the overlay alpha. `change` replaces one token.
std::string layout_message(int count, const std::string& overlay, int change = -1, const std::string& to = {}) {
    std::string m = "2";
    for (int i = 1; i < count; ++i) {
        m += ' ';
        const bool alpha = (i <= 24 && (i - 1) % 6 == 4) || (i >= 49 && i <= 72 && (i - 49) % 6 == 4);
        if (i == change) m += to;
        else if (i == 73) m += overlay;
        else if (alpha) m += "0.5";
        else if (i >= 25 && i <= 48) m += "unused";
        else m += std::to_string(i);
    }
    return m;
}

TEST(RemoteCommands, LayoutTakesPanesOverlayAndSensorValuesFromTheirTokens) {
    Recorder r;
    EXPECT_EQ(run(layout_message(122, "0.5"), r), RemoteCommand::layout);
    ASSERT_EQ(r.layouts, 1);
    EXPECT_EQ(r.panes[0].left, 1.0f);
    EXPECT_EQ(r.panes[0].alpha, 0.5f);
    EXPECT_EQ(r.panes[0].z, 6);
    EXPECT_EQ(r.panes[3].bottom, 22.0f);
    EXPECT_EQ(r.panes[3].z, 24);
    EXPECT_EQ(r.panes[4].left, 49.0f);
    EXPECT_EQ(r.panes[7].z, 72);
    EXPECT_EQ(r.overlay, 0.5f);
    ASSERT_TRUE(r.sensor);
    EXPECT_EQ((*r.sensor)[0], 74);
    EXPECT_EQ((*r.sensor)[12], 86);   // robot 2 starts at 74 + 12
    EXPECT_EQ((*r.sensor)[47], 121);

    // Overlay alpha 0: 74 tokens are enough and the sensor settings stay as they are.
    EXPECT_EQ(run(layout_message(74, "0"), r), RemoteCommand::layout);
    EXPECT_EQ(r.layouts, 2);
    EXPECT_FALSE(r.sensor);
    EXPECT_EQ(r.overlay, 0.0f);
}

TEST(RemoteCommands, ShortLayoutsAreIgnoredWhole) {
    Recorder r;
    EXPECT_EQ(run(layout_message(73, "0"), r), RemoteCommand::refused);
    EXPECT_EQ(run(layout_message(121, "0.5"), r), RemoteCommand::refused);
    EXPECT_EQ(run(layout_message(74, "0.5"), r), RemoteCommand::refused);
    EXPECT_EQ(run("2", r), RemoteCommand::refused);
    // Values the renderer would refuse (and lose the video over).
    EXPECT_EQ(run(layout_message(74, "0", 5, "nan"), r), RemoteCommand::refused);   // pane 0's alpha
    EXPECT_EQ(run(layout_message(74, "0", 53, "1.5"), r), RemoteCommand::refused);  // pane 4's alpha
    EXPECT_EQ(run(layout_message(74, "0", 2, "inf"), r), RemoteCommand::refused);   // pane 0's top
    EXPECT_EQ(run(layout_message(122, "-0.5"), r), RemoteCommand::refused);
    EXPECT_EQ(r.layouts, 0);
}

TEST(RemoteCommands, SaveNamesArePlainFileNamesAndLoseATrailingLineEnd) {
    Recorder r;
    EXPECT_EQ(run("1 test.xml", r), RemoteCommand::save);
    EXPECT_EQ(run("1 test2.xml\n", r), RemoteCommand::save);
    EXPECT_EQ(run("1 test3.xml\r\n", r), RemoteCommand::save);
    EXPECT_EQ(run("1 " + std::string(89, 'a'), r), RemoteCommand::save);
    EXPECT_EQ(r.saves, (std::vector<std::string>{"test.xml", "test2.xml", "test3.xml", std::string(89, 'a')}));

    for (const std::string& bad : std::vector<std::string>{"1", "1 ", "1 \n", "1 ../up.xml", "1 ..", "1 .", "1 sub/x.xml", "1 /etc/passwd",
                                  "1 a\\b.xml", "1 a\tb.xml", "1 a\nb.xml", "1 " + std::string(90, 'a')}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(run(bad, r), RemoteCommand::refused);
    }
    EXPECT_EQ(r.saves.size(), 4u);
    // The name ends at a NUL byte like the text.
    const char with_nul[] = "1 one.xml\0two";
    EXPECT_EQ(handle_remote_datagram(with_nul, sizeof with_nul - 1, r, g_log), RemoteCommand::save);
    EXPECT_EQ(r.saves.back(), "one.xml");
}

TEST(RemoteCommands, AdjustmentsNeedAnInputAndFourValues) {
    Recorder r;
    EXPECT_EQ(run("3 1 100 100 100 100", r), RemoteCommand::adjust);
    EXPECT_EQ(r.input, 1);
    EXPECT_EQ(r.values[3], 100);
    EXPECT_EQ(run("3 8 0 200 50 7\n", r), RemoteCommand::adjust);
    EXPECT_EQ(r.input, 8);
    EXPECT_EQ(r.values[1], 200);
    EXPECT_EQ(r.values[3], 7);
    for (const char* bad : {"3 1 100 100 100", "3", "3 0 1 2 3 4", "3 9 1 2 3 4", "3 -1 1 2 3 4"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(run(bad, r), RemoteCommand::refused);
    }
    EXPECT_EQ(r.adjusts, 2);
}

TEST(RemoteCommands, CloseShutDownAndOtherNumbers) {
    Recorder r;
    EXPECT_EQ(run("-1\n", r), RemoteCommand::close);
    EXPECT_EQ(run("-2", r), RemoteCommand::shut_down);
    for (const char* other : {"", "0", "4 1 2", "-3", "x", " 1 a.xml", "99999999999"})
        EXPECT_EQ(run(other, r), RemoteCommand::ignored) << other;
    EXPECT_EQ(r.closes, 1);
    EXPECT_EQ(r.shutdowns, 1);
}

} // namespace
} // namespace kavro::console
