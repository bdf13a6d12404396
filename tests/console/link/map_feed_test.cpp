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

// A page that goes away (a browser tab closed or reloaded) frees the feed at once, not after the pause: the
// reloaded page is served long before the pause of the one it replaced ends.
TEST(MapFeedServer, AClientThatLeavesDuringThePauseFreesTheFeedAtOnce) {
    MapFeedState state;
    RobotTable table;
    FakeWindow window;
    std::atomic<bool> quit{false};
    std::promise<std::uint16_t> bound;
    MapFeedConfig config;
    config.port = 0;
    config.bind_address = "127.0.0.1";
    config.pace = 6000ms;
    config.quit_check = 20ms;
    config.on_listening = [&](std::uint16_t p) { bound.set_value(p); };
    std::thread server([&] { map_feed_thread(state, table, window, quit, config); });
    const std::uint16_t port = bound.get_future().get();

    const int gone = connect_to(port);
    ASSERT_GE(gone, 0);
    ASSERT_EQ(::send(gone, kRequest.data(), kRequest.size(), 0), static_cast<ssize_t>(kRequest.size()));
    ASSERT_FALSE(read_for(gone, 3000ms).empty());
    // Its next request is sent, then it leaves without waiting for the answer.
    ::send(gone, kRequest.data(), kRequest.size(), 0);
    ::close(gone);
    const int next = connect_to(port);
    ASSERT_GE(next, 0);
    ASSERT_EQ(::send(next, kRequest.data(), kRequest.size(), 0), static_cast<ssize_t>(kRequest.size()));
    EXPECT_FALSE(read_for(next, 3000ms).empty()) << "the next client still waits for the pause of the one that left";
    quit = true;
    server.join();
    ::close(next);
}

namespace {

// A client's masked frame.
std::string masked_frame(std::uint8_t opcode, const std::string& payload, bool fin = true) {
    std::string f;
    f += static_cast<char>((fin ? 0x80 : 0) | opcode);
    const std::uint8_t mask[4] = {0x12, 0x34, 0x56, 0x78};
    if (payload.size() < 126) {
        f += static_cast<char>(0x80 | payload.size());
    } else {
        f += static_cast<char>(0x80 | 126);
        f += static_cast<char>(payload.size() >> 8);
        f += static_cast<char>(payload.size() & 0xFF);
    }
    f.append(reinterpret_cast<const char*>(mask), 4);
    for (std::size_t i = 0; i < payload.size(); ++i) f += static_cast<char>(payload[i] ^ mask[i % 4]);
    return f;
}

// Reads one unmasked server frame from `bytes` (all of it must be there): opcode and payload.
bool server_frame(const std::string& bytes, int& opcode, std::string& payload) {
    if (bytes.size() < 2 || (bytes[1] & 0x80)) return false;
    opcode = bytes[0] & 0x0F;
    std::size_t n = static_cast<unsigned char>(bytes[1]) & 0x7F, at = 2;
    if (n == 126) {
        n = static_cast<std::size_t>(static_cast<unsigned char>(bytes[2]) << 8 | static_cast<unsigned char>(bytes[3]));
        at = 4;
    }
    if (bytes.size() < at + n) return false;
    payload = bytes.substr(at, n);
    return true;
}

std::string read_some(int fd, std::chrono::milliseconds wait) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return {};
    char b[8192];
    const ssize_t n = ::recv(fd, b, sizeof b, 0);
    return n > 0 ? std::string(b, static_cast<std::size_t>(n)) : std::string();
}

} // namespace

TEST(MapFeedServer, WebPagesGetTheSameAnswersOverAWebSocketOnTheSamePort) {
    MapFeedState state;
    RobotTable table;
    FakeWindow window;
    std::atomic<bool> quit{false};
    std::promise<std::uint16_t> bound;
    MapFeedConfig config;
    config.port = 0;
    config.bind_address = "127.0.0.1";
    config.pace = 50ms;
    config.quit_check = 10ms;
    config.on_listening = [&](std::uint16_t p) { bound.set_value(p); };
    std::thread server([&] { map_feed_thread(state, table, window, quit, config); });
    const std::uint16_t port = bound.get_future().get();

    // A plain HTTP request is refused; the next client is served.
    int plain = connect_to(port);
    const std::string get = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    ::send(plain, get.data(), get.size(), 0);
    bool closed = false;
    EXPECT_EQ(read_for(plain, 2000ms, &closed).rfind("HTTP/1.1 426", 0), 0u);
    ::close(plain);

    int fd = connect_to(port);
    ASSERT_GE(fd, 0);
    // The opening request arrives in two pieces; the key is the one of the protocol's own example.
    const std::string head = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"
                             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    ::send(fd, head.data(), 20, 0);
    std::this_thread::sleep_for(20ms);
    ::send(fd, head.data() + 20, head.size() - 20, 0);
    const std::string accept = read_some(fd, 2000ms);
    EXPECT_EQ(accept.rfind("HTTP/1.1 101 ", 0), 0u);
    EXPECT_NE(accept.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"), std::string::npos);

    table.robot(3).latitude = 48.5f;
    table.robot(3).longitude = 11.25f;
    state.snapshot = 3;
    // A request split into two fragments with a ping between them.
    const std::string frames = masked_frame(0x1, kRequest.substr(0, 30), false) + masked_frame(0x9, "hi") +
                               masked_frame(0x0, kRequest.substr(30));
    ::send(fd, frames.data(), frames.size(), 0);
    std::string got;
    for (int i = 0; i < 10 && got.find('\x81') == std::string::npos; ++i) got += read_some(fd, 1000ms);
    int opcode = 0;
    std::string payload;
    ASSERT_TRUE(server_frame(got, opcode, payload));
    EXPECT_EQ(opcode, 0xA); // the pong first
    EXPECT_EQ(payload, "hi");
    ASSERT_TRUE(server_frame(got.substr(4), opcode, payload));
    EXPECT_EQ(opcode, 0x1);
    // The raw answer without its zero byte.
    EXPECT_EQ(payload.find('\0'), std::string::npos);
    EXPECT_EQ(payload.rfind("1 1 0 1000.000000 1000.000000 1 2 0 1000.000000 1000.000000 1 0 0 48.500000 11.250000 ", 0), 0u);
    EXPECT_EQ(payload.substr(payload.size() - 4), " 3 3");
    EXPECT_EQ((window.sensor.waypoints[{4, 1}].first), 48.1f);

    // An unmasked frame breaks the protocol: the server closes.
    const std::string bad = "\x81\x02hi";
    ::send(fd, bad.data(), bad.size(), 0);
    closed = false;
    read_for(fd, 2000ms, &closed);
    EXPECT_TRUE(closed);
    ::close(fd);
    quit = true;
    server.join();
}
