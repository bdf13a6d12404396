// The map feed: request parsing, the answer, and the server with one client at a time.
#include "console/link/gps.h"
#include "console/link/map_feed.h"
#include "tests/support/decimal_comma_locale.h"
#include "tests/support/sensor_stub.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <map>
#include <thread>

using namespace kavro::console;
using namespace std::chrono_literals;

namespace {

const std::string kRequest =
    "map 1.5 2.5 3.5 4.5 5.5 6.5 7.5 8.5 11 "
    "-1 -2 -3 -4 -5 -6 -7 -8 22 "
    "0.25 0.5 0.75 1 1.25 1.5 1.75 2 33 "
    "48.1 11.5 48.2 11.6 48.3 11.7 48.4 11.8 -44\n";

struct FakeCapteur : kavro::test::SensorStub {
    HRESULT SetWaypoint(int* robot, int waypoint, float* x, float* y) override {
        if (fail_waypoint == waypoint) return E_FAIL;
        waypoints[{*robot, waypoint}] = {*x, *y};
        return S_OK;
    }
    HRESULT SetRobotValue(int* robot, int* value) override {
        values[*robot] = *value;
        return S_OK;
    }
    std::map<std::pair<int, int>, std::pair<float, float>> waypoints;
    std::map<int, int> values;
    int fail_waypoint = 0;
};

struct FakeWindow : MapFeedWindow {
    int camera_mode(int camera) const override { return camera == 2 ? 2 : camera == 3 ? 0 : 1; }
    bool virtual_base() const override { return virtual_ticked; }
    std::string reference_node_text() const override {
        std::lock_guard<std::mutex> l(lock);
        return node_text;
    }
    int view() const override { return current_view; }
    ICapteurControl* capteur() override { return present ? &sensor : nullptr; }
    void release_video_graph() override { present = false; }
    void error_trace(int location, HRESULT) override { trace = location; }

    FakeCapteur sensor;
    std::atomic<bool> present{true};
    std::atomic<bool> virtual_ticked{false};
    std::atomic<int> current_view{kMapView};
    std::atomic<int> trace{0};
    mutable std::mutex lock;
    std::string node_text = "Robot 3";
};

int connect_to(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Everything that arrives within `wait`, or until the peer closes.
std::string read_for(int fd, std::chrono::milliseconds wait, bool* closed = nullptr) {
    std::string out;
    auto end = std::chrono::steady_clock::now() + wait;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char b[4096];
        ssize_t n = ::recv(fd, b, sizeof b, 0);
        if (n <= 0) {
            if (closed) *closed = true;
            break;
        }
        out.append(b, static_cast<std::size_t>(n));
        if (!out.empty() && out.back() == '\0') break; // one whole answer
    }
    return out;
}

} // namespace

TEST(MapRequest, AllFieldsInOrder) {
    MapRequest r;
    EXPECT_EQ(parse_map_request(kRequest.data(), kRequest.size(), r), 36);
    EXPECT_FLOAT_EQ(r.waypoints[0][0], 1.5f);
    EXPECT_FLOAT_EQ(r.waypoints[0][7], 8.5f);
    EXPECT_EQ(r.values[0], 11);
    EXPECT_FLOAT_EQ(r.waypoints[1][3], -4.0f);
    EXPECT_EQ(r.values[1], 22);
    EXPECT_FLOAT_EQ(r.waypoints[2][0], 0.25f);
    EXPECT_FLOAT_EQ(r.waypoints[3][6], 48.4f);
    EXPECT_EQ(r.values[3], -44);
}

TEST(MapRequest, MalformedFieldsKeepTheirValues) {
    MapRequest r;
    ASSERT_EQ(parse_map_request(kRequest.data(), kRequest.size(), r), 36);
    // Reading stops at the first field that is not a number; everything after it is kept.
    const std::string bad = "map 9 9 x 9 9 9 9 9 9";
    EXPECT_EQ(parse_map_request(bad.data(), bad.size(), r), 2);
    EXPECT_FLOAT_EQ(r.waypoints[0][0], 9.0f);
    EXPECT_FLOAT_EQ(r.waypoints[0][1], 9.0f);
    EXPECT_FLOAT_EQ(r.waypoints[0][2], 3.5f);
    EXPECT_EQ(r.values[0], 11);
    // Not a map request, empty, or cut short inside the received length.
    EXPECT_EQ(parse_map_request("pam 1 2", 7, r), 0);
    EXPECT_EQ(parse_map_request("", 0, r), 0);
    EXPECT_EQ(parse_map_request("map 7 8", 5, r), 1) << "only the received bytes are read";
    EXPECT_FLOAT_EQ(r.waypoints[0][0], 7.0f);
    EXPECT_FLOAT_EQ(r.waypoints[0][1], 9.0f);
    // A huge integer is clamped, not undefined.
    const std::string huge = "map 1 1 1 1 1 1 1 1 99999999999999999999";
    EXPECT_EQ(parse_map_request(huge.data(), huge.size(), r), 9);
    EXPECT_EQ(r.values[0], 2147483647);
    // Bytes after a zero byte are not read.
    const std::string nul("map 5\0 6", 8);
    EXPECT_EQ(parse_map_request(nul.data(), nul.size(), r), 1);
}

