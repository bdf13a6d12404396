// The per-index table, the status datagram reader and the overlay drawing, without sockets or graphs.
#include "outside/capteur/channels.h"
#include "outside/capteur/overlay.h"
#include "tests/support/decimal_comma_locale.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <vector>

using namespace capteur;
using namespace std::chrono_literals;
using kavro::robot::RobotStatus;

namespace {

kavro::SensorChannelRecord record_for(std::uint32_t port, Address a) {
    kavro::SensorChannelRecord r{};
    r.status_port = port;
    std::memcpy(r.status_address, a.data(), 4);
    return r;
}

RobotStatus robot(int battery, int w1, int w2, int signal, double lat, double lon, Address node) {
    RobotStatus s;
    s.battery = battery;
    s.wheel1 = w1;
    s.wheel2 = w2;
    s.signal = signal;
    s.latitude = lat;
    s.longitude = lon;
    s.node = node;
    return s;
}

TEST(ChannelTable, StatusGoesToTheIndexesThatNameItsSourceAndPortOnly) {
    ChannelTable t(2s);
    const auto now = Clock::now();
    ASSERT_TRUE(t.set_config(1, record_for(15010, {127, 0, 0, 11})));
    ASSERT_TRUE(t.set_config(2, record_for(15010, {127, 0, 0, 12})));
    ASSERT_TRUE(t.set_config(5, record_for(15020, {127, 0, 0, 20})));

    // Same port, told apart by source address.
    EXPECT_EQ(t.apply(15010, {127, 0, 0, 11}, robot(87, 127, 100, 92, 48.5, 11.25, {10, 0, 0, 11}), now), 1);
    EXPECT_EQ(t.apply(15010, {127, 0, 0, 12}, robot(40, 20, 30, 50, 1000.0, 1000.0, {10, 0, 0, 12}), now), 1);
    // A stranger, or a known robot on another index's port, changes nothing.
    EXPECT_EQ(t.apply(15010, {127, 0, 0, 13}, robot(1, 1, 1, 1, 1.0, 1.0, {}), now), 0);
    EXPECT_EQ(t.apply(15020, {127, 0, 0, 11}, robot(1, 1, 1, 1, 1.0, 1.0, {}), now), 0);

    Status s;
    ASSERT_TRUE(t.status(1, now, s));
    EXPECT_EQ(s.battery, 87);
    EXPECT_EQ(s.wheel1, 127);
    EXPECT_EQ(s.wheel2, 100);
    EXPECT_EQ(s.signal, 92);
    float lat = -1, lon = -1;
    ASSERT_TRUE(t.position(1, lat, lon));
    EXPECT_FLOAT_EQ(lat, 48.5f);
    EXPECT_FLOAT_EQ(lon, 11.25f);
    // 1000.0 is the robot's "no fix": callers read 0.0 as none.
    ASSERT_TRUE(t.position(2, lat, lon));
    EXPECT_EQ(lat, 0.0f);
    EXPECT_EQ(lon, 0.0f);
    ASSERT_TRUE(t.status(2, now, s));
    EXPECT_EQ(s.battery, 40);
    // Nothing heard yet: zeros.
    ASSERT_TRUE(t.status(5, now, s));
    EXPECT_EQ(s.battery, 0);
    EXPECT_EQ(s.signal, 0);

    // The robot's node address shows in bytes 52..55 of its record.
    kavro::ConsoleSensorChannelRecord r{};
    ASSERT_TRUE(t.get_config(1, r));
    EXPECT_EQ(r.node_address[0], 10);
    EXPECT_EQ(r.node_address[3], 11);
    EXPECT_EQ(r.settings.status_port, 15010u);

    EXPECT_FALSE(t.status(0, now, s));
    EXPECT_FALSE(t.status(6, now, s));
    EXPECT_FALSE(t.set_config(0, record_for(1, {1, 1, 1, 1})));
    EXPECT_FALSE(t.get_config(6, r));
}

TEST(ChannelTable, SilenceZeroesTheSignalOnlyAndANewAddressForgetsTheOldRobot) {
    ChannelTable t(2s);
    const auto t0 = Clock::now();
    t.set_config(3, record_for(16000, {127, 0, 0, 13}));
    t.apply(16000, {127, 0, 0, 13}, robot(70, 80, 90, 60, 10.0, 20.0, {10, 0, 0, 13}), t0);
    Status s;
    t.status(3, t0 + 1999ms, s);
    EXPECT_EQ(s.signal, 60);
    t.status(3, t0 + 2s, s);
    EXPECT_EQ(s.signal, 0);
    EXPECT_EQ(s.battery, 70);
    EXPECT_EQ(s.wheel1, 80);
    EXPECT_EQ(s.wheel2, 90);
    auto v = t.views(t0 + 3s);
    EXPECT_TRUE(v[3].silent);
    EXPECT_EQ(v[3].status.signal, 0);
    // Speaking again brings the signal back.
    t.apply(16000, {127, 0, 0, 13}, robot(69, 64, 64, 55, 10.0, 20.0, {10, 0, 0, 13}), t0 + 3s);
    t.status(3, t0 + 3s, s);
    EXPECT_EQ(s.signal, 55);

    // Same address, other port: values kept.
    const unsigned g = t.generation();
    t.set_config(3, record_for(16001, {127, 0, 0, 13}));
    EXPECT_NE(t.generation(), g);
    t.status(3, t0 + 3s, s);
    EXPECT_EQ(s.battery, 69);
    // Settings only: no new generation (the listener has nothing to do).
    auto same = record_for(16001, {127, 0, 0, 13});
    same.setting1_a = 5;
    const unsigned g2 = t.generation();
    t.set_config(3, same);
    EXPECT_EQ(t.generation(), g2);
    // Another robot at this index: nothing of the previous one.
    t.set_config(3, record_for(16001, {127, 0, 0, 14}));
    t.status(3, t0 + 3s, s);
    EXPECT_EQ(s.battery, 0);
    float lat = 1, lon = 1;
    t.position(3, lat, lon);
    EXPECT_EQ(lat, 0.0f);
    kavro::ConsoleSensorChannelRecord r{};
    t.get_config(3, r);
    EXPECT_EQ(r.node_address[0], 0);
}

TEST(ChannelTable, ListensOnlyWhereARecordHasAnAddressAndAUsablePort) {
    ChannelTable t;
    t.set_config(1, record_for(15010, {127, 0, 0, 11}));
    t.set_config(2, record_for(0, {127, 0, 0, 12}));      // no port
    t.set_config(3, record_for(15011, {0, 0, 0, 0}));     // no address
    t.set_config(4, record_for(70000, {127, 0, 0, 14}));  // not a UDP port
    t.set_config(5, record_for(15010, {127, 0, 0, 20}));
    const auto e = t.listen_entries();
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].index, 1);
    EXPECT_EQ(e[1].index, 5);
    EXPECT_EQ(e[1].port, 15010);
    EXPECT_EQ(e[1].source, (Address{127, 0, 0, 20}));
}

