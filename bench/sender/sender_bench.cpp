// What the network sender costs. Target: encoding 720 x 576 at 25 frames a second under 10 % of one core.
// - BM_Encode720x576: one JPEG encode (quality 75, 4:2:0) of a 720 x 576 RGB32 camera-like picture (ramps and
//   grain); core_percent_at_25 is 25 encodes' CPU time as a share of one core.
// - BM_SenderGraph: a running graph, a 25/s 720 x 576 RGB32 source into the Jpeg Sender with one viewer
//   reading the stream on loopback; process CPU over wall time (source, encoder, HTTP, viewer) as a share of
//   one core.
#include "outside/sender/sender.h"
#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/dshow/dshow.h"
#include "platform/jpeg/jpeg.h"
#include "tests/platform/dshow/vmr9/test_source.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

double cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

std::uint32_t picture(int x, int y, int) {
    const std::uint32_t grain = (std::uint32_t(x) * 2654435761u ^ std::uint32_t(y) * 40503u) >> 27; // 0..31
    const int r = x * 200 / 719 + int(grain), g = y * 200 / 575 + int(grain),
              b = 128 + int(60 * std::sin(x / 23.0) * std::cos(y / 17.0));
    return std::uint32_t(std::min(r, 255)) << 16 | std::uint32_t(std::min(g, 255)) << 8 | std::uint32_t(b);
}

void BM_Encode720x576(benchmark::State& state) {
    std::vector<std::uint32_t> px(720 * 576);
    for (int y = 0; y < 576; ++y)
        for (int x = 0; x < 720; ++x) px[std::size_t(y) * 720 + x] = picture(x, y, 0);
    const kavro::jpeg::ImageView view{reinterpret_cast<const std::uint8_t*>(px.data()), 720, 576, 720 * 4,
                                      kavro::jpeg::PixelFormat::bgrx32, false};
    std::vector<std::uint8_t> out;
    double cpu = 0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const double c0 = thread_cpu_seconds();
        if (kavro::jpeg::encode(view, {}, out) != kavro::jpeg::Status::ok) state.SkipWithError("encode failed");
        cpu += thread_cpu_seconds() - c0;
        bytes = out.size();
    }
    const double per_frame = cpu / double(state.iterations());
    state.counters["cpu_ms_per_frame"] = 1000.0 * per_frame;
    state.counters["core_percent_at_25"] = 100.0 * 25.0 * per_frame;
    state.counters["jpeg_kB"] = double(bytes) / 1024.0;
}

ComPtr<IPin> pin_of(IBaseFilter* f, PIN_DIRECTION want) {
    ComPtr<IEnumPins> e;
    if (FAILED(f->EnumPins(e.put()))) return nullptr;
    IPin* p = nullptr;
    ULONG got = 0;
    while (e->Next(1, &p, &got) == S_OK) {
        ComPtr<IPin> pin = ComPtr<IPin>::adopt(p);
        PIN_DIRECTION d;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == want) return pin;
    }
    return nullptr;
}
ComPtr<IPin> out_pin(IBaseFilter* f) { return pin_of(f, PINDIR_OUTPUT); }
ComPtr<IPin> in_pin(IBaseFilter* f) { return pin_of(f, PINDIR_INPUT); }

// Reads the stream as fast as it comes, counting parts' bytes.
void viewer(int port, std::atomic<bool>& stop, std::atomic<long>& bytes) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{0, 200000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const char request[] = "GET /video.mjpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL);
        char buffer[65536];
        while (!stop) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got > 0) bytes += got;
            if (got == 0) break;
        }
    }
    ::close(fd);
}

void BM_SenderGraph(benchmark::State& state) {
    kavro::dshow::register_builtin_classes();
    sender::ServerOptions options;
    options.address = "127.0.0.1";
    options.port = 0;
    HRESULT hr = S_OK;
    ComPtr<IBaseFilter> filter;
    CUnknown* obj = CSenderJPEG::CreateInstance(nullptr, &hr, options);
    obj->NonDelegatingQueryInterface(IID_IBaseFilter, filter.put_void());
    auto* sender = static_cast<CSenderJPEG*>(static_cast<CBaseRenderer*>(filter.get()));
    kavro::test::TestVideoLayout layout;
    layout.width = 720;
    layout.height = 576;
    layout.bottom_up = false;
    layout.frame_time = UNITS / 25;
    layout.same_picture = true;
    ComPtr<IBaseFilter> source = ComPtr<IBaseFilter>::adopt(kavro::test::CTestVideoSource::create(layout, picture));
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.put_void());
    if (!graph || FAILED(graph.as(IID_IMediaControl, control)) || FAILED(graph->AddFilter(source.get(), "source")) ||
        FAILED(graph->AddFilter(filter.get(), "JPEG Sender")) ||
        FAILED(graph->Connect(out_pin(source.get()).get(), in_pin(filter.get()).get()))) {
        state.SkipWithError("cannot build the sender graph");
        return;
    }
    for (int i = 0; i < 300 && sender->Server().port() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::atomic<bool> stop{false};
    std::atomic<long> bytes{0};
    std::thread reader([&] { viewer(sender->Server().port(), stop, bytes); });
    double cpu = 0, wall = 0;
    LONG frames = 0;
    for (auto _ : state) {
        const LONG f0 = sender->FramesEncoded();
        const double c0 = cpu_seconds();
        const auto w0 = std::chrono::steady_clock::now();
        control->Run();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        control->Stop();
        cpu += cpu_seconds() - c0;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
        frames += sender->FramesEncoded() - f0;
    }
    stop = true;
    reader.join();
    state.counters["core_percent"] = 100.0 * cpu / wall;
    state.counters["frames_per_s"] = double(frames) / wall;
    state.counters["viewer_kB_per_s"] = double(bytes.load()) / 1024.0 / wall;
}

} // namespace

BENCHMARK(BM_Encode720x576)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SenderGraph)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
