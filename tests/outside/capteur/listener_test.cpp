// Status datagrams from real UDP sockets on loopback reaching GetStatus and GetPosition through the filter.
#include "tests/outside/capteur/capteur_test_support.h"

using namespace capteur;
using namespace capteur::test;

namespace {

CapteurOptions fast_options() {
    CapteurOptions o;
    o.silence = 300ms;
    o.listener.bind_address = {127, 0, 0, 1};
    o.listener.retry_period = 100ms;
    return o;
}

struct Read {
    HRESULT hr;
    std::int32_t battery, wheel1, wheel2, signal;
    float latitude, longitude;
};

Read read(ICapteurControl* c, int index) {
    Read r{};
    int i = index;
    r.hr = c->GetStatus(&i, &r.battery, &r.wheel1, &r.wheel2, &r.signal);
    if (SUCCEEDED(r.hr)) r.hr = c->GetPosition(&i, &r.latitude, &r.longitude);
    return r;
}

TEST(StatusListener, DatagramsOfTheNamedRobotsArriveOthersAreRefused) {
    Filter f(fast_options());
    ICapteurControl* c = f.control.get();
    const std::uint16_t port = free_udp_port();
    ASSERT_NE(port, 0);
    Sender r1("127.0.0.11"), r2("127.0.0.12"), stranger("127.0.0.13"), base("127.0.0.20");
    ASSERT_TRUE(r1.ok() && r2.ok() && stranger.ok() && base.ok());

    // Robots 1 and 2 and the base share one status port, as the console's "O" ports may.
    auto rec1 = status_record(port, {127, 0, 0, 11});
    auto rec2 = status_record(port, {127, 0, 0, 12});
    auto rec5 = status_record(port, {127, 0, 0, 20});
    ASSERT_EQ(c->SetConfig(1, &rec1), S_OK);
    ASSERT_EQ(c->SetConfig(2, &rec2), S_OK);
    ASSERT_EQ(c->SetConfig(5, &rec5), S_OK);
    ASSERT_TRUE(eventually([&] { return f.capteur->Listener().bound_ports() == 1; }));

    ASSERT_TRUE(r1.send(port, "status 87 127 100 92 48.117302 11.516666 10.0.0.11"));
    ASSERT_TRUE(r2.send(port, "status 33 20 30 41 1000.000000 1000.000000 10.0.0.12"));
    ASSERT_TRUE(base.send(port, "status 99 64 64 77 48.200000 11.600000 10.0.0.20"));
    ASSERT_TRUE(eventually([&] { return f.capteur->Listener().taken() == 3; }));

    Read a = read(c, 1);
    EXPECT_EQ(a.hr, S_OK);
    EXPECT_EQ(a.battery, 87);
    EXPECT_EQ(a.wheel1, 127);
    EXPECT_EQ(a.wheel2, 100);
    EXPECT_EQ(a.signal, 92);
    EXPECT_FLOAT_EQ(a.latitude, 48.117302f);
    EXPECT_FLOAT_EQ(a.longitude, 11.516666f);
    Read b = read(c, 2);
    EXPECT_EQ(b.battery, 33);
    EXPECT_EQ(b.latitude, 0.0f); // no fix
    EXPECT_EQ(b.longitude, 0.0f);
    Read s = read(c, 5);
    EXPECT_EQ(s.battery, 99);
    EXPECT_EQ(s.signal, 77);
    kavro::ConsoleSensorChannelRecord rec{};
    ASSERT_EQ(c->GetConfig(2, &rec), S_OK);
    EXPECT_EQ(rec.node_address[3], 12);

    // A stranger, malformed text and an oversized datagram change nothing.
    ASSERT_TRUE(stranger.send(port, "status 1 1 1 1 1.000000 1.000000 10.0.0.13"));
    ASSERT_TRUE(r1.send(port, "status 5 5 5 5 1.0 1.0"));
    ASSERT_TRUE(r1.send(port, "status 5 5 5 5 1.0 1.0 10.0.0.11" + std::string(200, ' ')));
    ASSERT_TRUE(r1.send(port, std::string("status 5 5 5 5 1.0 1.0 10.0.0.11\0", 33)));
    ASSERT_TRUE(eventually([&] { return f.capteur->Listener().refused() == 4; }));
    a = read(c, 1);
    EXPECT_EQ(a.battery, 87);
    EXPECT_EQ(a.signal, 92);
    EXPECT_EQ(f.capteur->Listener().taken(), 3);
    EXPECT_EQ(read(c, 3).battery, 0);
    EXPECT_EQ(read(c, 4).battery, 0);
}

TEST(StatusListener, ASilentRobotKeepsItsValuesAtSignalZero) {
    Filter f(fast_options());
    ICapteurControl* c = f.control.get();
    const std::uint16_t port = free_udp_port();
    Sender r3("127.0.0.33");
    ASSERT_TRUE(r3.ok());
    auto rec = status_record(port, {127, 0, 0, 33});
    ASSERT_EQ(c->SetConfig(3, &rec), S_OK);
    ASSERT_TRUE(eventually([&] { return f.capteur->Listener().bound_ports() == 1; }));
    ASSERT_TRUE(r3.send(port, "status 61 80 90 70 -33.500000 -70.250000 10.0.0.33"));
    ASSERT_TRUE(eventually([&] { return read(c, 3).signal == 70; }));
    // Nothing more for the silence period: signal 0, the rest kept.
    ASSERT_TRUE(eventually([&] { return read(c, 3).signal == 0; }, 2000ms));
    const Read q = read(c, 3);
    EXPECT_EQ(q.battery, 61);
    EXPECT_EQ(q.wheel1, 80);
    EXPECT_EQ(q.wheel2, 90);
    EXPECT_FLOAT_EQ(q.latitude, -33.5f);
    EXPECT_FLOAT_EQ(q.longitude, -70.25f);
    // It speaks again.
    ASSERT_TRUE(r3.send(port, "status 60 64 64 65 -33.500000 -70.250000 10.0.0.33"));
    ASSERT_TRUE(eventually([&] { return read(c, 3).signal == 65; }));
}

TEST(StatusListener, FollowsTheRecordsToOtherPortsAndWaitsForABusyPort) {
    Filter f(fast_options());
    ICapteurControl* c = f.control.get();
    StatusListener& l = f.capteur->Listener();
    const std::uint16_t first = free_udp_port();
    Sender r1("127.0.0.41");
    ASSERT_TRUE(r1.ok());
    auto rec = status_record(first, {127, 0, 0, 41});
    ASSERT_EQ(c->SetConfig(1, &rec), S_OK);
    ASSERT_TRUE(eventually([&] { return l.bound_ports() == 1; }));

    // The port moves: the old one is let go, the new one heard.
    const std::uint16_t second = free_udp_port();
    rec.status_port = second;
    ASSERT_EQ(c->SetConfig(1, &rec), S_OK);
    ASSERT_TRUE(eventually([&] {
        return l.bound_ports() == 1 && r1.send(second, "status 10 64 64 10 1.000000 2.000000 10.0.0.41") &&
               read(c, 1).battery == 10;
    }));
    {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(first);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << "the old port is still held";
        ::close(fd);
    }

    // A port someone else holds: nothing is heard until it is free, then it is taken without a new record.
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len), 0);
    const std::uint16_t busy = ntohs(a.sin_port);
    Sender r4("127.0.0.44");
    auto rec4 = status_record(busy, {127, 0, 0, 44});
    ASSERT_EQ(c->SetConfig(4, &rec4), S_OK);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(l.bound_ports(), 1);
    ::close(holder);
    ASSERT_TRUE(eventually([&] { return l.bound_ports() == 2; }));
    ASSERT_TRUE(r4.send(busy, "status 44 64 64 44 1.000000 2.000000 10.0.0.44"));
    ASSERT_TRUE(eventually([&] { return read(c, 4).battery == 44; }));

    // Clearing the records closes every port.
    auto none = status_record(0, {0, 0, 0, 0});
    ASSERT_EQ(c->SetConfig(1, &none), S_OK);
    ASSERT_EQ(c->SetConfig(4, &none), S_OK);
    ASSERT_TRUE(eventually([&] { return l.bound_ports() == 0; }));
}

TEST(StatusListener, StopsPromptlyAndTheFilterGoesAwayWhileDatagramsArrive) {
    const std::uint16_t port = free_udp_port();
    Sender r1("127.0.0.51");
    std::atomic<bool> sending{true};
    std::thread flood([&] {
        while (sending.load()) {
            r1.send(port, "status 50 64 64 50 1.000000 2.000000 10.0.0.51");
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int round = 0; round < 3; ++round) {
        Filter f(fast_options());
        auto rec = status_record(port, {127, 0, 0, 51});
        ASSERT_EQ(f.control->SetConfig(1, &rec), S_OK);
        ASSERT_TRUE(eventually([&] { return f.capteur->Listener().taken() > 5; }));
        const auto t0 = std::chrono::steady_clock::now();
        f.control.reset();
        f.filter.reset(); // last reference: listener stopped and joined
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
    }
    sending.store(false);
    flood.join();
}

} // namespace
