// What a running Noir -> renderer graph costs: Noir (from noir.ax) into the null renderer and into the video
// renderer (frames handed to a frame sink that keeps the last one's first byte), run for a few seconds;
// process CPU time over wall time as a share of one core, and the frames per second the display tick lets
// through. Target: under 3 % of a core.
#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/dshow/dshow.h"

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

double cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

ComPtr<IBaseFilter> make_noir() {
    void* lib = kavro::com::load_library(NOIR_AX);
    if (!lib) return nullptr;
    auto get = reinterpret_cast<DllGetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    if (!get || FAILED(get(make_guid("9E237DA7-8506-453F-99D9-8B80F69254FB"), IID_IClassFactory, factory.put_void())))
        return nullptr;
    ComPtr<IBaseFilter> noir;
    factory->CreateInstance(nullptr, IID_IBaseFilter, noir.put_void());
    return noir;
}

void run_graph(benchmark::State& state, REFCLSID renderer_clsid) {
    kavro::dshow::register_builtin_classes();
    std::atomic<long> frames{0};
    std::atomic<int> last{0};
    kavro::dshow::set_video_frame_sink([&](const kavro::dshow::VideoFrame& f) {
        last.store(f.data[f.length / 2], std::memory_order_relaxed);
        frames.fetch_add(1, std::memory_order_relaxed);
    });
    ComPtr<IBaseFilter> noir = make_noir();
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> renderer;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IMediaControl> control;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.put_void());
    CoCreateInstance(renderer_clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, renderer.put_void());
    CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                     builder.put_void());
    if (!noir || !graph || !renderer || !builder || FAILED(graph.as(IID_IMediaControl, control)) ||
        FAILED(builder->SetFiltergraph(graph.get())) || FAILED(graph->AddFilter(noir.get(), "Noir")) ||
        FAILED(graph->AddFilter(renderer.get(), "Renderer")) ||
        FAILED(builder->RenderStream(nullptr, &MEDIATYPE_Video, noir.get(), nullptr, renderer.get()))) {
        state.SkipWithError("cannot build the Noir graph");
        return;
    }
    const double seconds = 3.0;
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double c0 = cpu_seconds();
        const auto w0 = std::chrono::steady_clock::now();
        control->Run();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        control->Stop();
        cpu += cpu_seconds() - c0;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    }
    kavro::dshow::set_video_frame_sink(nullptr);
    state.counters["core_percent"] = 100.0 * cpu / wall;
    state.counters["cpu_ms_per_s"] = 1000.0 * cpu / wall;
    if (renderer_clsid == CLSID_VideoRenderer) state.counters["frames_per_s"] = double(frames.load()) / wall;
}

void BM_NoirIntoNullRenderer(benchmark::State& state) { run_graph(state, CLSID_NullRenderer); }
void BM_NoirIntoVideoRenderer(benchmark::State& state) { run_graph(state, CLSID_VideoRenderer); }

BENCHMARK(BM_NoirIntoNullRenderer)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NoirIntoVideoRenderer)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
