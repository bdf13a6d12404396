// What a running Noir -> mixing renderer graph costs: the mixer's renderer (12 inputs, windowless, 720x576
// into a window of the window system) with Noir on input 0, run for a few seconds; process CPU time over wall
// time, and the frames and pictures per second that the display tick lets through.
#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/dshow/dshow.h"
#include "platform/dshow/vmr9/vmr9.h"
#include "platform/ui/ui.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <dlfcn.h>
#include <sys/resource.h>
#include <thread>

namespace {

double cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

ComPtr<IBaseFilter> make_noir(std::string& error) {
    void* lib = kavro::com::load_library(NOIR_AX, &error);
    if (!lib) return nullptr;
    auto get = reinterpret_cast<DllGetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    if (!get || FAILED(get(make_guid("9E237DA7-8506-453F-99D9-8B80F69254FB"), IID_IClassFactory, factory.put_void())))
        return nullptr;
    ComPtr<IBaseFilter> noir;
    factory->CreateInstance(nullptr, IID_IBaseFilter, noir.put_void());
    return noir;
}

void BM_NoirIntoMixingRenderer(benchmark::State& state) {
    kavro::dshow::register_builtin_classes(); // loads the platform's video library
    std::string error;
    ComPtr<IBaseFilter> noir = make_noir(error);
    if (!noir) {
        state.SkipWithError(("noir.ax: " + error).c_str());
        return;
    }
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> vmr;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.put_void());
    CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, vmr.put_void());
    ComPtr<IVMRFilterConfig9> config;
    ComPtr<IVMRWindowlessControl9> windowless;
    ComPtr<IMediaControl> control;
    ComPtr<ICaptureGraphBuilder2> builder;
    CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                     builder.put_void());
    if (!graph || !vmr || !builder || FAILED(graph.as(IID_IMediaControl, control)) ||
        FAILED(vmr.as(IID_IVMRFilterConfig9, config)) || FAILED(vmr.as(IID_IVMRWindowlessControl9, windowless))) {
        state.SkipWithError("graph objects missing");
        return;
    }
    graph->AddFilter(noir.get(), "Noir");
    graph->AddFilter(vmr.get(), "VMR9");
    config->SetRenderingMode(VMR9Mode_Windowless);
    config->SetNumberOfStreams(12);
    kavro::ui::WindowSpec spec;
    spec.style = kavro::ui::WS_POPUP;
    spec.rect = {0, 0, 720, 576};
    const kavro::ui::Hwnd window = kavro::ui::create_window(spec, kavro::ui::def_window_proc);
    windowless->SetVideoClippingWindow(OAHWND(window.value));
    const RECT dest{0, 0, 720, 576};
    windowless->SetVideoPosition(nullptr, &dest);
    builder->SetFiltergraph(graph.get());
    if (FAILED(builder->RenderStream(nullptr, &MEDIATYPE_Video, noir.get(), nullptr, vmr.get()))) {
        state.SkipWithError("Noir does not connect");
        return;
    }
    std::atomic<int> pictures{0};
    std::shared_ptr<const kavro::ui::VideoFrame> last;
    const double seconds = 4.0;
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        control->Run();
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // start-up left out
        const double c0 = cpu_seconds();
        const auto t0 = std::chrono::steady_clock::now();
        std::shared_ptr<const kavro::ui::VideoFrame> seen;
        const auto end = t0 + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            auto f = kavro::ui::current_frame(window);
            if (f && f != seen) {
                seen = f;
                ++pictures;
            }
        }
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu = cpu_seconds() - c0;
        control->Stop();
        last = seen;
    }
    state.counters["core_percent"] = 100.0 * cpu / wall;
    state.counters["pictures_per_s"] = pictures.load() / wall;
    state.SetLabel(last && last->width == 720 && last->pixels[288 * 720 + 360] == 0xff000000u ? "black 720x576"
                                                                                                : "WRONG PICTURE");
    kavro::ui::destroy_window(window);
}

} // namespace

BENCHMARK(BM_NoirIntoMixingRenderer)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
