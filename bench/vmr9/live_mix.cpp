// The mixer's live job as a share of one core, for comparison with GStreamer's compositor doing the same job
// (bench/vmr9/live_bench.sh runs both in alternating rounds):
//   eleven live 768x576 32-bit top-down cameras at 25 frames a second, each writing a new moving picture into
//   every frame (a scrolling colour ramp and a bouncing ball), composed by the running mixing renderer into
//   the 4x3 grid of a 720x576 window at alpha 0.8 over black and presented 25 times a second.
// With --sources-only the same cameras feed null renderers: what the sources alone cost.
//
//   vmr9_live_mix [--seconds S] [--inputs N] [--sources-only]
//
// After two seconds of start-up the process's CPU time is taken over S seconds (20 by default). One line:
//   ours: core_percent=P pictures_per_s=F in_place_per_s=I converted_per_s=C picture=ok|WRONG
#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/dshow/base/source.h"
#include "platform/dshow/dshow.h"
#include "platform/dshow/vmr9/vmr9.h"
#include "platform/ui/ui.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr int camera_width = 768, camera_height = 576;
constexpr int out_width = 720, out_height = 576;
constexpr REFERENCE_TIME frame_time = UNITS / 25;
constexpr CLSID CLSID_LiveCamera = make_guid("4A0B7C11-52E3-4F0D-8E6B-2C9D1A7F3B55");

double cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// A camera: 32-bit top-down frames stamped at 25 a second, each one drawn whole. The picture is a colour ramp
// that scrolls by four pixels a frame with a ball bouncing over it; `k` gives every camera its own phase.
class CLiveCameraStream final : public CSourceStream {
public:
    CLiveCameraStream(HRESULT* phr, CSource* filter, int k)
        : CSourceStream("live camera", phr, filter, "Output"), k_(k), ramp_(2 * 1024) {
        for (int i = 0; i < 1024; ++i) { // one period of a ramp through red, green and blue
            const int t = i * 3 * 256 / 1024, up = t % 256, down = 255 - up;
            const std::uint32_t c = t < 256   ? std::uint32_t(down) << 16 | std::uint32_t(up) << 8
                                    : t < 512 ? std::uint32_t(down) << 8 | std::uint32_t(up)
                                              : std::uint32_t(up) << 16 | std::uint32_t(down);
            ramp_[std::size_t(i)] = ramp_[std::size_t(i) + 1024] = c;
        }
    }

    static constexpr LONG image_bytes = LONG(camera_width) * camera_height * 4;

    HRESULT GetMediaType(CMediaType* mt) override {
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        if (!vih) return E_OUTOFMEMORY;
        std::memset(vih, 0, sizeof *vih);
        vih->AvgTimePerFrame = frame_time;
        vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih->bmiHeader.biWidth = camera_width;
        vih->bmiHeader.biHeight = -camera_height; // top-down
        vih->bmiHeader.biPlanes = 1;
        vih->bmiHeader.biBitCount = 32;
        vih->bmiHeader.biCompression = BI_RGB;
        vih->bmiHeader.biSizeImage = DWORD(image_bytes);
        mt->SetType(&MEDIATYPE_Video);
        mt->SetFormatType(&FORMAT_VideoInfo);
        mt->SetTemporalCompression(FALSE);
        mt->SetSubtype(&MEDIASUBTYPE_RGB32);
        mt->SetSampleSize(ULONG(image_bytes));
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = 1;
        request->cbBuffer = image_bytes;
        ALLOCATOR_PROPERTIES actual{};
        const HRESULT hr = allocator->SetProperties(request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer < image_bytes ? E_FAIL : S_OK;
    }
    HRESULT FillBuffer(IMediaSample* sample) override {
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data)) || !data || sample->GetSize() < image_bytes) return E_FAIL;
        REFERENCE_TIME start = n_ * frame_time, stop = start + frame_time;
        sample->SetTime(&start, &stop);
        sample->SetActualDataLength(image_bytes);
        auto* px = reinterpret_cast<std::uint32_t*>(data);
        const int shift = int((n_ * 4 + k_ * 97) % 1024);
        for (int y = 0; y < camera_height; ++y)
            std::memcpy(px + std::size_t(y) * camera_width, &ramp_[std::size_t((shift + y) % 1024)], camera_width * 4);
        // The ball: radius 40, bouncing inside the frame.
        const int r = 40, span_x = camera_width - 2 * r, span_y = camera_height - 2 * r;
        const int tx = int((n_ * 7 + k_ * 53) % (2 * span_x)), ty = int((n_ * 5 + k_ * 31) % (2 * span_y));
        const int cx = r + (tx < span_x ? tx : 2 * span_x - tx), cy = r + (ty < span_y ? ty : 2 * span_y - ty);
        for (int y = cy - r; y < cy + r; ++y) {
            const int dy = y - cy;
            int dx = 0;
            while ((dx + 1) * (dx + 1) + dy * dy <= r * r) ++dx;
            std::fill_n(px + std::size_t(y) * camera_width + std::size_t(cx - dx), std::size_t(2 * dx), 0xffffffu);
        }
        ++n_;
        return S_OK;
    }
    HRESULT Notify(IBaseFilter*, Quality) override { return S_OK; }

