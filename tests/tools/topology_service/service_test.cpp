// The topology service over real loopback sockets: stream and close behaviours, the lockout, live description
// changes and a client that never reads.
#include "tests/support/temp_dir.h"
#include "tools/kavro-topology-service/service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace kavro::topology {
namespace {

using namespace std::chrono_literals;

std::string data(const std::string& name) {
    std::string text, error;
    EXPECT_TRUE(read_file(std::string(OLSR_DATA) + "/" + name, 1 << 20, text, error)) << error;
    return text;
}

// A service on a free loopback port, served by a thread of its own.
struct Running {
    TopologyService service;
    std::atomic<bool> stop{false};
    std::thread thread;
    Running(SnapshotSource& source, ServiceSettings s) : service(source, (s.port = 0, s)) {
        std::string error;
        EXPECT_TRUE(service.open(error)) << error;
        thread = std::thread([this] { service.run(stop); });
    }
    ~Running() {
        stop = true;
        thread.join();
    }
};

int connect_to(std::uint16_t port, int receive_buffer = 0) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receive_buffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

struct Received {
    std::vector<std::string> reads; // one entry per recv
    bool eof = false;
    std::string all() const {
        std::string s;
        for (const auto& r : reads) s += r;
        return s;
    }
};

// Receives for `span`, or until the peer closes.
Received receive_for(int fd, std::chrono::milliseconds span) {
    Received r;
    const auto end = Clock::now() + span;
    for (auto now = Clock::now(); now < end; now = Clock::now()) {
        pollfd p{fd, POLLIN, 0};
        int wait = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count()) + 1;
        if (::poll(&p, 1, wait) <= 0) continue;
        char buf[65536];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            r.eof = true;
            break;
        }
        r.reads.emplace_back(buf, static_cast<std::size_t>(n));
    }
    return r;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

struct TempFile {
    kavro::test::TempDir dir{"kavro-topology"};
    std::filesystem::path path = dir / "station.topology";
    void write(const std::string& text) const { // replaced whole, as editors save
        auto tmp = path.string() + ".new";
        std::ofstream(tmp) << text;
        std::filesystem::rename(tmp, path);
    }
};

TEST(TopologyService, StreamsEverySnapshotOnOneOpenConnection) {
    auto snapshots = split_snapshots(data("ns2-hub-stream-linkflap-32s.dot"));
    CaptureReplay replay(snapshots, 40ms, Clock::now());
    ServiceSettings s;
    s.write_tick = 250ms; // several snapshots pile up between two write ticks
    Running run(replay, s);

    int fd = connect_to(run.service.port());
    Received r = receive_for(fd, 1500ms);
    ::close(fd);
    EXPECT_FALSE(r.eof) << "the service closed a stream connection";
    ASSERT_GE(r.reads.size(), 3u);
    bool several_in_one = false;
    for (const auto& read : r.reads) several_in_one |= count(read, "digraph topology\n{\n") >= 2;
    EXPECT_TRUE(several_in_one);
    // Complete snapshots, in the capture's order.
    auto got = split_snapshots(r.all());
    ASSERT_GE(got.size(), 10u);
    EXPECT_EQ(r.all().substr(r.all().size() - 3), "}\n\n");
    auto start = std::find(snapshots.begin(), snapshots.end(), got[1]);
    ASSERT_NE(start, snapshots.end());
    for (std::size_t i = 2; i < got.size(); ++i) {
        auto next = std::find(start + 1, snapshots.end(), got[i]);
        ASSERT_NE(next, snapshots.end()) << "snapshot " << i << " out of order";
        start = next;
    }
}

