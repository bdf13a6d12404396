// The network sender in running graphs, with viewers on loopback: two viewers of which one reads slowly, the
// pictures they get (decoded and compared with the source picture), both RGB layouts, a busy port, the viewer
// limit; and SenderJPEG.ax registered with regsvr32, created by CLSID and found by its name.
#include "outside/mjpeg/multipart.h"
#include "outside/sender/sender.h"
#include "platform/jpeg/jpeg.h"
#include "platform/registry/registry.h"
#include "tests/platform/dshow/plugin_support.h"
#include "tests/platform/dshow/vmr9/test_source.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>

using namespace kavro::test;
using namespace std::chrono_literals;

namespace {

// A viewer on a plain socket: sends the request, then reads the answer's head and the stream's parts.
class Viewer {
public:
    Viewer(int port, const std::string& path, int receive_buffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receive_buffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        timeval tv{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(std::uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        connected_ = connected_ && ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size());
    }
    ~Viewer() { ::close(fd_); }

    bool connected() const { return connected_; }
    // The status line and headers, up to the empty line.
    std::string head() { return until("\r\n\r\n"); }
    // The next part's body, or empty when the stream broke.
    std::vector<std::uint8_t> part() {
        const std::string headers = until("\r\n\r\n");
        const auto at = headers.find("Content-Length: ");
        if (headers.find("--kavroframe\r\nContent-Type: image/jpeg\r\n") == std::string::npos || at == std::string::npos)
            return {};
        const std::size_t length = std::stoul(headers.substr(at + 16));
        std::vector<std::uint8_t> body(length + 2);
        if (!take(body.data(), body.size()) || body[length] != '\r' || body[length + 1] != '\n') return {};
        body.resize(length);
        return body;
    }
    // Up to `n` bytes as they come (fewer when the stream ends).
    std::vector<std::uint8_t> bytes(std::size_t n) {
        std::vector<std::uint8_t> out;
        std::uint8_t c;
        while (out.size() < n && take(&c, 1)) out.push_back(c);
        return out;
    }
    std::string rest() {
        std::string all;
        char c;
        while (take(reinterpret_cast<std::uint8_t*>(&c), 1)) all += c;
        return all;
    }

private:
    std::string until(const std::string& end) {
        std::string text;
        char c;
        while (text.size() < 4096 && take(reinterpret_cast<std::uint8_t*>(&c), 1)) {
            text += c;
            if (text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0) break;
        }
        return text;
    }
    bool take(std::uint8_t* out, std::size_t n) {
        while (n > 0) {
            if (have_ == used_) {
                const ssize_t got = ::recv(fd_, buffer_, sizeof buffer_, 0);
                if (got <= 0) return false;
                have_ = std::size_t(got);
                used_ = 0;
            }
            const std::size_t k = std::min(n, have_ - used_);
            std::memcpy(out, buffer_ + used_, k);
            used_ += k;
            out += k;
            n -= k;
        }
        return true;
    }
    int fd_ = -1;
    bool connected_ = false;
    std::uint8_t buffer_[65536];
    std::size_t have_ = 0, used_ = 0;
};

// The source picture: smooth ramps, as a camera sees a scene.
std::uint32_t scene(int x, int y, int) {
    const int r = x * 255 / 719, g = y * 255 / 575, b = 128 + int(60 * std::sin(x / 40.0) * std::cos(y / 30.0));
    return std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
}

double psnr_against_scene(const std::vector<std::uint8_t>& jpeg, int width, int height) {
    std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
    kavro::jpeg::Target t{rgb.data(), rgb.size(), width, height, std::size_t(width) * 3, kavro::jpeg::PixelFormat::rgb24,
                          false};
    kavro::jpeg::Info info;
    if (kavro::jpeg::decode(jpeg, t, &info) != kavro::jpeg::Status::ok || info.width != width || info.height != height)
        return 0;
    double se = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t want = scene(x, y, 0);
            const std::uint8_t* p = &rgb[(std::size_t(y) * width + x) * 3];
            for (int c = 0; c < 3; ++c) {
                const double d = double(p[c]) - double(want >> (16 - 8 * c) & 0xFF);
                se += d * d;
            }
        }
    const double mse = se / (double(width) * height * 3);
    return 10 * std::log10(255.0 * 255.0 / std::max(mse, 1e-9));
}

struct SenderGraph {
    explicit SenderGraph(TestVideoLayout layout, sender::ServerOptions options = loopback()) {
        graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        EXPECT_EQ(graph.as(IID_IMediaControl, control), S_OK);
        HRESULT hr = S_OK;
        CUnknown* obj = CSenderJPEG::CreateInstance(nullptr, &hr, options);
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(obj->NonDelegatingQueryInterface(IID_IBaseFilter, filter.put_void()), S_OK);
        sender = static_cast<CSenderJPEG*>(static_cast<CBaseRenderer*>(filter.get()));
        source = ComPtr<IBaseFilter>::adopt(CTestVideoSource::create(layout, scene));
        EXPECT_EQ(graph->AddFilter(source.get(), "camera"), S_OK);
        EXPECT_EQ(graph->AddFilter(filter.get(), "JPEG Sender"), S_OK);
        EXPECT_EQ(graph->ConnectDirect(find_pin(source.get(), PINDIR_OUTPUT).get(),
                                       find_pin(filter.get(), PINDIR_INPUT).get(), nullptr),
                  S_OK);
    }
    ~SenderGraph() { control->Stop(); }
    static sender::ServerOptions loopback() {
        sender::ServerOptions o;
        o.address = "127.0.0.1";
        o.port = 0;
        return o;
    }
    bool listening() {
        const auto end = std::chrono::steady_clock::now() + 3s;
        while (sender->Server().port() == 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
        return sender->Server().port() != 0;
    }
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> filter, source;
    CSenderJPEG* sender = nullptr;
};

TestVideoLayout camera(GUID subtype, int bits, bool bottom_up) {
    TestVideoLayout l;
    l.subtype = subtype;
    l.bits = bits;
    l.width = 720;
    l.height = 576;
    l.bottom_up = bottom_up;
    l.frame_time = UNITS / 25;
    l.same_picture = true;
    return l;
}

class SenderTest : public TempRegistry {};

TEST_F(SenderTest, TwoViewersOneSlowTheGraphAndTheFastViewerKeepTheirPace) {
    SenderGraph g(camera(MEDIASUBTYPE_RGB32, 32, false));
    ASSERT_TRUE(g.listening());
    const int port = g.sender->Server().port();
    Viewer fast(port, "/video.mjpg");
    Viewer slow(port, "/video.mjpg", 4096);
    ASSERT_TRUE(fast.connected() && slow.connected());
    const std::string head = fast.head();
    EXPECT_EQ(head.rfind("HTTP/1.1 200", 0), 0u) << head;
    EXPECT_NE(head.find("Content-Type: multipart/x-mixed-replace; boundary=kavroframe\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.find("Transfer-Encoding"), std::string::npos);
    ASSERT_EQ(slow.head().rfind("HTTP/1.1 200", 0), 0u);
    ASSERT_EQ(g.control->Run(), S_OK);

    // The slow viewer takes one picture and then reads nothing for 1.5 s.
    const std::vector<std::uint8_t> first = slow.part();
    ASSERT_FALSE(first.empty());
    const LONG encoded_before = g.sender->FramesEncoded();
    const std::uint64_t sent_before = g.sender->Server().parts_sent();
    int fast_parts = 0;
    const auto end = std::chrono::steady_clock::now() + 1500ms;
    std::vector<std::uint8_t> last;
    while (std::chrono::steady_clock::now() < end) {
        last = fast.part();
        ASSERT_FALSE(last.empty());
        ++fast_parts;
    }
    const LONG encoded = g.sender->FramesEncoded() - encoded_before;
    const std::uint64_t sent = g.sender->Server().parts_sent() - sent_before;
    // 25 frames a second go on (a loaded machine may lose a few), the fast viewer gets nearly all of them, and
    // what went to the slow one in that time is the few pictures its connection holds (the sender keeps its
    // send buffer small: 128 KiB, as the kernel doubles the 64 KiB asked).
    EXPECT_GE(encoded, 25);
    EXPECT_GE(fast_parts, encoded * 8 / 10);
    const std::int64_t held = 2 + std::int64_t(160 * 1024 / first.size());
    EXPECT_LE(std::int64_t(sent) - fast_parts, held) << "parts written to the slow viewer while it did not read, "
                                                     << first.size() << " bytes each";
    // It resumes with whole pictures.
    std::vector<std::uint8_t> resumed;
    for (int i = 0; i < 3; ++i) {
        resumed = slow.part();
        ASSERT_FALSE(resumed.empty());
    }
    EXPECT_EQ(g.sender->Server().streams(), 2);
    EXPECT_EQ(g.sender->FramesRefused(), 0);

    // The pictures are the source's: at least 30 dB.
    EXPECT_GE(psnr_against_scene(last, 720, 576), 30.0);
    EXPECT_GE(psnr_against_scene(resumed, 720, 576), 30.0);
}

TEST_F(SenderTest, Rgb24BottomUpIsSentTheRightWayUpAndOnePictureIsServedAlone) {
    SenderGraph g(camera(MEDIASUBTYPE_RGB24, 24, true));
    ASSERT_TRUE(g.listening());
    const int port = g.sender->Server().port();
    {
        Viewer early(port, "/image.jpg");
        EXPECT_EQ(early.head().rfind("HTTP/1.1 503", 0), 0u);
    }
    ASSERT_EQ(g.control->Run(), S_OK);
    // The stream read as the receiving side reads it: the boundary from the content type, the parts framed by
    // the multipart parser, each decoded.
    Viewer stream(port, "/video.mjpg");
    const std::string head = stream.head();
    const auto type = head.find("Content-Type: ");
    ASSERT_NE(type, std::string::npos);
    const auto boundary =
        kavro::mjpeg::boundary_from_content_type(head.substr(type + 14, head.find("\r\n", type) - type - 14));
    ASSERT_TRUE(boundary);
    kavro::mjpeg::MultipartParser parser(*boundary);
    std::vector<std::vector<std::uint8_t>> parts;
    while (parts.size() < 3) {
        const std::vector<std::uint8_t> some = stream.bytes(16384);
        ASSERT_FALSE(some.empty());
        ASSERT_TRUE(parser.feed(some, [&](std::span<const std::uint8_t> body, std::string_view content_type) {
            EXPECT_EQ(content_type, "image/jpeg");
            parts.emplace_back(body.begin(), body.end());
        })) << parser.error();
    }
    for (const auto& part : parts) EXPECT_GE(psnr_against_scene(part, 720, 576), 30.0);

    Viewer one(port, "/image.jpg");
    const std::string one_head = one.head();
    EXPECT_EQ(one_head.rfind("HTTP/1.1 200", 0), 0u) << one_head;
    EXPECT_NE(one_head.find("Content-Type: image/jpeg"), std::string::npos);
    const std::string body = one.rest();
    EXPECT_GE(psnr_against_scene(std::vector<std::uint8_t>(body.begin(), body.end()), 720, 576), 30.0);

    Viewer other(port, "/other");
    EXPECT_EQ(other.head().rfind("HTTP/1.1 404", 0), 0u);
}

TEST_F(SenderTest, ViewerLimitAndABusyPortTakenWhenFree) {
    // A port held by someone else: the sender keeps trying and listens once it is free.
    const int held = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(held, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(held, 1), 0);
    ASSERT_EQ(::getsockname(held, reinterpret_cast<sockaddr*>(&a), &len), 0);
    sender::ServerOptions options = SenderGraph::loopback();
    options.port = ntohs(a.sin_port);
    options.retry = 100ms;
    options.max_streams = 1;
    SenderGraph g(camera(MEDIASUBTYPE_RGB32, 32, false), options);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(g.sender->Server().port(), 0);
    ::close(held);
    ASSERT_TRUE(g.listening());
    EXPECT_EQ(g.sender->Server().port(), options.port);

    ASSERT_EQ(g.control->Run(), S_OK);
    Viewer first(options.port, "/video.mjpg");
    first.head();
    EXPECT_FALSE(first.part().empty());
    Viewer second(options.port, "/video.mjpg");
    EXPECT_EQ(second.head().rfind("HTTP/1.1 503", 0), 0u);
}

TEST_F(SenderTest, RegisteredCreatedByClsidAndFoundByName) {
    std::string out;
    ASSERT_EQ(regsvr32(REGSVR32, std::string("/s ") + SENDER_AX, &out), 0) << out;
    // Where it listens comes from the environment: a free port on loopback.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ::close(probe);
    const int port = ntohs(a.sin_port);
    setenv("KAVRO_JPEG_SENDER_ADDRESS", "127.0.0.1", 1);
    setenv("KAVRO_JPEG_SENDER_PORT", std::to_string(port).c_str(), 1);
    std::string name;
    ComPtr<IBaseFilter> byName = find_filter_by_name("Jpeg Sender", &name);
    ASSERT_TRUE(byName);
    EXPECT_EQ(name, "Jpeg Sender");
    CLSID clsid{};
    ASSERT_EQ(byName->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_JpegSender);
    EXPECT_TRUE(find_pin(byName.get(), PINDIR_INPUT));
    bool answered = false;
    for (int i = 0; i < 100 && !answered; ++i) {
        Viewer v(port, "/image.jpg");
        answered = v.connected() && v.head().rfind("HTTP/1.1 503", 0) == 0; // listening, no picture yet
        if (!answered) std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(answered);
    byName.reset();
    auto byClsid = create<IBaseFilter>(CLSID_JpegSender, IID_IBaseFilter);
    EXPECT_TRUE(byClsid);
    byClsid.reset();
    unsetenv("KAVRO_JPEG_SENDER_ADDRESS");
    unsetenv("KAVRO_JPEG_SENDER_PORT");

    void* lib = kavro::com::load_library(SENDER_AX);
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(dlsym(lib, "DllGetClassObject"), nullptr);
    EXPECT_EQ(dlsym(lib, "_ZN11CSenderJPEG14CreateInstanceEP8IUnknownPi"), nullptr);
    ASSERT_EQ(regsvr32(REGSVR32, std::string("/u /s ") + SENDER_AX, &out), 0) << out;
    EXPECT_FALSE(kavro::registry::key_exists(
        "SOFTWARE\\Classes\\CLSID\\{5DD88F29-B37D-47B4-B918-DFC207891374}"));
}

} // namespace
