#include "console/link/udp_endpoint.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <string>
#include <thread>

using namespace kavro::console;

TEST(UdpEndpoint, ReplyMakesTheSenderThePeer) {
    UdpEndpoint server;
    ASSERT_TRUE(server.open_bound(0, "127.0.0.1"));
    const auto port = server.local_port();
    ASSERT_NE(port, 0);

    UdpEndpoint client;
    ASSERT_TRUE(client.open_towards(port, "127.0.0.1"));
    EXPECT_EQ(client.send("init", 4), 4);

    ASSERT_EQ(server.receive(1, 0), 4);
    EXPECT_STREQ(server.buffer(), "init");
    EXPECT_EQ(server.length(), 4);
    // The server answers whoever spoke, and the client's peer follows the reply's sender.
    EXPECT_EQ(server.send("ok", 2), 2);
    ASSERT_EQ(client.receive(1, 0), 2);
    EXPECT_EQ(client.peer().sin_port, htons(port));
    EXPECT_STREQ(client.buffer(), "ok");
}

TEST(UdpEndpoint, TimeoutAndOversizedDatagram) {
    UdpEndpoint server;
    ASSERT_TRUE(server.open_bound(0, "127.0.0.1"));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(server.receive(0, 50000), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(49));

    UdpEndpoint client;
    ASSERT_TRUE(client.open_towards(server.local_port(), "127.0.0.1"));
    std::string big(1500, 'x');
    ASSERT_EQ(client.send(big.data(), static_cast<int>(big.size())), 1500);
    // Only the first 1000 bytes are kept, and the text is still terminated.
    ASSERT_EQ(server.receive(1, 0), 1000);
    EXPECT_EQ(std::string(server.buffer()).size(), 1000u);
}

TEST(UdpEndpoint, BadAddressesAndClosedSockets) {
    UdpEndpoint e;
    EXPECT_FALSE(e.open_towards(9, "300.1.2.3"));
    EXPECT_FALSE(e.open_towards(9, "robot"));
    EXPECT_FALSE(e.is_open());
    EXPECT_LT(e.send("x", 1), 0);
    EXPECT_LT(e.receive(0, 1000), 0);

    UdpEndpoint a, b;
    ASSERT_TRUE(a.open_bound(0, "127.0.0.1"));
    EXPECT_FALSE(b.open_bound(a.local_port(), "127.0.0.1")); // port in use
    EXPECT_FALSE(b.is_open());
}

TEST(TcpListener, AcceptPrintsThePeerAndConnectionCarriesBytes) {
    TcpListener listener;
    ASSERT_TRUE(listener.bind(0, "127.0.0.1"));
    ASSERT_TRUE(listener.listen());
    TcpConnection idle;
    EXPECT_FALSE(listener.accept(idle, 20)); // nobody there

    std::thread client([port = listener.local_port()] {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::send(fd, "hello", 5, 0), 5);
        char reply[8] = {};
        ASSERT_EQ(::recv(fd, reply, sizeof reply, 0), 3);
        EXPECT_STREQ(reply, "hi");
        ::close(fd);
    });
    TcpConnection connection;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(listener.accept(connection, 2000));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "127.0.0.1 is Connecting\n");
    char buffer[16] = {};
    ASSERT_TRUE(connection.wait_readable(2000));
    EXPECT_EQ(connection.receive(buffer, sizeof buffer), 5);
    EXPECT_EQ(connection.send("hi", 3), 3);
    client.join();
    EXPECT_EQ(connection.receive(buffer, sizeof buffer), 0); // orderly end
    connection.close();
    EXPECT_LT(connection.receive(buffer, sizeof buffer), 0);
    listener.close();
    EXPECT_FALSE(listener.is_open());
}