TEST(ChannelTable, WaypointsValuesAddressesAndReference) {
    ChannelTable t;
    EXPECT_TRUE(t.set_waypoint(2, 1, 1.5f, 2.5f));
    EXPECT_TRUE(t.set_waypoint(2, 4, -7.0f, 8.0f));
    EXPECT_FALSE(t.set_waypoint(2, 0, 0, 0));
    EXPECT_FALSE(t.set_waypoint(2, 5, 0, 0));
    EXPECT_FALSE(t.set_waypoint(6, 1, 0, 0));
    float x = 0, y = 0;
    ASSERT_TRUE(t.waypoint(2, 4, x, y));
    EXPECT_EQ(x, -7.0f);
    EXPECT_EQ(y, 8.0f);
    ASSERT_TRUE(t.waypoint(2, 1, x, y));
    EXPECT_EQ(x, 1.5f);
    ASSERT_TRUE(t.waypoint(3, 1, x, y));
    EXPECT_EQ(x, 0.0f);
    EXPECT_TRUE(t.set_value(4, 42));
    int v = 0;
    ASSERT_TRUE(t.value(4, v));
    EXPECT_EQ(v, 42);

    // An address goes to the index named last in GetConfig/SetConfig, as the status poll calls them.
    kavro::ConsoleSensorChannelRecord r{};
    t.get_config(3, r);
    t.set_address({192, 168, 1, 3});
    t.set_config(4, record_for(15010, {127, 0, 0, 14}));
    t.set_address({192, 168, 1, 4});
    Address a{};
    t.address(3, a);
    EXPECT_EQ(a, (Address{192, 168, 1, 3}));
    t.address(4, a);
    EXPECT_EQ(a, (Address{192, 168, 1, 4}));

    EXPECT_EQ(t.reference(), (Address{127, 0, 0, 1}));
    t.set_reference({127, 0, 0, 14});
    EXPECT_EQ(t.reference(), (Address{127, 0, 0, 14}));
    const auto views = t.views(Clock::now());
    EXPECT_TRUE(views[4].reference);
    EXPECT_FALSE(views[3].reference);
}