TEST(TopologyService, OneClientAtATimeThenALockoutAfterItLeft) {
    CaptureReplay one({data("ns2-hub-single-snapshot.dot")}, 1000ms, Clock::now());
    ServiceSettings s;
    s.lockout_min = s.lockout_max = 600ms;
    Running run(one, s);

    int first = connect_to(run.service.port());
    Received a = receive_for(first, 300ms);
    EXPECT_EQ(a.all(), data("ns2-hub-single-snapshot.dot"));

    int second = connect_to(run.service.port());
    Received b = receive_for(second, 1000ms);
    EXPECT_TRUE(b.eof);
    EXPECT_TRUE(b.reads.empty()) << "a second client was served";
    ::close(second);

    ::close(first);
    std::this_thread::sleep_for(100ms);
    int during = connect_to(run.service.port());
    Received c = receive_for(during, 1000ms);
    EXPECT_TRUE(c.eof && c.reads.empty()) << "served during the lockout";
    ::close(during);

    std::this_thread::sleep_for(700ms);
    int after = connect_to(run.service.port());
    Received d = receive_for(after, 400ms);
    ::close(after);
    EXPECT_FALSE(d.eof);
    EXPECT_EQ(d.all(), data("ns2-hub-single-snapshot.dot"));
    EXPECT_EQ(run.service.counters().turned_away.load(), 2u);
}

TEST(TopologyService, CloseModeSendsOneSnapshotPerConnection) {
    CaptureReplay one({data("ns1-leaf-single-snapshot.dot")}, 1000ms, Clock::now());
    ServiceSettings s;
    s.mode = Mode::close;
    Running run(one, s);
    for (int i = 0; i < 3; ++i) { // no lockout between connections
        int fd = connect_to(run.service.port());
        Received r = receive_for(fd, 2000ms);
        ::close(fd);
        EXPECT_TRUE(r.eof);
        EXPECT_EQ(r.all(), data("ns1-leaf-single-snapshot.dot")) << "connection " << i;
    }
}

TEST(TopologyService, AChangedDescriptionIsSentAtOnceAndABrokenOneIsIgnored) {
    TempFile file;
    file.write(data("ns2-hub.topology"));
    DescriptionFile source(file.path.string(), 20ms);
    std::string error;
    ASSERT_TRUE(source.load(error)) << error;
    ServiceSettings s;
    s.repeat = 0ms; // only changes are sent
    Running run(source, s);

    int fd = connect_to(run.service.port());
    EXPECT_EQ(receive_for(fd, 400ms).all(), data("ns2-hub-single-snapshot.dot"));

    file.write(data("ns2-hub-asym.topology"));
    EXPECT_EQ(receive_for(fd, 600ms).all(), data("ns2-hub-asym-neighbor-snapshot.dot"));

    file.write("self 10.99.12.2\nlink 10.99.12.2 nowhere 1\n");
    Received broken = receive_for(fd, 400ms);
    EXPECT_FALSE(broken.eof);
    EXPECT_TRUE(broken.reads.empty()) << "a broken description was sent";

    file.write(data("ns2-hub.topology") + "hna 10.99.12.2 0.0.0.0/0.0.0.0\n");
    std::string last = receive_for(fd, 600ms).all();
    ::close(fd);
    EXPECT_EQ(count(last, "digraph topology"), 1u);
    EXPECT_NE(last.find("\"10.99.12.2\" -> \"0.0.0.0/0.0.0.0\"[label=\"HNA\"];\n"), std::string::npos);
}

TEST(TopologyService, AClientThatNeverReadsHasBoundedBytesQueued) {
    CaptureReplay one({data("ns2-hub-single-snapshot.dot")}, 1000ms, Clock::now());
    ServiceSettings s;
    s.repeat = 2ms;
    s.write_tick = 2ms;
    s.send_buffer = 4096;
    s.max_pending = 8192;
    Running run(one, s);

    int fd = connect_to(run.service.port(), 4096);
    const auto deadline = Clock::now() + 5s;
    while (run.service.counters().snapshots_skipped.load() < 50 && Clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_GE(run.service.counters().snapshots_skipped.load(), 50u);
    EXPECT_LE(run.service.counters().peak_pending.load(), 8192u);
    // What was sent is whole snapshots, one after the other.
    Received r = receive_for(fd, 300ms);
    ::close(fd);
    auto got = split_snapshots(r.all());
    ASSERT_FALSE(got.empty());
    for (std::size_t i = 0; i + 1 < got.size(); ++i) EXPECT_EQ(got[i], data("ns2-hub-single-snapshot.dot"));
}

} // namespace
} // namespace kavro::topology
