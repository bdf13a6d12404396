// Four network cameras into a four-input mixing renderer (2 x 2 grid), as the console's composite runs them:
// prints the CPU share of one core that the whole process used while the graph ran, and the pictures each
// camera's decoder delivered per second.
//   camip_graph_bench --camera ADDRESS:PORT (four times) [--seconds N]
#include "outside/network_camera.h"
#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/dshow/builder.h"
#include "platform/dshow/dshow.h"
#include "platform/dshow/jpeg_decoder.h"
#include "platform/dshow/vmr9/vmr9.h"

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

ComPtr<IPin> pin(IBaseFilter* f, PIN_DIRECTION want, int index) {
    ComPtr<IEnumPins> e;
    f->EnumPins(e.put());
    IPin* p = nullptr;
    ULONG got = 0;
    int n = 0;
    while (e->Next(1, &p, &got) == S_OK) {
        ComPtr<IPin> held = ComPtr<IPin>::adopt(p);
        PIN_DIRECTION d;
        held->QueryDirection(&d);
        if (d == want && n++ == index) return held;
    }
    return nullptr;
}

int fail(const char* what, HRESULT hr) {
    std::fprintf(stderr, "camip_graph_bench: %s failed (0x%08X)\n", what, unsigned(hr));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::pair<std::string, int>> cameras;
    int seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i], value = argv[i + 1];
        if (arg == "--seconds") {
            seconds = std::atoi(value.c_str());
        } else if (arg == "--camera") {
            const auto colon = value.rfind(':');
            cameras.emplace_back(value.substr(0, colon), std::atoi(value.c_str() + colon + 1));
        }
    }
    if (cameras.size() != 4 || seconds <= 0) {
        std::fprintf(stderr, "usage: camip_graph_bench --camera A:P --camera A:P --camera A:P --camera A:P [--seconds N]\n");
        return 2;
    }
    char dir[] = "/tmp/kavro-camip-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string registry = std::string(dir) + "/registry.xml";
    setenv("KAVRO_REGISTRY", registry.c_str(), 1);
    kavro::dshow::register_builtin_classes(); // the graph, the mixing renderer and the JPEG decoder
    for (const char* lib : {CAMIP1_AX, CAMIP2_AX, CAMIP3_AX, CAMIP4_AX}) {
        void* h = kavro::com::load_library(lib);
        auto reg = h ? reinterpret_cast<DllRegisterServerFn>(dlsym(h, "DllRegisterServer")) : nullptr;
        if (!reg || FAILED(reg())) return fail(lib, E_FAIL);
    }
    const CLSID classes[] = {CLSID_NetworkCamera1, CLSID_NetworkCamera2, CLSID_NetworkCamera3, CLSID_NetworkCamera4};
    const IID iids[] = {IID_INetworkCamera1, IID_INetworkCamera2, IID_INetworkCamera3, IID_INetworkCamera4};
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> vmr;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.put_void());
    if (FAILED(hr)) return fail("graph", hr);
    hr = CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, vmr.put_void());
    if (FAILED(hr)) return fail("renderer", hr);
    ComPtr<IVMRFilterConfig9> config;
    ComPtr<IVMRMixerControl9> mixer;
    ComPtr<IVMRWindowlessControl9> windowless;
    ComPtr<IMediaControl> control;
    vmr.as(IID_IVMRFilterConfig9, config);
    vmr.as(IID_IVMRMixerControl9, mixer);
    vmr.as(IID_IVMRWindowlessControl9, windowless);
    graph.as(IID_IMediaControl, control);
    graph->AddFilter(vmr.get(), "VMR9");
    config->SetRenderingMode(VMR9Mode_Windowless);
    config->SetNumberOfStreams(4);
    RECT dest{0, 0, 768, 576};
    windowless->SetVideoPosition(nullptr, &dest);
    std::vector<ComPtr<IBaseFilter>> sources(4);
    for (int k = 0; k < 4; ++k) {
        hr = CoCreateInstance(classes[k], nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, sources[k].put_void());
        if (FAILED(hr)) return fail("camera", hr);
        ComPtr<INetworkCamera> camera;
        sources[k].as(iids[k], camera);
        int bytes[4] = {};
        const std::string& text = cameras[k].first;
        const char* at = text.data();
        for (int& v : bytes) {
            at = std::from_chars(at, text.data() + text.size(), v).ptr;
            if (at < text.data() + text.size()) ++at; // the dot
        }
        camera->SetCamera(bytes[0], bytes[1], bytes[2], bytes[3], cameras[k].second, 2);
        graph->AddFilter(sources[k].get(), ("Caméras IP" + std::to_string(k + 1)).c_str());
        hr = graph->Connect(pin(sources[k].get(), PINDIR_OUTPUT, 0).get(), pin(vmr.get(), PINDIR_INPUT, k).get());
        if (FAILED(hr)) return fail("connect", hr);
        const VMR9NormalizedRect cell{float(k % 2) / 2, float(k / 2) / 2, float(k % 2 + 1) / 2, float(k / 2 + 1) / 2};
        mixer->SetOutputRect(DWORD(k), &cell);
    }
    std::vector<ComPtr<IJpegDecoderStats>> stats;
    for (auto& s : sources) {
        ComPtr<IPin> peer;
        pin(s.get(), PINDIR_OUTPUT, 0)->ConnectedTo(peer.put());
        PIN_INFO info{};
        peer->QueryPinInfo(&info);
        ComPtr<IBaseFilter> decoder = ComPtr<IBaseFilter>::adopt(info.pFilter);
        stats.emplace_back();
        decoder.as(IID_IJpegDecoderStats, stats.back());
    }
    const auto decoded = [&] {
        long total = 0;
        for (auto& s : stats) {
            LONG d = 0, x = 0;
            s->GetCounts(&d, &x);
            total += d;
        }
        return total;
    };
    control->Run();
    std::this_thread::sleep_for(std::chrono::seconds(2)); // connections made, steady state
    const double c0 = cpu_seconds();
    const long f0 = decoded();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double c1 = cpu_seconds();
    const long f1 = decoded();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    control->Stop();
    std::printf("ours: %.1f %% of one core, %.1f pictures/s decoded per camera\n", 100 * (c1 - c0) / wall,
                double(f1 - f0) / wall / 4);
    std::remove(registry.c_str());
    rmdir(dir);
    return 0;
}