private:
    const int k_;
    std::int64_t n_ = 0; // streaming thread only
    std::vector<std::uint32_t> ramp_;
};

class CLiveCamera final : public CSource {
public:
    static ComPtr<IBaseFilter> create(int k) {
        HRESULT hr = S_OK;
        auto* f = new CLiveCamera(&hr);
        new CLiveCameraStream(&hr, f, k); // owned by the filter
        ComPtr<IBaseFilter> out;
        f->NonDelegatingQueryInterface(IID_IBaseFilter, out.put_void());
        return out;
    }

private:
    explicit CLiveCamera(HRESULT* phr) : CSource("live camera", nullptr, CLSID_LiveCamera, phr) {}
};

struct Options {
    double seconds = 20;
    int inputs = 11;
    bool sources_only = false;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        auto number = [&](auto& value) {
            if (i + 1 >= argc) return false;
            const std::string_view v = argv[++i];
            return std::from_chars(v.data(), v.data() + v.size(), value).ec == std::errc{};
        };
        if (a == "--sources-only") o.sources_only = true;
        else if (a == "--seconds") {
            if (!number(o.seconds) || !(o.seconds > 0 && o.seconds <= 3600)) return false;
        } else if (a == "--inputs") {
            if (!number(o.inputs) || o.inputs < 1 || o.inputs > 11) return false;
        } else
            return false;
    }
    return true;
}

HRESULT connect(IGraphBuilder* graph, IBaseFilter* from, IBaseFilter* to, int input) {
    ComPtr<IEnumPins> e;
    ComPtr<IPin> out, in;
    from->EnumPins(e.put());
    if (e->Next(1, out.put(), nullptr) != S_OK) return E_FAIL;
    ComPtr<IEnumPins> e2;
    to->EnumPins(e2.put());
    for (int i = 0; i <= input; ++i)
        if (e2->Next(1, in.put(), nullptr) != S_OK) return E_FAIL;
    return graph->ConnectDirect(out.get(), in.get(), nullptr);
}