TEST(StatusDatagramReader, StrictFormAndLocaleIndependent) {
    RobotStatus s;
    const std::string good = "status 87 127 20 92 48.117302 -11.516666 10.0.0.11";
    ASSERT_TRUE(kavro::robot::parse_status_datagram(good.data(), good.size(), s));
    EXPECT_DOUBLE_EQ(s.latitude, 48.117302);
    EXPECT_DOUBLE_EQ(s.longitude, -11.516666);
    EXPECT_EQ(s.node, (std::array<std::uint8_t, 4>{10, 0, 0, 11}));

    for (const std::string bad : {"status 87 127 20 92 4.8e1 1.0 10.0.0.11", "status 87 127 20 92 0x1p3 1.0 10.0.0.11",
                                  "status 87 127 20 92 48 1.0 10.0.0.11", "status 87 127 20 92 48. 1.0 10.0.0.11",
                                  "status 87 127 20 92 .5 1.0 10.0.0.11", "status 87 127 20 92 +1.0 1.0 10.0.0.11",
                                  "status +87 127 20 92 1.0 1.0 10.0.0.11", "status 87 127 20 92 1.0 1.0 10.0.0.11 ",
                                  "status 87 127 20 92 1.0 1.0 10.0.0", "status 87 127 20 92 1001.0 1.0 10.0.0.1",
                                  "status 87 127 20 92 1,0 1.0 10.0.0.1", "status 0000000000087 1 1 1 1.0 1.0 1.1.1.1",
                                  "Status 87 127 20 92 1.0 1.0 10.0.0.1"}) {
        RobotStatus untouched = s;
        EXPECT_FALSE(kavro::robot::parse_status_datagram(bad.data(), bad.size(), untouched)) << bad;
        EXPECT_EQ(untouched.battery, 87);
    }
    // Read only within the given length: the text continues past it.
    const std::string longer = good + "9";
    ASSERT_TRUE(kavro::robot::parse_status_datagram(longer.data(), good.size(), s));
    EXPECT_EQ(s.node[3], 11);

    // A host program that switched to a locale with a decimal comma still reads and writes points.
    kavro::test::DecimalCommaLocale french;
    ASSERT_TRUE(french.ok()) << french.why();
    RobotStatus f;
    EXPECT_TRUE(kavro::robot::parse_status_datagram(good.data(), good.size(), f));
    EXPECT_DOUBLE_EQ(f.latitude, 48.117302);
    EXPECT_EQ(kavro::robot::format_status_datagram(f), good);
}

std::uint32_t at(const std::vector<std::uint32_t>& p, int x, int y) { return p[std::size_t(y) * kFrameWidth + std::size_t(x)]; }