TEST(MapRequest, NonFiniteWaypointsKeepTheirValues) {
    MapRequest r;
    ASSERT_EQ(parse_map_request(kRequest.data(), kRequest.size(), r), 36);
    const std::string odd = "map nan inf -inf 1e39 -nan(1) 0x1p200 7.25 8.25 12 NAN INFINITY";
    EXPECT_EQ(parse_map_request(odd.data(), odd.size(), r), 11);
    for (int k = 0; k < 6; ++k) EXPECT_FLOAT_EQ(r.waypoints[0][k], 1.5f + k) << k;
    EXPECT_FLOAT_EQ(r.waypoints[0][6], 7.25f);
    EXPECT_FLOAT_EQ(r.waypoints[0][7], 8.25f);
    EXPECT_EQ(r.values[0], 12);
    EXPECT_FLOAT_EQ(r.waypoints[1][0], -1.0f);
    EXPECT_FLOAT_EQ(r.waypoints[1][1], -2.0f);
}

TEST(MapAnswer, NothingKnownAndReferenceNodes) {
    const int modes[4] = {1, 2, 3, 0};
    const float none[4][2] = {{1000, 1000}, {1000, 1000}, {1000, 1000}, {1000, 1000}};
    std::string a = format_map_answer(modes, none, 1000, 1000, 0, 0);
    EXPECT_EQ(a, std::string("1 1 0 1000.000000 1000.000000 1 2 0 1000.000000 1000.000000 "
                             "1 3 0 1000.000000 1000.000000 1 0 0 1000.000000 1000.000000 "
                             "0 0 0 0 1000.000000 1000.000000 0 0") + '\0');
    EXPECT_EQ(reference_node_from_text("BASE", 0), 5);
    EXPECT_EQ(reference_node_from_text("Robot 1", 0), 1);
    EXPECT_EQ(reference_node_from_text("Robot 4", 2), 4);
    EXPECT_EQ(reference_node_from_text("Robot 5", 2), 2);
    EXPECT_EQ(reference_node_from_text("", 3), 3);
}

TEST(MapAnswer, RequestGoesToTheSensorAndPositionsComeBack) {
    MapFeedState state;
    RobotTable table;
    table.robot(1).latitude = 48.117302f;
    table.robot(1).longitude = 11.516666f;
    table.robot(0).latitude = 45.0f;
    table.robot(0).longitude = -1.5f;
    table.robot(5).latitude = 44.0f;
    table.robot(5).longitude = 2.0f;
    FakeWindow window;
    state.snapshot = 7;
    std::string answer;
    ASSERT_TRUE(answer_map_request(kRequest.data(), kRequest.size(), state, table, window, answer));
    EXPECT_EQ((window.sensor.waypoints[{2, 3}]), (std::pair<float, float>{-5.0f, -6.0f}));
    EXPECT_EQ((window.sensor.waypoints[{4, 4}]), (std::pair<float, float>{48.4f, 11.8f}));
    EXPECT_EQ(window.sensor.values[3], 33);
    EXPECT_EQ(answer, std::string("1 1 0 48.117302 11.516666 1 2 0 1000.000000 1000.000000 "
                                  "1 0 0 1000.000000 1000.000000 1 1 0 1000.000000 1000.000000 "
                                  "0 0 0 0 44.000000 2.000000 3 7") + '\0');
    // The snapshot number goes out once; the "Virtual" box takes the own receiver as the base.
    window.virtual_ticked = true;
    {
        std::lock_guard<std::mutex> l(window.lock);
        window.node_text = "something else";
    }
    ASSERT_TRUE(answer_map_request(kRequest.data(), kRequest.size(), state, table, window, answer));
    EXPECT_NE(answer.find("0 0 0 0 45.000000 -1.500000 3 0"), std::string::npos) << answer;
}

TEST(MapFeedServer, AnswersAtItsPaceAndDropsTheClientOutsideTheMapView) {
    MapFeedState state;
    RobotTable table;
    FakeWindow window;
    std::atomic<bool> quit{false};
    std::promise<std::uint16_t> bound;
    MapFeedConfig config;
    config.port = 0;
    config.bind_address = "127.0.0.1";
    config.pace = 200ms;
    config.quit_check = 20ms;
    config.on_listening = [&](std::uint16_t p) { bound.set_value(p); };
    std::thread server([&] { map_feed_thread(state, table, window, quit, config); });
    const std::uint16_t port = bound.get_future().get();

    int first = connect_to(port);
    ASSERT_GE(first, 0);
    int second = connect_to(port); // waits in the backlog
    ASSERT_GE(second, 0);
    ASSERT_EQ(::send(first, kRequest.data(), kRequest.size(), 0), static_cast<ssize_t>(kRequest.size()));
    std::string answer = read_for(first, 2000ms);
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer.back(), '\0');
    EXPECT_EQ(answer.rfind("1 1 0 1000.000000", 0), 0u);

    // The next request waits for the pace.
    auto sent = std::chrono::steady_clock::now();
    ::send(second, kRequest.data(), kRequest.size(), 0);
    ::send(first, kRequest.data(), kRequest.size(), 0);
    EXPECT_FALSE(read_for(first, 2000ms).empty());
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 150ms);
    EXPECT_TRUE(read_for(second, 50ms).empty()) << "one client at a time";

    // Leaving the map view: the request still gets its answer, then the client is dropped.
    std::this_thread::sleep_for(600ms); // the server is past its pause and waits for the next request
    window.current_view = 4;
    ::send(first, kRequest.data(), kRequest.size(), 0);
    bool closed = false;
    EXPECT_FALSE(read_for(first, 2000ms, &closed).empty());
    read_for(first, 2000ms, &closed);
    EXPECT_TRUE(closed);
    ::close(first);
    // Now the waiting client is served.
    EXPECT_FALSE(read_for(second, 2000ms).empty());

    quit = true;
    server.join();
    ::close(second);
}

