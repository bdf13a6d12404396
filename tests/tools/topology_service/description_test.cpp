// Topology descriptions render as the daemon writes them; captures split into their snapshots.
#include "tools/kavro-topology-service/sources.h"

#include <gtest/gtest.h>

namespace kavro::topology {
namespace {

std::string data(const std::string& name) {
    std::string text, error;
    EXPECT_TRUE(read_file(std::string(OLSR_DATA) + "/" + name, 1 << 20, text, error)) << error;
    return text;
}

TEST(Description, RendersExactlyAsTheDaemonWroteEachCapture) {
    const std::pair<const char*, const char*> pairs[] = {
        {"ns2-hub.topology", "ns2-hub-single-snapshot.dot"},
        {"ns1-leaf.topology", "ns1-leaf-single-snapshot.dot"},
        {"ns2-hub-asym.topology", "ns2-hub-asym-neighbor-snapshot.dot"},
    };
    for (auto [description, capture] : pairs) {
        Description d;
        std::string error;
        ASSERT_TRUE(parse_description(data(description), d, error)) << description << ": " << error;
        EXPECT_EQ(render_dot(d), data(capture)) << description;
    }
}

TEST(Description, CostsNetmasksAndMistakes) {
    Description d;
    std::string error;
    ASSERT_TRUE(parse_description("self 10.0.0.1\n"
                                  "link 10.0.0.2 10.0.0.1 2 INFINITE  # costs either way\n"
                                  "hna 10.0.0.1 0.0.0.0/0.0.0.0\n"
                                  "hna 10.0.0.2 192.168.0.99/255.255.255.255\n",
                                  d, error))
        << error;
    EXPECT_EQ(render_dot(d), "digraph topology\n{\n"
                             "\"10.0.0.1\" -> \"10.0.0.2\"[label=\"INFINITE\", style=solid];\n"
                             "\"10.0.0.1\" -> \"10.0.0.2\"[label=\"INFINITE\"];\n"
                             "\"10.0.0.2\" -> \"10.0.0.1\"[label=\"2.000\"];\n"
                             "\"10.0.0.1\" -> \"0.0.0.0/0.0.0.0\"[label=\"HNA\"];\n"
                             "\"0.0.0.0/0.0.0.0\"[shape=diamond];\n"
                             "\"10.0.0.2\" -> \"192.168.0.99/255.255.255.255\"[label=\"HNA\"];\n"
                             "\"192.168.0.99/255.255.255.255\"[shape=diamond];\n"
                             "}\n\n");

    const std::pair<const char*, const char*> bad[] = {
        {"self 10.0.0.1\nlink 10.0.0.1 10.0.0.256 1\n", "line 2: \"10.0.0.256\" is not an IPv4 address"},
        {"self 10.0.0.1\n\nlink 10.0.0.1 10.0.0.2 cheap\n", "line 3: \"cheap\" is not a cost"},
        {"self 10.0.0.1\nlink 10.0.0.1 10.0.0.2 1\nlink 10.0.0.2 10.0.0.1 1\n", "line 3: this link is given twice"},
        {"self 10.0.0.1\nroute 10.0.0.2\n", "line 2: unknown entry \"route\""},
        {"self 10.0.0.1\nhna 10.0.0.1 10.0.0.0/33\n", "line 2: \"10.0.0.0/33\" is not a network"},
        {"self 10.0.0.1\nhna 10.0.0.1 \"x\"[shape=box]\n", "line 2:"},
        {"link 10.0.0.1 10.0.0.2 1\n", "no \"self\" entry"},
        {"self 10.0.0.1\nlink 10.0.0.2 10.0.0.3 1\nmpr 10.0.0.2\n", "mpr 10.0.0.2 is not a symmetric neighbour"},
        {"self 010.0.0.1\n", "line 1:"},
    };
    for (auto [text, message] : bad) {
        Description untouched = d;
        EXPECT_FALSE(parse_description(text, untouched, error)) << text;
        EXPECT_NE(error.find(message), std::string::npos) << text << " -> " << error;
        EXPECT_EQ(render_dot(untouched), render_dot(d)) << "a refused text changed the description";
    }
}

TEST(Capture, SplitsTheStreamIntoItsSnapshots) {
    const std::string stream = data("ns2-hub-stream-linkflap-32s.dot");
    auto snapshots = split_snapshots(stream);
    ASSERT_EQ(snapshots.size(), 95u);
    std::string joined;
    for (const std::string& s : snapshots) {
        EXPECT_EQ(s.rfind("digraph topology\n{\n", 0), 0u);
        EXPECT_EQ(s.substr(s.size() - 3), "}\n\n");
        joined += s;
    }
    EXPECT_EQ(joined, stream);
    // A capture cut short keeps its tail as a last piece; trailing white space is no snapshot.
    EXPECT_EQ(split_snapshots(snapshots[0] + "digraph topology\n{\n\"a\"").size(), 2u);
    EXPECT_EQ(split_snapshots(snapshots[0] + "\n\n").size(), 1u);
}

} // namespace
} // namespace kavro::topology
