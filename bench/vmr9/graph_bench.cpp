// What a running Noir -> mixing renderer graph costs: the mixer's renderer (12 inputs, windowless, 720x576
// into a window of the window system) with Noir on input 0, run for a few seconds; process CPU time over wall
// time, and the frames and pictures per second that the display tick lets through.
#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/dshow/dshow.h"
#include "platform/dshow/vmr9/vmr9.h"
#include "platform/ui/gdi.h"
#include "platform/ui/ui.h"
#include "tests/platform/dshow/vmr9/test_source.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <dlfcn.h>
#include <sys/resource.h>
#include <string>
#include <thread>
#include <vector>

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

// The mixer's picture live: Noir plus eleven 768x576 RGB32 cameras at 25 frames a second in the 4x3 grid at
// alpha 0.8, and the colour-keyed sensor overlay handed over 25 times a second, into a 720x576 window.
// range(0) = 0: the whole graph; 1: the same sources into null renderers (what the sources cost alone).
void BM_LiveMixerPicture(benchmark::State& state) {
    const bool sources_only = state.range(0) != 0;
    kavro::dshow::register_builtin_classes();
    std::string error;
    ComPtr<IBaseFilter> noir = make_noir(error);
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.put_void());
    if (!noir || !graph || FAILED(graph.as(IID_IMediaControl, control))) {
        state.SkipWithError("graph objects missing");
        return;
    }
    auto connect = [&](IBaseFilter* from, IBaseFilter* to, int input) {
        ComPtr<IEnumPins> e;
        ComPtr<IPin> out, in;
        from->EnumPins(e.put());
        e->Next(1, out.put(), nullptr);
        ComPtr<IEnumPins> e2;
        to->EnumPins(e2.put());
        for (int i = 0; i <= input; ++i) e2->Next(1, in.put(), nullptr);
        return graph->ConnectDirect(out.get(), in.get(), nullptr);
    };
    auto null_renderer = [&]() {
        ComPtr<IBaseFilter> r;
        CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, r.put_void());
        graph->AddFilter(r.get(), "Null Renderer");
        return r;
    };

    ComPtr<IBaseFilter> vmr;
    ComPtr<IVMRMixerControl9> mixer;
    ComPtr<IVMRMixerBitmap9> bitmap;
    kavro::ui::Hwnd window;
    graph->AddFilter(noir.get(), "Noir");
    if (!sources_only) {
        CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, vmr.put_void());
        ComPtr<IVMRFilterConfig9> config;
        ComPtr<IVMRWindowlessControl9> windowless;
        vmr.as(IID_IVMRFilterConfig9, config);
        vmr.as(IID_IVMRWindowlessControl9, windowless);
        vmr.as(IID_IVMRMixerControl9, mixer);
        vmr.as(IID_IVMRMixerBitmap9, bitmap);
        graph->AddFilter(vmr.get(), "VMR9");
        config->SetRenderingMode(VMR9Mode_Windowless);
        config->SetNumberOfStreams(12);
        kavro::ui::WindowSpec spec;
        spec.style = kavro::ui::WS_POPUP;
        spec.rect = {0, 0, 720, 576};
        window = kavro::ui::create_window(spec, kavro::ui::def_window_proc);
        windowless->SetVideoClippingWindow(OAHWND(window.value));
        const RECT dest{0, 0, 720, 576};
        windowless->SetVideoPosition(nullptr, &dest);
        connect(noir.get(), vmr.get(), 0);
        mixer->SetZOrder(0, 15);
    } else {
        connect(noir.get(), null_renderer().get(), 0);
    }
    static const std::uint32_t bars[7] = {0xc0c0c0, 0xc0c000, 0x00c0c0, 0x00c000, 0xc000c0, 0xc00000, 0x0000c0};
    std::vector<ComPtr<IBaseFilter>> cameras;
    for (int k = 1; k <= 11; ++k) {
        kavro::test::TestVideoLayout layout{MEDIASUBTYPE_RGB32, 32, 768, 576, true};
        layout.frame_time = UNITS / 25;
        layout.same_picture = true;
        auto cam = ComPtr<IBaseFilter>::adopt(kavro::test::CTestVideoSource::create(
            layout, [k](int x, int y, int) { return bars[x * 7 / 768] + std::uint32_t((y / 64 + k) & 0xf); }));
        graph->AddFilter(cam.get(), ("camera " + std::to_string(k)).c_str());
        if (sources_only) {
            connect(cam.get(), null_renderer().get(), 0);
        } else {
            connect(cam.get(), vmr.get(), k);
            const int c = (k - 1) % 4, r = (k - 1) / 4;
            const VMR9NormalizedRect rect{c / 4.0f, r / 3.0f, (c + 1) / 4.0f, (r + 1) / 3.0f};
            mixer->SetOutputRect(DWORD(k), &rect);
            mixer->SetAlpha(DWORD(k), 0.8f);
        }
        cameras.push_back(cam);
    }
    // The sensor picture: black with gauges, handed over as the sample grabber's callback would.
    auto canvas = std::make_shared<kavro::ui::Canvas>(768, 576);
    for (int y = 0; y < 576; ++y)
        for (int x = 0; x < 768; ++x)
            canvas->set_pixel(x, y, (x > 20 && x < 60 && y > 100) || (y > 520 && y < 560 && x % 5 == 0) ? 0xff00ff40u : 0xff000000u);
    kavro::ui::Dc dc(canvas);
    std::atomic<bool> stop{false};
    std::thread sensor;
    if (!sources_only) {
        sensor = std::thread([&] {
            VMR9AlphaBitmap ab{};
            ab.dwFlags = VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_SrcColorKey;
            ab.hdc = &dc;
            ab.rSrc = {0, 0, 768, 576};
            ab.rDest = {0, 0, 1, 1};
            ab.fAlpha = 0.8f;
            while (!stop.load(std::memory_order_relaxed)) {
                bitmap->SetAlphaBitmap(&ab);
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
            }
        });
    }
    int pictures = 0;
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        control->Run();
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // start-up left out
        const double c0 = cpu_seconds();
        const auto t0 = std::chrono::steady_clock::now();
        std::shared_ptr<const kavro::ui::VideoFrame> seen;
        const auto end = t0 + std::chrono::seconds(4);
        while (std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (!window) continue;
            auto f = kavro::ui::current_frame(window);
            if (f && f != seen) {
                seen = f;
                ++pictures;
            }
        }
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu = cpu_seconds() - c0;
        control->Stop();
    }
    stop = true;
    if (sensor.joinable()) sensor.join();
    state.counters["core_percent"] = 100.0 * cpu / wall;
    if (!sources_only) state.counters["pictures_per_s"] = pictures / wall;
    state.SetLabel(sources_only ? "sources into null renderers" : "whole graph");
    if (window) kavro::ui::destroy_window(window);
}

} // namespace

BENCHMARK(BM_LiveMixerPicture)->Arg(0)->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NoirIntoMixingRenderer)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
