// NMEA reading, the GPS thread on fake ports and on a pseudo terminal.
#include "console/link/gps.h"
#include "platform/devices/fake_devices.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

using namespace kavro::console;
using namespace kavro::devices;
using namespace std::chrono_literals;

namespace {

const std::string kMunich = "$GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

GgaReading parse(const std::string& s) { return parse_gga_block(s.data(), s.size()); }

std::string printed(float v) {
    char b[32];
    std::snprintf(b, sizeof b, "%f", static_cast<double>(v));
    return b;
}

template <class Pred> bool eventually(Pred pred, std::chrono::milliseconds limit = 3000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return pred();
}

} // namespace

TEST(Nmea, GgaAtFixedOffsets) {
    GgaReading r = parse(kMunich);
    ASSERT_TRUE(r.has_latitude);
    ASSERT_TRUE(r.has_longitude);
    EXPECT_EQ(printed(r.latitude), "48.117302");
    EXPECT_EQ(printed(r.longitude), "11.516666");

    std::string south_west = kMunich;
    south_west[28] = 'S';
    south_west[41] = 'W';
    r = parse(south_west);
    EXPECT_EQ(printed(r.latitude), "-48.117302");
    EXPECT_EQ(printed(r.longitude), "-11.516666");
}

TEST(Nmea, WhatIsNotRead) {
    // Whole degrees 0: nothing changes.
    std::string equator = kMunich;
    equator.replace(18, 9, "0012.0000");
    EXPECT_FALSE(parse(equator).has_latitude);
    EXPECT_FALSE(parse(equator).has_longitude);
    // Longitude below one degree: the latitude still counts.
    std::string greenwich = kMunich;
    greenwich.replace(30, 10, "00031.0000");
    GgaReading r = parse(greenwich);
    EXPECT_TRUE(r.has_latitude);
    EXPECT_FALSE(r.has_longitude);
    // Too short, not a number, another sentence first, or nothing at all.
    EXPECT_FALSE(parse("$GPGGA,123519.000,4807.0380,N,01131.00").has_latitude);
    EXPECT_FALSE(parse("$GPGGA,123519.000,abcd.efgh,N,01131.0000,E,1,08").has_latitude);
    EXPECT_FALSE(parse("").has_latitude);
    EXPECT_FALSE(parse("$GPGGA").has_latitude);
    // A short first $GPGGA line drops the whole block even when a good one follows.
    EXPECT_FALSE(parse("$GPGGA,1\n" + kMunich).has_latitude);
}

TEST(Nmea, PositionsOffTheGlobeOrNotFiniteAreRefused) {
    // A latitude past 90 degrees (or one that does not convert to a finite number) refuses the sentence.
    for (const char* latitude : {"9130.0000,", "4807e99999", "-9130.000,"}) {
        std::string bad = kMunich;
        bad.replace(18, 10, latitude);
        const GgaReading r = parse(bad);
        EXPECT_FALSE(r.has_latitude) << latitude << " read as " << r.latitude;
        EXPECT_FALSE(r.has_longitude) << latitude;
    }
    // A longitude past 180 degrees is refused; the latitude still counts.
    for (const char* longitude : {"18130.0000", "-18130.000", "01131e9999"}) {
        std::string bad = kMunich;
        bad.replace(30, 10, longitude);
        const GgaReading r = parse(bad);
        EXPECT_TRUE(r.has_latitude) << longitude;
        EXPECT_FALSE(r.has_longitude) << longitude << " read as " << r.longitude;
    }
    // The edges of the globe are positions.
    std::string pole = kMunich;
    pole.replace(18, 10, "9000.0000,");
    pole.replace(30, 10, "18000.0000");
    const GgaReading r = parse(pole);
    EXPECT_TRUE(r.has_latitude && r.has_longitude);
    EXPECT_EQ(printed(r.latitude), "90.000000");
    EXPECT_EQ(printed(r.longitude), "180.000000");
}

TEST(Nmea, FirstGgaLineOfTheBlockWins) {
    std::string second = kMunich;
    second.replace(18, 9, "5130.0000");
    std::string block = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n" + second + kMunich;
    GgaReading r = parse(block);
    ASSERT_TRUE(r.has_latitude);
    EXPECT_EQ(printed(r.latitude), "51.500000");
    // A sentence cut at the end of a block is still read when its fields are all there.
    EXPECT_TRUE(parse(kMunich.substr(0, 45)).has_longitude);
}

TEST(GpsThread, ReadsRowZeroAndFollowsPortChanges) {
    fake::FakeSerialPorts ports;
    auto com1 = ports.add("COM1");
    auto com2 = ports.add("COM2");
    RobotTable table;
    std::atomic<bool> quit{false}, changed{false};
    std::mutex name_lock;
    std::string name = "COM9"; // not there: retried every 100 ms
    GpsTiming timing;
    timing.retry = 10ms;
    std::thread t([&] {
        gps_thread(ports, [&] { std::lock_guard<std::mutex> l(name_lock); return name; }, changed, table, quit,
                   timing);
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FLOAT_EQ(table.robot(0).latitude, 1000.0f);
    {
        std::lock_guard<std::mutex> l(name_lock);
        name = "COM1";
    }
    {
        std::lock_guard<std::mutex> l(com1->lock);
        com1->chunks.push_back(kMunich);
    }
    ASSERT_TRUE(eventually([&] { return table.robot(0).latitude < 100.0f; }));
    EXPECT_EQ(printed(table.robot(0).longitude), "11.516666");
    {
        std::lock_guard<std::mutex> l(com1->lock);
        EXPECT_EQ(com1->settings.baud, 4800u);
        EXPECT_EQ(com1->settings.total_timeout_ms, 5000);
    }

    // The operator picks COM2: the port is closed and the new one opened.
    {
        std::lock_guard<std::mutex> l(name_lock);
        name = "COM2";
    }
    changed = true;
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> l(com2->lock);
        return !changed && com2->opens == 1;
    }));
    {
        std::lock_guard<std::mutex> l(com1->lock);
        EXPECT_EQ(com1->closes, 1);
    }
    std::string south = kMunich;
    south[28] = 'S';
    {
        std::lock_guard<std::mutex> l(com2->lock);
        com2->chunks.push_back(south);
    }
    ASSERT_TRUE(eventually([&] { return table.robot(0).latitude < 0.0f; }));

    // A port whose reads fail is reopened after a pause, not hammered.
    {
        std::lock_guard<std::mutex> l(com2->lock);
        com2->read_fails = true;
    }
    std::this_thread::sleep_for(100ms);
    {
        std::lock_guard<std::mutex> l(com2->lock);
        EXPECT_GE(com2->opens, 2);
        EXPECT_LE(com2->opens, 15);
    }
    quit = true;
    t.join();
}

TEST(GpsThread, PseudoTerminalEndToEnd) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    TermiosSerialPorts ports({{"COM1", ptsname(master)}});
    RobotTable table;
    std::atomic<bool> quit{false}, changed{false};
    GpsTiming timing;
    timing.serial.interval_timeout_ms = 50;
    timing.serial.total_timeout_ms = 200;
    std::thread t([&] { gps_thread(ports, [] { return std::string("COM1"); }, changed, table, quit, timing); });
    // Keep sending until the reader has the port open and takes a sentence.
    ASSERT_TRUE(eventually([&] {
        if (::write(master, kMunich.data(), kMunich.size()) < 0) return false;
        std::this_thread::sleep_for(60ms);
        return table.robot(0).latitude < 100.0f;
    }));
    EXPECT_EQ(printed(table.robot(0).latitude), "48.117302");
    quit = true;
    t.join();
    ::close(master);
}
