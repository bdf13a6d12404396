// Helpers of the mesh filter tests: a filter from the linked objects, a loopback topology server, a layout
// component that records what it is asked to draw, frames taken from a running graph.
#pragma once

#include "filters/mesh/mesh.h"
#include "platform/dshow/grabber.h"
#include "platform/registry/registry.h"
#include "platform/ui/message_box.h"
#include "tests/platform/dshow/test_support.h"
#include "tests/support/grabber_callback.h"
#include "tests/support/message_boxes.h"
#include "tests/support/ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace mesh::test {

using namespace std::chrono_literals;
using kavro::test::create;
using kavro::test::free_tcp_port;
using kavro::test::MessageBoxes;

// Instrumented builds run everything, the layout worker with Graphviz included, several times slower.
#if defined(__SANITIZE_THREAD__)
inline constexpr int kSlow = 5;
#elif defined(__SANITIZE_ADDRESS__)
inline constexpr int kSlow = 2;
#else
inline constexpr int kSlow = 1;
#endif

inline std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline std::string capture(const std::string& name) { return read_file(std::string(TEST_DATA) + "/olsr/" + name); }

// A TCP server on 127.0.0.1 (any free port) that answers each connection with answer(n) (n counts
// connections from 0), then closes it, or keeps it open while streaming.
class TopologyServer {
public:
    using Answer = std::function<std::string(int connection)>;
    explicit TopologyServer(Answer answer, bool keep_open = false) : m_answer(std::move(answer)), m_keep(keep_open) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(m_fd, 8), 0);
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~TopologyServer() {
        m_quit = true;
        m_thread.join();
        ::close(m_fd);
    }
    std::uint16_t port() const { return m_port; }
    int connections() const { return m_connections.load(); }

private:
    void serve() {
        int held = -1;
        while (!m_quit) {
            pollfd pf{m_fd, POLLIN, 0};
            if (::poll(&pf, 1, 20) <= 0) continue;
            const int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            const std::string text = m_answer(m_connections++);
            if (!text.empty()) (void)!::send(c, text.data(), text.size(), MSG_NOSIGNAL);
            if (m_keep) {
                if (held >= 0) ::close(held);
                held = c;
            } else {
                ::close(c);
            }
        }
        if (held >= 0) ::close(held);
    }

    Answer m_answer;
    const bool m_keep;
    int m_fd = -1;
    std::uint16_t m_port = 0;
    std::atomic<int> m_connections{0};
    std::atomic<bool> m_quit{false};
    std::thread m_thread;
};

// A filter from the linked objects, held by its IUnknown.
struct Filter {
    explicit Filter(const MeshOptions& options) {
        HRESULT hr = S_OK;
        CUnknown* obj = CMesh::CreateInstance(nullptr, &hr, options);
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(obj->NonDelegatingQueryInterface(IID_IBaseFilter, filter.put_void()), S_OK);
        EXPECT_EQ(filter->QueryInterface(IID_IMesh, control.put_void()), S_OK);
        mesh = static_cast<CMesh*>(static_cast<CSource*>(filter.get()));
    }
    ComPtr<IBaseFilter> filter;
    ComPtr<IMesh> control;
    CMesh* mesh = nullptr;
};

// Frames (and their times) as the sample grabber sees them.
struct FrameLog final : kavro::test::GrabberCallback {
    HRESULT SampleCB(double, IMediaSample* sample) override {
        REFERENCE_TIME start = -1, stop = -1;
        sample->GetTime(&start, &stop);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::lock_guard g(lock);
        times.emplace_back(start, stop);
        last.assign(data, data + sample->GetActualDataLength());
        return S_OK;
    }

    std::vector<std::uint8_t> frame() {
        std::lock_guard g(lock);
        return last;
    }
    std::size_t count() {
        std::lock_guard g(lock);
        return times.size();
    }
    std::mutex lock;
    std::vector<std::pair<REFERENCE_TIME, REFERENCE_TIME>> times;
    std::vector<std::uint8_t> last;
};

// The filter rendered into a sample grabber and a null renderer.
struct Graph {
    explicit Graph(IBaseFilter* source) {
        graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        grabber_filter = create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
        auto null = create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
        EXPECT_EQ(grabber_filter.as(IID_ISampleGrabber, grabber), S_OK);
        EXPECT_EQ(graph.as(IID_IMediaControl, control), S_OK);
        EXPECT_EQ(graph->AddFilter(source, "Mesh"), S_OK);
        EXPECT_EQ(graph->AddFilter(grabber_filter.get(), "Grabber"), S_OK);
        EXPECT_EQ(graph->AddFilter(null.get(), "Null"), S_OK);
        EXPECT_EQ(grabber->SetCallback(&log, 0), S_OK);
        auto out = kavro::test::find_pin(source, PINDIR_OUTPUT);
        auto gin = kavro::test::find_pin(grabber_filter.get(), PINDIR_INPUT);
        auto gout = kavro::test::find_pin(grabber_filter.get(), PINDIR_OUTPUT);
        auto nin = kavro::test::find_pin(null.get(), PINDIR_INPUT);
        EXPECT_EQ(graph->ConnectDirect(out.get(), gin.get(), nullptr), S_OK);
        EXPECT_EQ(graph->ConnectDirect(gout.get(), nin.get(), nullptr), S_OK);
    }
    ~Graph() {
        if (control) control->Stop();
        if (grabber) grabber->SetCallback(nullptr, 0); // the log goes before the grabber
    }
    // Waits until pred(frame) holds for the latest frame, up to limit.
    bool wait_frame(const std::function<bool(const std::vector<std::uint8_t>&)>& pred, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            const auto f = log.frame();
            if (!f.empty() && pred(f)) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> grabber_filter;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IMediaControl> control;
    FrameLog log;
};

} // namespace mesh::test