TEST(MapFeedServer, FailingSensorCallEndsTheThread) {
    MapFeedState state;
    RobotTable table;
    FakeWindow window;
    window.sensor.fail_waypoint = 3;
    std::atomic<bool> quit{false};
    std::promise<std::uint16_t> bound;
    MapFeedConfig config;
    config.port = 0;
    config.bind_address = "127.0.0.1";
    config.quit_check = 20ms;
    config.on_listening = [&](std::uint16_t p) { bound.set_value(p); };
    std::thread server([&] { map_feed_thread(state, table, window, quit, config); });
    int fd = connect_to(bound.get_future().get());
    ASSERT_GE(fd, 0);
    ::send(fd, kRequest.data(), kRequest.size(), 0);
    server.join(); // ends by itself
    EXPECT_EQ(window.trace, kTraceWaypointFirst + 2);
    EXPECT_FALSE(window.present);
    bool closed = false;
    EXPECT_TRUE(read_for(fd, 1000ms, &closed).empty());
    EXPECT_TRUE(closed);
    ::close(fd);
}

TEST(MapFeedNumbers, PointNotCommaUnderADecimalCommaLocale) {
    kavro::test::DecimalCommaLocale french;
    ASSERT_TRUE(french.ok()) << french.why();

    // The GPS example sentence becomes the base position of the answer as 48.117302 11.516666.
    const std::string munich = "$GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
    const GgaReading gps = parse_gga_block(munich.data(), munich.size());
    ASSERT_TRUE(gps.has_latitude && gps.has_longitude);
    RobotTable table;
    table.robot(0).latitude = gps.latitude;
    table.robot(0).longitude = gps.longitude;
    MapFeedState state;
    FakeWindow window;
    window.virtual_ticked = true;
    std::string answer;
    ASSERT_TRUE(answer_map_request(kRequest.data(), kRequest.size(), state, table, window, answer));
    EXPECT_EQ(answer, std::string("1 1 0 1000.000000 1000.000000 1 2 0 1000.000000 1000.000000 "
                                  "1 0 0 1000.000000 1000.000000 1 1 0 1000.000000 1000.000000 "
                                  "0 0 0 0 48.117302 11.516666 3 0") + '\0');
    // Every field of the request was read, fractions included.
    EXPECT_EQ(parse_map_request(kRequest.data(), kRequest.size(), state.request), 36);
    EXPECT_EQ((window.sensor.waypoints[{1, 1}]), std::make_pair(1.5f, 2.5f));
    EXPECT_EQ((window.sensor.waypoints[{4, 4}]), std::make_pair(48.4f, 11.8f));
    EXPECT_EQ(window.sensor.values[4], -44);
}

TEST(MapFeedServer, ASilentClientIsClosedSoTheNextOneIsServed) {
    MapFeedState state;
    RobotTable table;
    FakeWindow window;
    std::atomic<bool> quit{false};
    std::promise<std::uint16_t> bound;
    MapFeedConfig config;
    config.port = 0;
    config.bind_address = "127.0.0.1";
    config.pace = 50ms;
    config.quit_check = 20ms;
    config.idle_limit = 400ms;
    config.on_listening = [&](std::uint16_t p) { bound.set_value(p); };
    std::thread server([&] { map_feed_thread(state, table, window, quit, config); });
    const std::uint16_t port = bound.get_future().get();

    const int silent = connect_to(port);
    ASSERT_GE(silent, 0);
    std::this_thread::sleep_for(100ms); // accepted first
    const int page = connect_to(port);
    ASSERT_GE(page, 0);
    ASSERT_EQ(::send(page, kRequest.data(), kRequest.size(), 0), static_cast<ssize_t>(kRequest.size()));
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_FALSE(read_for(page, 5000ms).empty()) << "the page is served once the silent client is dropped";
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 250ms);
    bool closed = false;
    read_for(silent, 1000ms, &closed);
    EXPECT_TRUE(closed);

    // A client that sent its request and then keeps quiet is closed the same way.
    closed = false;
    read_for(page, 3000ms, &closed);
    EXPECT_TRUE(closed);
    quit = true;
    server.join();
    ::close(silent);
    ::close(page);
}
