// The layout component: its worker process under hostile input, and the COM server WinGraphviz.dll as the
// mesh filter uses it.
#include "platform/graphviz/component.h"
#include "platform/graphviz/layout_process.h"
#include "platform/graphviz/worker_protocol.h"
#include "platform/jpeg/jpeg.h"
#include "tests/platform/dshow/test_support.h"

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>

namespace {

using namespace kavro::graphviz;
using namespace std::chrono_literals;

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

const std::string kHub = read_file(std::string(TEST_DATA) + "/olsr/ns2-hub-single-snapshot.dot");

bool is_jpeg(const std::string& bytes) {
    return bytes.size() > 4 && std::uint8_t(bytes[0]) == 0xFF && std::uint8_t(bytes[1]) == 0xD8 &&
           std::uint8_t(bytes[bytes.size() - 2]) == 0xFF && std::uint8_t(bytes[bytes.size() - 1]) == 0xD9;
}

bool alive(pid_t pid) { return pid > 0 && ::kill(pid, 0) == 0; }

TEST(LayoutProcess, DrawsACaptureAndSurvivesTextThatIsNotAGraph) {
    ASSERT_FALSE(kHub.empty());
    LayoutProcess process(LAYOUT_WORKER);
    std::string jpeg, message;
    ASSERT_EQ(process.draw(kHub, &jpeg, &message), LayoutResult::Ok) << message;
    EXPECT_TRUE(is_jpeg(jpeg));
    const pid_t worker = process.worker_pid();
    EXPECT_TRUE(alive(worker));

    for (const std::string& bad : std::vector<std::string>{"not a graph {{{", "", "digraph topology\n{\n\"a\" -> ",
                                                            std::string(50000, '{')}) {
        EXPECT_EQ(process.draw(bad, &jpeg, &message), LayoutResult::NotDot) << bad.substr(0, 40);
        EXPECT_TRUE(jpeg.empty());
        EXPECT_FALSE(message.empty());
    }
    // The same worker goes on drawing after refusing (no restart needed).
    ASSERT_EQ(process.draw(kHub, &jpeg, &message), LayoutResult::Ok) << message;
    EXPECT_EQ(process.worker_pid(), worker);
    EXPECT_EQ(process.starts(), 1u);
}

// A 20-node mesh, each node linked both ways to its next two neighbours with ETX labels, is drawn about
// 3000 x 2100 at its natural size; the worker shrinks it into the mesh frame unless the text sets a size.
TEST(LayoutProcess, ADrawingIsAtMostTheMeshFrameUnlessTheTextSetsItsSize) {
    auto ip = [](int i) { return "\"10.99.0." + std::to_string(i % 20 + 1) + "\""; };
    std::string edges;
    for (int i = 0; i < 20; ++i)
        for (int k = 1; k <= 2; ++k)
            edges += ip(i) + " -> " + ip(i + k) + "[label=\"1.000\"];\n" + ip(i + k) + " -> " + ip(i) +
                     "[label=\"1.234\"];\n";
    LayoutProcess process(LAYOUT_WORKER);
    auto drawn_size = [&](const std::string& text) {
        std::string jpeg, message;
        EXPECT_EQ(process.draw(text, &jpeg, &message), LayoutResult::Ok) << message;
        kavro::jpeg::Info info;
        EXPECT_EQ(kavro::jpeg::read_info({reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size()}, info),
                  kavro::jpeg::Status::ok);
        return std::pair{info.width, info.height};
    };
    const auto [w, h] = drawn_size("digraph topology\n{\n" + edges + "}\n");
    EXPECT_LE(w, 768);
    EXPECT_LE(h, 576);
    EXPECT_TRUE(w >= 760 || h >= 570) << w << "x" << h << ": shrunk to fit, not further";
    const auto [sw, sh] = drawn_size("digraph topology\n{\nsize=\"40,30\";\n" + edges + "}\n");
    EXPECT_GT(sw, 2000) << sw << "x" << sh;
    // A small graph keeps its natural size.
    EXPECT_LT(drawn_size("digraph{a->b}").first, 200);
}

// A graph Graphviz needs seconds (and lots of memory) for.
std::string huge_graph(int nodes) {
    std::string text = "digraph g {\n";
    for (int i = 0; i < nodes; ++i)
        text += "n" + std::to_string(i) + " -> n" + std::to_string((i * 7919 + 13) % nodes) + ";\n";
    return text + "}\n";
}

TEST(LayoutProcess, ALayoutThatTakesTooLongIsKilledAndTheNextDrawingWorks) {
    LayoutProcess process(LAYOUT_WORKER, LayoutLimits{.time = 1000ms});
    std::string jpeg, message;
    ASSERT_EQ(process.draw(kHub, &jpeg, &message), LayoutResult::Ok) << message;
    const pid_t first = process.worker_pid();
    const std::string huge = huge_graph(100000);
    const auto t0 = std::chrono::steady_clock::now();
    const LayoutResult r = process.draw(huge, &jpeg, &message);
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_TRUE(r == LayoutResult::TimedOut || r == LayoutResult::Crashed) << to_string(r) << ": " << message;
    // The time limit, the kill and the wait; unkilled, this graph takes minutes. Sending the 1.5 MB text to the
    // worker takes its share on a loaded machine, hence the slack.
    EXPECT_LT(took, 10s);
    EXPECT_FALSE(alive(first));
    EXPECT_EQ(process.worker_pid(), -1);
    // Deeply nested subgraphs, left open: whatever Graphviz makes of them, the next drawing is not spoilt.
    process.draw("digraph{" + std::string(20000, '{'), &jpeg, &message);
    ASSERT_EQ(process.draw(kHub, &jpeg, &message), LayoutResult::Ok) << message;
}

TEST(LayoutProcess, AWorkerThatDiesOrCannotStartIsAFailedDrawing) {
    LayoutProcess process(LAYOUT_WORKER);
    std::string jpeg, message;
    ASSERT_EQ(process.draw("digraph{a->b}", &jpeg, &message), LayoutResult::Ok) << message;
    ::kill(process.worker_pid(), SIGKILL); // as a crash inside Graphviz would end it
    EXPECT_EQ(process.draw("digraph{a->b}", &jpeg, &message), LayoutResult::Crashed);
    EXPECT_EQ(process.draw("digraph{a->b}", &jpeg, &message), LayoutResult::Ok) << message;

    LayoutProcess missing("/nonexistent/kavro-layout");
    EXPECT_EQ(missing.draw("digraph{a->b}", &jpeg, &message), LayoutResult::NoWorker);
    EXPECT_NE(message.find("/nonexistent/kavro-layout"), std::string::npos);
    EXPECT_EQ(missing.draw(std::string(kMaxRequestBytes + 1, ' '), &jpeg, &message), LayoutResult::TooLarge);
}

TEST(LayoutProcess, WorkerIsReplacedAfterItsShareOfDrawingsAndEndsWithItsOwner) {
    pid_t last = -1;
    {
        LayoutProcess process(LAYOUT_WORKER, LayoutLimits{.max_drawings = 2});
        std::string jpeg, message;
        for (int i = 0; i < 3; ++i) ASSERT_EQ(process.draw("digraph{a->b}", &jpeg, &message), LayoutResult::Ok);
        EXPECT_EQ(process.starts(), 2u);
        last = process.worker_pid();
        EXPECT_TRUE(alive(last));
    }
    EXPECT_FALSE(alive(last)); // ended and reaped
}

class WinGraphviz : public kavro::test::TempRegistry {};

TEST_F(WinGraphviz, RegisteredServerDrawsAndSavesAJpegFile) {
    ComPtr<IGraphLayout> layout;
    EXPECT_EQ(CoCreateInstance(CLSID_WinGraphviz, nullptr, CLSCTX_ALL, IID_IGraphLayout, layout.put_void()),
              REGDB_E_CLASSNOTREG);
    ASSERT_EQ(register_library(WINGRAPHVIZ_DLL), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_WinGraphviz, nullptr, CLSCTX_ALL, IID_IGraphLayout, layout.put_void()), S_OK);

