// Fetching the topology text as the real service serves it: a stream of snapshots, one client at a time.
#include "filters/mesh/topology_fetch.h"
#include "tests/filters/mesh/mesh_test_support.h"

namespace {

using namespace mesh;
using namespace mesh::test;

const FetchTiming kQuick{1000ms, 100ms, 1000ms, 100ms};

TEST(FirstGraph, EndsAtTheClosingBraceOutsideQuotes) {
    const std::string two = "digraph topology\n{\n\"a\" -> \"b\";\n}\n\ndigraph topology\n{\n}\n\n";
    EXPECT_EQ(first_graph_end(two.data(), two.size()), two.find('}') + 1);
    const std::string quoted = "digraph{\"}\\\"}\" -> b; subgraph{c}}";
    EXPECT_EQ(first_graph_end(quoted.data(), quoted.size()), quoted.size());
    for (const std::string open : {"digraph topology\n{\n\"a\" -> \"b\"", "}}}", "", "digraph{\"}"})
        EXPECT_EQ(first_graph_end(open.data(), open.size()), 0u) << open;
}

TEST(Fetch, TakesTheFirstOfSeveralSnapshotsFromAStream) {
    const std::string stream = capture("ns2-hub-stream-linkflap-32s.dot");
    const std::string first = stream.substr(0, stream.find("}\n") + 1);
    TopologyServer server([&](int) { return stream; }, true);
    std::vector<char> buffer(20001, 'x');
    StopSignal stop;
    const FetchResult r = fetch_topology("127.0.0.1", server.port(), buffer.data(), buffer.size(), kQuick, stop);
    ASSERT_EQ(r.status, FetchStatus::Ok);
    EXPECT_EQ(r.attempts, 1);
    EXPECT_EQ(std::string(buffer.data()), first);
    EXPECT_EQ(r.bytes, first.size());
}

TEST(Fetch, AnEmptyConnectionIsTriedOnceMore) {
    const std::string hub = capture("ns2-hub-single-snapshot.dot");
    StopSignal stop;
    std::vector<char> buffer(20001);
    {
        // The service's lockout: the first connection is closed without a byte.
        TopologyServer server([&](int n) { return n == 0 ? std::string() : hub; });
        const FetchResult r = fetch_topology("127.0.0.1", server.port(), buffer.data(), buffer.size(), kQuick, stop);
        EXPECT_EQ(r.status, FetchStatus::Ok);
        EXPECT_EQ(r.attempts, 2);
        EXPECT_EQ(std::string(buffer.data()), hub.substr(0, hub.size() - 2)); // up to the closing brace
    }
    {
        TopologyServer server([&](int) { return std::string(); });
        const FetchResult r = fetch_topology("127.0.0.1", server.port(), buffer.data(), buffer.size(), kQuick, stop);
        EXPECT_EQ(r.status, FetchStatus::Empty);
        EXPECT_EQ(r.attempts, 2);
        EXPECT_EQ(server.connections(), 2);
        EXPECT_EQ(buffer[0], '\0');
    }
    EXPECT_EQ(fetch_topology("127.0.0.1", free_tcp_port(), buffer.data(), buffer.size(), kQuick, stop).status,
              FetchStatus::NoConnection);
    EXPECT_EQ(fetch_topology("no-such-host.invalid", 2004, buffer.data(), buffer.size(), kQuick, stop).status,
              FetchStatus::NoConnection);
}

TEST(Fetch, AnAnswerLargerThanTheBufferIsCutAndTerminated) {
    const std::string flood = "digraph{" + std::string(30000, 'a');
    TopologyServer server([&](int) { return flood; }, true);
    std::vector<char> buffer(20001 + 8, '#');
    StopSignal stop;
    const FetchResult r = fetch_topology("127.0.0.1", server.port(), buffer.data(), 20001, kQuick, stop);
    EXPECT_EQ(r.status, FetchStatus::Ok);
    EXPECT_EQ(r.bytes, 20000u);
    EXPECT_EQ(buffer[20000], '\0');
    EXPECT_EQ(buffer[20001], '#');
}

TEST(Fetch, AStopEndsTheWaitsAtOnce) {
    TopologyServer server([&](int) { return std::string("digraph{a}"); }, true);
    std::vector<char> buffer(100);
    StopSignal stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        stop.request();
    });
    const auto t0 = std::chrono::steady_clock::now();
    const FetchResult r = fetch_topology("127.0.0.1", server.port(), buffer.data(), buffer.size(),
                                         FetchTiming{1000ms, 5000ms, 1000ms, 500ms}, stop);
    stopper.join();
    EXPECT_EQ(r.status, FetchStatus::Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
}

} // namespace