// The grid cell k (0..10) shows its camera: not black at its centre; the twelfth cell stays black.
bool picture_right(const kavro::ui::VideoFrame* f, int inputs) {
    if (!f || f->width != out_width || f->height != out_height) return false;
    for (int k = 0; k < 12; ++k) {
        const int x = (k % 4) * out_width / 4 + out_width / 8, y = (k / 4) * out_height / 3 + out_height / 6;
        const bool lit = (f->pixels[std::size_t(y) * out_width + std::size_t(x)] & 0xffffffu) != 0;
        if (lit != (k < inputs)) return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!parse(argc, argv, opt)) {
        std::fprintf(stderr, "usage: vmr9_live_mix [--seconds S (0..3600)] [--inputs N (1..11)] [--sources-only]\n");
        return 1;
    }
    kavro::dshow::register_builtin_classes();
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.put_void());
    if (!graph || FAILED(graph.as(IID_IMediaControl, control))) {
        std::fprintf(stderr, "vmr9_live_mix: no filter graph\n");
        return 2;
    }

    ComPtr<IBaseFilter> vmr;
    ComPtr<IVMRMixerControl9> mixer;
    ComPtr<IMixerCounts> counts;
    kavro::ui::Hwnd window;
    std::atomic<long> pictures{0};
    if (!opt.sources_only) {
        CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, vmr.put_void());
        ComPtr<IVMRFilterConfig9> config;
        ComPtr<IVMRWindowlessControl9> windowless;
        if (!vmr || FAILED(vmr.as(IID_IVMRFilterConfig9, config)) ||
            FAILED(vmr.as(IID_IVMRWindowlessControl9, windowless)) || FAILED(vmr.as(IID_IVMRMixerControl9, mixer)) ||
            FAILED(vmr.as(IID_IMixerCounts, counts))) {
            std::fprintf(stderr, "vmr9_live_mix: no mixing renderer\n");
            return 2;
        }
        graph->AddFilter(vmr.get(), "VMR9");
        config->SetRenderingMode(VMR9Mode_Windowless);
        config->SetNumberOfStreams(12); // as the mixer: stream 0 is the background's, here left to the black fill
        kavro::ui::WindowSpec spec;
        spec.style = kavro::ui::WS_POPUP;
        spec.rect = {0, 0, out_width, out_height};
        window = kavro::ui::create_window(spec, kavro::ui::def_window_proc);
        windowless->SetVideoClippingWindow(OAHWND(window.value));
        const RECT dest{0, 0, out_width, out_height};
        windowless->SetVideoPosition(nullptr, &dest);
        // Each picture goes to the window as it would without a sink, and is counted on the way.
        kavro::vmr9::set_picture_sink([&pictures](std::intptr_t w, const kavro::vmr9::ImageView& v) {
            pictures.fetch_add(1, std::memory_order_relaxed);
            kavro::ui::present_frame(kavro::ui::Hwnd{std::uint32_t(w)}, v.width, v.height, v.pixels,
                                     std::ptrdiff_t(v.stride / 4));
        });
    }

    std::vector<ComPtr<IBaseFilter>> keep;
    for (int k = 0; k < opt.inputs; ++k) {
        ComPtr<IBaseFilter> cam = CLiveCamera::create(k);
        graph->AddFilter(cam.get(), ("camera " + std::to_string(k + 1)).c_str());
        HRESULT hr;
        if (opt.sources_only) {
            ComPtr<IBaseFilter> null;
            CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, null.put_void());
            graph->AddFilter(null.get(), ("null renderer " + std::to_string(k + 1)).c_str());
            hr = connect(graph.get(), cam.get(), null.get(), 0);
            keep.push_back(null);
        } else {
            hr = connect(graph.get(), cam.get(), vmr.get(), k + 1);
            const float c = float(k % 4), r = float(k / 4);
            const VMR9NormalizedRect rect{c / 4, r / 3, (c + 1) / 4, (r + 1) / 3};
            mixer->SetOutputRect(DWORD(k + 1), &rect);
            mixer->SetAlpha(DWORD(k + 1), 0.8f);
        }
        if (FAILED(hr)) {
            std::fprintf(stderr, "vmr9_live_mix: camera %d does not connect (%s)\n", k + 1, hresult_name(hr).c_str());
            return 2;
        }
        keep.push_back(cam);
    }

    auto counted = [&](std::uint64_t& in_place, std::uint64_t& converted, std::uint64_t& composed) {
        in_place = converted = composed = 0;
        if (counts) counts->GetCounts(&in_place, &converted, &composed);
    };
    if (FAILED(control->Run())) {
        std::fprintf(stderr, "vmr9_live_mix: the graph does not run\n");
        return 2;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2)); // start-up left out, as the anchor does
    std::uint64_t i0, c0, p0, i1, c1, p1;
    counted(i0, c0, p0);
    const long shown0 = pictures.load();
    const double cpu0 = cpu_seconds();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(opt.seconds));
    const double cpu = cpu_seconds() - cpu0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    counted(i1, c1, p1);
    const long shown = pictures.load() - shown0;
    control->Stop();

    bool right = true;
    if (!opt.sources_only) {
        const auto frame = kavro::ui::current_frame(window);
        right = picture_right(frame.get(), opt.inputs) && shown > 0 && p1 - p0 >= std::uint64_t(shown);
        kavro::vmr9::set_picture_sink(nullptr);
        kavro::ui::destroy_window(window);
    }
    std::printf("ours%s: core_percent=%.1f pictures_per_s=%.2f in_place_per_s=%.1f converted_per_s=%.1f picture=%s\n",
                opt.sources_only ? " sources only" : "", 100.0 * cpu / wall, double(shown) / wall,
                double(i1 - i0) / wall, double(c1 - c0) / wall, right ? "ok" : "WRONG");
    return right ? 0 : 3;
}