    std::wstring dot(kHub.begin(), kHub.end());
    ILayoutPicture* raw = reinterpret_cast<ILayoutPicture*>(1);
    EXPECT_EQ(layout->ToJPEG(L"no graph here", &raw), E_INVALIDARG);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(layout->ToJPEG(nullptr, &raw), E_POINTER);
    ASSERT_EQ(layout->ToJPEG(dot.c_str(), &raw), S_OK);
    ComPtr<ILayoutPicture> picture = ComPtr<ILayoutPicture>::adopt(raw);

    const std::string path = dir + "/tmp \xC3\xA9.jpg";
    const std::wstring wide = std::wstring(dir.begin(), dir.end()) + L"/tmp \u00e9.jpg";
    ASSERT_EQ(picture->Save(wide.c_str()), S_OK);
    const std::string saved = read_file(path);
    EXPECT_TRUE(is_jpeg(saved));
    ULONG bytes = 0;
    ASSERT_EQ(picture->GetBytes(nullptr, 0, &bytes), S_OK);
    EXPECT_EQ(bytes, saved.size());
    std::string copy(bytes, '\0');
    EXPECT_EQ(picture->GetBytes(reinterpret_cast<BYTE*>(copy.data()), bytes - 1, &bytes), E_NOT_SUFFICIENT_BUFFER);
    ASSERT_EQ(picture->GetBytes(reinterpret_cast<BYTE*>(copy.data()), bytes, &bytes), S_OK);
    EXPECT_EQ(copy, saved);
    EXPECT_EQ(picture->Save(L"/nonexistent/folder/x.jpg"), E_FAIL);
}

TEST(WideText, NonAsciiNamesReachGraphvizAsUtf8) {
    EXPECT_EQ(to_utf8(L"R\u00e9seau \u20ac \U0001F600"), "R\xC3\xA9seau \xE2\x82\xAC \xF0\x9F\x98\x80");
    const wchar_t bad[] = {L'a', wchar_t(0xD800), L'b', 0};
    EXPECT_EQ(to_utf8(bad), "a?b");
}

} // namespace
