// The layout editor's server: what the page posts becomes exactly the console's layout and picture datagrams,
// read here the way the console's remote-control port reads them.
#include "console/link/udp_endpoint.h"
#include "tools/kavro-layout-editor/editor_server.h"
#include "util/text_split.h"

#include <httplib.h>

#include <gtest/gtest.h>

namespace kavro::editor {
namespace {

Layout sample() {
    Layout l = default_layout();
    l.panes[4] = PaneLayout{0.125f, 0.25f, 0.5f, 0.75f, 0.05f, 3};
    l.overlay_alpha = 0.5f;
    l.sensors[0][0] = {true, 11, 12};  // robot 1 setting 1
    l.sensors[0][1] = {false, 21, 22}; // setting 2
    l.sensors[0][2] = {true, 31, 32};  // setting 3
    l.sensors[0][3] = {true, 41, 42};  // setting 4
    l.sensors[3][3] = {true, -7, 9};   // robot 4 setting 4
    return l;
}

TEST(LayoutDatagram, TokensSitWhereTheConsolesLayoutCommandReadsThem) {
    const std::string text = layout_datagram(sample());
    const TextTokens t(text);
    ASSERT_EQ(t.count(), 122u);
    EXPECT_EQ(t.as_int(0), 2);
    // Pane 0 at tokens 1..6, pane 3 ends at 24, 25..48 unused, pane 4 at 49..54, the overlay alpha at 73.
    EXPECT_EQ(t.token(1), "0 ");
    EXPECT_EQ(t.token(3), "0.5 ");
    EXPECT_EQ(t.token(24), "0 ");
    for (std::size_t i = 25; i <= 48; ++i) EXPECT_EQ(t.token(i), "0 ");
    EXPECT_EQ(t.as_float(49), 0.125f);
    EXPECT_EQ(t.as_float(50), 0.25f);
    EXPECT_EQ(t.as_float(51), 0.5f);
    EXPECT_EQ(t.as_float(52), 0.75f);
    EXPECT_EQ(t.as_float(53), 0.05f);
    EXPECT_EQ(t.as_int(54), 3);
    EXPECT_EQ(t.as_float(73), 0.5f);
    // Robot 1 from token 74 in the command's order: settings 1, 4, 2, 3.
    const int robot1[12] = {1, 11, 12, 1, 41, 42, 0, 21, 22, 1, 31, 32};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(t.as_int(74 + std::size_t(i)), robot1[i]) << i;
    EXPECT_EQ(t.as_int(74 + 36 + 3), 1);  // robot 4 setting 4 "on"
    EXPECT_EQ(t.as_int(74 + 36 + 4), -7);
    EXPECT_EQ(t.word(121), "0");          // last token: robot 4 setting 3 "b", no trailing blank
    EXPECT_EQ(text.find("  "), std::string::npos);

    // Overlay off: the sensor settings are left out (74 tokens).
    Layout off = sample();
    off.overlay_alpha = 0;
    EXPECT_EQ(TextTokens(layout_datagram(off)).count(), 74u);
    // The page's form reads back to the same layout.
    EXPECT_EQ(layout_datagram(*parse_layout_form(layout_form(sample()))), text);
}

TEST(LayoutForm, RefusesWhatTheConsoleWouldMisread) {
    const std::string good = layout_form(sample());
    EXPECT_TRUE(parse_layout_form(good));
    EXPECT_FALSE(parse_layout_form(good + " 1"));                 // 98 numbers
    EXPECT_FALSE(parse_layout_form(good.substr(0, good.rfind(' ')))); // 96
    auto with = [&](std::size_t field, const std::string& value) {
        std::vector<std::string> f;
        std::size_t start = 0;
        for (std::size_t i = 0; i <= good.size(); ++i)
            if (i == good.size() || good[i] == ' ') {
                f.push_back(good.substr(start, i - start));
                start = i + 1;
            }
        f[field] = value;
        std::string out;
        for (auto& s : f) out += (out.empty() ? "" : " ") + s;
        return out;
    };
    EXPECT_FALSE(parse_layout_form(with(0, "1.5")));   // outside the picture
    EXPECT_FALSE(parse_layout_form(with(0, "0,5")));   // not a number with a point
    EXPECT_FALSE(parse_layout_form(with(2, "nan")));
    EXPECT_FALSE(parse_layout_form(with(5, "12")));    // layer
    EXPECT_FALSE(parse_layout_form(with(49, "2")));    // flag
    EXPECT_TRUE(parse_layout_form(with(2, "0.1")));    // a narrow pane is fine...
    EXPECT_FALSE(parse_layout_form(with(0, "0.9")));   // ...but left past right is not
    EXPECT_EQ(picture_datagram(*parse_picture_form("1 100 100 100 100")), "3 1 100 100 100 100");
    EXPECT_FALSE(parse_picture_form("5 100 100 100 100"));
    EXPECT_FALSE(parse_picture_form("1 100 100 100 201"));
    EXPECT_FALSE(parse_picture_form("1 100 100 100"));
}

TEST(EditorServer, ThePagesPostsReachTheConsolesPortAsDatagrams) {
    console::UdpEndpoint console_port;
    ASSERT_TRUE(console_port.open_bound(0, "127.0.0.1"));
    EditorServer server("<html>editor</html>", udp_sender("127.0.0.1", console_port.local_port()));
    ASSERT_TRUE(server.start("127.0.0.1", 0));
    httplib::Client client("127.0.0.1", server.port());

    auto page = client.Get("/KAVRO/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body, "<html>editor</html>");
    auto initial = client.Get("/KAVRO/layout");
    ASSERT_TRUE(initial);
    EXPECT_EQ(initial->body, layout_form(default_layout()));

    auto posted = client.Post("/KAVRO/layout", layout_form(sample()), "text/plain");
    ASSERT_TRUE(posted);
    EXPECT_EQ(posted->status, 200);
    ASSERT_GT(console_port.receive(2, 0), 0);
    EXPECT_EQ(std::string(console_port.buffer(), std::size_t(console_port.length())), layout_datagram(sample()));
    EXPECT_EQ(posted->body, layout_datagram(sample()));
    EXPECT_EQ(client.Get("/KAVRO/layout")->body, layout_form(sample())); // the page reopens on what was sent

    auto picture = client.Post("/KAVRO/picture", "3 0 200 50 100", "text/plain");
    ASSERT_TRUE(picture);
    ASSERT_GT(console_port.receive(2, 0), 0);
    EXPECT_EQ(std::string(console_port.buffer(), std::size_t(console_port.length())), "3 3 0 200 50 100");

    // Refused forms send nothing.
    EXPECT_EQ(client.Post("/KAVRO/layout", "1 2 3", "text/plain")->status, 400);
    EXPECT_EQ(client.Post("/KAVRO/picture", "9 1 1 1 1", "text/plain")->status, 400);
    EXPECT_EQ(console_port.receive(0, 200000), 0);
    server.stop();
}

} // namespace
} // namespace kavro::editor