TEST(Overlay, DrawsConfiguredIndexesOnBlackWithBarsAsLongAsTheirValues) {
    std::vector<std::uint32_t> pixels(std::size_t(kFrameWidth) * kFrameHeight, 0xDEADBEEF);
    std::array<ChannelView, kLastIndex + 1> views{};
    views[1].configured = views[1].heard = true;
    views[1].status = {50, 64 + 63, 64 + 63, 100};
    views[2].configured = true; // never heard: outlines only, empty bars
    draw_overlay(pixels.data(), kFrameWidth, views);

    // Everything not drawn is black, including the rows of the unconfigured indexes.
    EXPECT_EQ(at(pixels, kFrameWidth - 1, kFrameHeight - 1), 0u);
    EXPECT_EQ(at(pixels, 0, 0), 0u);
    const Rect r3 = bar_rect(3, Bar::Battery);
    for (int x = r3.left; x < r3.right; ++x) EXPECT_EQ(at(pixels, x, (r3.top + r3.bottom) / 2), 0u);

    const Rect bat = bar_rect(1, Bar::Battery);
    const int mid = (bat.top + bat.bottom) / 2;
    EXPECT_EQ(at(pixels, bat.left, mid), kFrame);
    EXPECT_EQ(at(pixels, bat.left + 1, mid), kGreen);
    EXPECT_EQ(at(pixels, bat.left + 50, mid), kGreen);
    EXPECT_EQ(at(pixels, bat.left + 51, mid), 0u); // half of 100
    const Rect spd = bar_rect(1, Bar::Speed);
    EXPECT_EQ(at(pixels, spd.left + kBarLength, (spd.top + spd.bottom) / 2), kCyan); // full speed
    const Rect sig = bar_rect(1, Bar::Signal);
    EXPECT_EQ(at(pixels, sig.left + kBarLength, (sig.top + sig.bottom) / 2), kYellow);

    const Rect empty = bar_rect(2, Bar::Battery);
    EXPECT_EQ(at(pixels, empty.left, (empty.top + empty.bottom) / 2), kFrame);
    EXPECT_EQ(at(pixels, empty.left + 1, (empty.top + empty.bottom) / 2), 0u);

    // Bars never overlap each other or leave the picture.
    for (int i = kFirstIndex; i <= kLastIndex; ++i)
        for (Bar b : {Bar::Battery, Bar::Speed, Bar::Signal}) {
            const Rect r = bar_rect(i, b);
            EXPECT_GE(r.left, 0);
            EXPECT_LE(r.right + 8 + 4 * 6, kFrameWidth);
            EXPECT_LE(r.bottom, kFrameHeight);
            if (b != Bar::Signal) {
                EXPECT_LT(r.right, bar_rect(i, Bar(int(b) + 1)).left);
            }
            if (i < kLastIndex) {
                EXPECT_LT(r.bottom, bar_rect(i + 1, b).top);
            }
        }
}

TEST(Overlay, SpeedOfWheelBytesAndTextStaysInsideThePicture) {
    EXPECT_EQ(speed_magnitude(64 + 20, 64 + 30), 25);
    EXPECT_EQ(speed_magnitude(20, 30), 25);
    EXPECT_EQ(speed_magnitude(64 + 20, 20), 0);
    EXPECT_EQ(speed_magnitude(127, 127), 63);
    std::vector<std::uint32_t> pixels(std::size_t(kFrameWidth) * kFrameHeight, 0);
    // Text running past the right and bottom edges is clipped, never written outside the buffer.
    const int end = draw_text(pixels.data(), kFrameWidth, kFrameWidth - 10, kFrameHeight - 5, "888", kWhite, 3);
    EXPECT_EQ(end, kFrameWidth - 10 + 3 * 18);
    EXPECT_EQ(at(pixels, kFrameWidth - 10 + 3, kFrameHeight - 5), kWhite); // first dot of an 8's top row
    EXPECT_EQ(at(pixels, kFrameWidth - 10, kFrameHeight - 5), 0u);
    draw_text(pixels.data(), kFrameWidth, -20, -20, "8", kWhite, 8);
}

} // namespace

TEST(ChannelTable, AStationGivingNoPortAndNoAddressTakesTheStationCopyOfEachIndexFromAnyAddress) {
    ChannelTable t;
    t.set_config(1, record_for(0, {0, 0, 0, 0}));
    EXPECT_TRUE(t.listen_entries().empty()); // a cleared record listens nowhere, outside a station
    t.set_station_copies(true);
    for (int i = 1; i <= 5; ++i) t.set_config(i, record_for(0, {0, 0, 0, 0}));
    t.set_config(5, record_for(15010, {127, 0, 0, 20})); // an index given its own port keeps it
    const auto e = t.listen_entries();
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[1].index, 2);
    EXPECT_EQ(e[1].port, 15012);
    EXPECT_EQ(e[4].port, 15010);
    const auto now = Clock::now();
    EXPECT_EQ(t.apply(15012, {10, 0, 0, 7}, robot(55, 127, 127, 80, 1000, 1000, {10, 0, 0, 7}), now), 1);
    EXPECT_EQ(t.apply(15012, {10, 0, 0, 8}, robot(56, 127, 127, 80, 1000, 1000, {10, 0, 0, 8}), now), 1);
    EXPECT_EQ(t.apply(15015, {127, 0, 0, 20}, robot(1, 64, 64, 1, 1000, 1000, {}), now), 0); // 5 has its own port
    EXPECT_EQ(t.views(now)[2].status.battery, 56);
    EXPECT_TRUE(t.views(now)[2].configured); // drawn in the overlay
    EXPECT_EQ(t.views(now)[1].status.battery, 0);
}
