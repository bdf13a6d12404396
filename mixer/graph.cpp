#include "mixer/graph.h"

#include "platform/com/runtime.h"
#include "platform/dshow/graph_file.h"
#include "platform/sys/paths.h"
#include "platform/ui/message_box.h"

#include <filesystem>
#include <iostream>
#include <string_view>
#include <system_error>

namespace kavro::mixer {

namespace {

constexpr const char* kCameraPrefixes[4] = {"camIP", "camIP2", "camIP3", "camIP4"};
constexpr const char* kCameraGraphNames[4] = {"Caméras IP1", "Caméras IP2", "Caméras IP3", "Caméras IP4"};
constexpr const IID* kCameraIids[4] = {&IID_INetworkCamera1, &IID_INetworkCamera2, &IID_INetworkCamera3,
                                       &IID_INetworkCamera4};
constexpr DWORD kPrefsKept = 0xFFF0101F;
constexpr DWORD kPrefsSet = MixerPref9_BiLinearFiltering | MixerPref9_RenderTargetRGB;

HRESULT record(MixerState& s, HRESULT hr) {
    s.last_result.store(hr, std::memory_order_relaxed);
    return hr;
}

bool is_network_camera(int position) { return position >= 7 && position <= 10; }

ComPtr<IPin> find_pin(MixerState& s, IBaseFilter* filter, PIN_DIRECTION dir, int index, HRESULT& hr) {
    ComPtr<IPin> pin;
    hr = s.objects.builder ? s.objects.builder->FindPin(filter, dir, nullptr, nullptr, FALSE, index, pin.put())
                           : E_POINTER;
    return pin;
}

// Finds a filter by name prefix and adds it to the graph under graph_name.
HRESULT add_found(MixerState& s, const std::string& prefix, const char* graph_name, ComPtr<IBaseFilter>& out) {
    HRESULT hr = find_filter(CLSID_LegacyAmFilterCategory, prefix, 0, out.put());
    if (FAILED(hr)) return hr;
    hr = s.objects.graph->AddFilter(out.get(), graph_name);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT create_graph(MixerState& s) {
    GraphObjects& g = s.objects;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  g.graph.put_void());
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                              g.builder.put_void());
    if (SUCCEEDED(hr)) hr = g.graph.as(IID_IMediaControl, g.control);
    if (SUCCEEDED(hr)) hr = g.builder->SetFiltergraph(g.graph.get());
    return hr;
}

// The sources and the sensor branch's filters, in the order the lookups are made.
HRESULT add_sources(MixerState& s, ComPtr<IBaseFilter>& sensor, ComPtr<IBaseFilter>& grabber,
                    ComPtr<IBaseFilter>& null_renderer) {
    GraphObjects& g = s.objects;
    HRESULT hr = add_found(s, "Noir", "Noir", g.noir);
    const char* card_names[2] = {"Caméras 1", "Caméras 2"};
    for (int c = 0; c < 2 && SUCCEEDED(hr); ++c) {
        hr = add_found(s, "Adlink", card_names[c], g.card[c]);
        if (SUCCEEDED(hr)) hr = g.card[c].as(IID_IPictureAdjust, g.card_adjust[c]);
    }
    if (SUCCEEDED(hr)) hr = add_found(s, "Jpeg Sender", "JPEG Sender", g.sender);
    for (int k = 0; k < 4 && SUCCEEDED(hr); ++k) {
        hr = add_found(s, kCameraPrefixes[k], kCameraGraphNames[k], g.camera[k]);
        if (SUCCEEDED(hr)) hr = g.camera[k].as(*kCameraIids[k], g.camera_control[k]);
    }
    if (SUCCEEDED(hr)) hr = add_found(s, s.layout.sensor_name, "Capteur", sensor);
    if (SUCCEEDED(hr)) hr = add_found(s, "SampleGrabber", "SampleGrabber", grabber);
    if (SUCCEEDED(hr)) hr = add_found(s, "Null Renderer", "Null Renderer", null_renderer);
    if (SUCCEEDED(hr)) hr = sensor.as(IID_ICapteurControl, g.sensor);
    return hr;
}

// The sample grabber takes the sensor's frames as 32-bit RGB and calls the overlay callback on each buffer;
// the sensor branch ends in the null renderer. The graph keeps these three filters.
HRESULT build_sensor_branch(MixerState& s, IBaseFilter* sensor, IBaseFilter* grabber, IBaseFilter* null_renderer) {
    ComPtr<ISampleGrabber> sg;
    HRESULT hr = ComPtr<IBaseFilter>(grabber).as(IID_ISampleGrabber, sg);
    if (FAILED(hr)) return hr;
    sg->SetBufferSamples(FALSE);
    sg->SetOneShot(FALSE);
    sg->SetCallback(&s.overlay_callback, 1);
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_RGB32;
    hr = sg->SetMediaType(&mt);
    if (FAILED(hr)) return hr;
    return s.objects.builder->RenderStream(nullptr, &MEDIATYPE_Video, sensor, grabber, null_renderer);
}

HRESULT create_renderer(MixerState& s) {
    GraphObjects& g = s.objects;
    HRESULT hr = CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  g.renderer.put_void());
    if (SUCCEEDED(hr)) hr = g.graph->AddFilter(g.renderer.get(), "VMR9");
    if (SUCCEEDED(hr)) hr = g.renderer.as(IID_IVMRFilterConfig9, g.renderer_config);
    if (SUCCEEDED(hr)) hr = g.renderer_config->SetRenderingMode(VMR9Mode_Windowless);
    if (SUCCEEDED(hr)) hr = g.renderer_config->SetNumberOfStreams(kRendererStreams);
    if (SUCCEEDED(hr)) hr = g.renderer.as(IID_IVMRWindowlessControl9, g.windowless);
    if (SUCCEEDED(hr)) hr = g.windowless->SetVideoClippingWindow(OAHWND(s.window.value));
    if (SUCCEEDED(hr)) {
        const ui::Rect client = ui::get_client_rect(s.window);
        const RECT destination{0, 0, client.w > 0 ? client.w : kWindowWidth,
                               client.h > 0 ? client.h : kWindowHeight};
        hr = g.windowless->SetVideoPosition(nullptr, &destination);
    }
    return hr;
}

// The black background, the shown cameras and the network sender.
HRESULT connect_sources(MixerState& s) {
    GraphObjects& g = s.objects;
    HRESULT hr = g.builder->RenderStream(nullptr, &MEDIATYPE_Video, g.noir.get(), nullptr, g.renderer.get());
    for (int p = 0; p < kMixerStreams && SUCCEEDED(hr); ++p) {
        if (!s.shown[p]) continue;
        const StreamSource src = stream_source(s, p);
        hr = connect_stream(s, p, src.filter, src.pin);
    }
    if (FAILED(hr)) return hr;
    ComPtr<IPin> out = find_pin(s, g.card[1].get(), PINDIR_OUTPUT, 3, hr);
    if (FAILED(hr)) return hr;
    ComPtr<IPin> in = find_pin(s, g.sender.get(), PINDIR_INPUT, 0, hr);
    if (FAILED(hr)) return hr;
    return g.graph->Connect(out.get(), in.get());
}

// Places and opacities, the overlay and the mixing preferences: results not checked.
void set_mixing(MixerState& s) {
    GraphObjects& g = s.objects;
    if (g.renderer.as(IID_IVMRMixerControl9, g.mixer_control) != S_OK) return;
    g.renderer.as(IID_IVMRMixerBitmap9, g.bitmap);
    const VMR9NormalizedRect whole{0, 0, 1, 1};
    g.mixer_control->SetOutputRect(0, &whole);
    g.mixer_control->SetAlpha(0, 1.0f);
    for (int p = 0; p < kMixerStreams; ++p) {
        if (!s.shown[p]) continue;
        const VMR9NormalizedRect r{s.layout.left[p], s.layout.top[p], s.layout.right[p], s.layout.bottom[p]};
        g.mixer_control->SetOutputRect(DWORD(p + 1), &r);
        g.mixer_control->SetAlpha(DWORD(p + 1), s.layout.alpha[p]);
    }
    DWORD prefs = 0;
    if (SUCCEEDED(g.mixer_control->GetMixingPrefs(&prefs)))
        g.mixer_control->SetMixingPrefs((prefs & kPrefsKept) | kPrefsSet);
    std::lock_guard lock(s.overlay.lock);
    s.overlay.bitmap = g.bitmap;
    s.overlay.alpha = s.layout.overlay_alpha;
}

HRESULT build_steps(MixerState& s) {
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(record(s, hr))) return hr;
    hr = read_mixer_config(s.document, s.layout, s.configs_dir);
    if (FAILED(record(s, hr))) return hr;
    for (int p = 0; p < kMixerStreams; ++p) s.shown[p] = s.layout.alpha[p] != 0;
    ComPtr<IBaseFilter> sensor, grabber, null_renderer;
    if (FAILED(record(s, hr = create_graph(s)))) return hr;
    if (FAILED(record(s, hr = add_sources(s, sensor, grabber, null_renderer)))) return hr;
    if (FAILED(record(s, hr = apply_sensor_settings(s)))) return hr;
    if (FAILED(record(s, hr = build_sensor_branch(s, sensor.get(), grabber.get(), null_renderer.get())))) return hr;
    if (FAILED(record(s, hr = create_renderer(s)))) return hr;
    if (FAILED(record(s, hr = connect_sources(s)))) return hr;
    set_mixing(s);
    save_graph_file(s.objects.graph.get(), s.graph_file);
    return record(s, s.objects.control->Run());
}

} // namespace

HRESULT find_filter(REFCLSID category, const std::string& name, int occurrence, IBaseFilter** filter) {
    if (!filter) return E_POINTER;
    *filter = nullptr;
    ComPtr<ICreateDevEnum> devenum;
    ComPtr<IEnumMoniker> monikers;
    if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                   devenum.put_void())) &&
        devenum->CreateClassEnumerator(category, monikers.put(), 0) == S_OK && monikers) {
        int matches = 0;
        for (;;) {
            IMoniker* m = nullptr;
            ULONG got = 0;
            if (monikers->Next(1, &m, &got) != S_OK || got != 1) break;
            ComPtr<IMoniker> moniker = ComPtr<IMoniker>::adopt(m);
            ComPtr<IPropertyBag> bag;
            char friendly[256];
            if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.put_void())) ||
                FAILED(bag->Read("FriendlyName", friendly, sizeof friendly)))
                continue;
            if (std::string_view(friendly).substr(0, name.size()) != name) continue;
            if (matches++ != occurrence) continue;
            return moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
        }
    }
    ui::message_box(name + " non trouvé", "info", ui::MB_OK);
    return VFW_E_NOT_FOUND;
}

StreamSource stream_source(const MixerState& s, int position) {
    const GraphObjects& g = s.objects;
    if (position < 4) return {g.card[0].get(), position};
    if (position < 7) return {g.card[1].get(), position - 4};
    return {g.camera[position - 7].get(), 0};
}

HRESULT build_graph(MixerState& s) {
    s.released = false;
    const HRESULT hr = build_steps(s);
    if (FAILED(hr)) {
        release_graph(s);
        s.released = false; // nothing was running: a failed start leaves no graph behind
    }
    return hr;
}

HRESULT connect_stream(MixerState& s, int position, IBaseFilter* source, int pin) {
    HRESULT hr = E_POINTER;
    ComPtr<IPin> out, in;
    if (source && s.objects.graph) {
        out = find_pin(s, source, PINDIR_OUTPUT, pin, hr);
        if (SUCCEEDED(hr)) in = find_pin(s, s.objects.renderer.get(), PINDIR_INPUT, position + 1, hr);
        if (SUCCEEDED(hr)) hr = s.objects.graph->Connect(out.get(), in.get());
    }
    record(s, hr);
    if (FAILED(hr)) {
        std::cerr << "Talvor: stream " << position + 1 << " could not be connected (0x" << std::hex
                  << std::uint32_t(hr) << std::dec << "): the video stops\n";
        release_graph(s);
    }
    return hr;
}

HRESULT disconnect_stream(MixerState& s, int position, IBaseFilter* source, int pin) {
    HRESULT hr = E_POINTER;
    GraphObjects& g = s.objects;
    if (source && g.graph) {
        ComPtr<IPin> out = find_pin(s, source, PINDIR_OUTPUT, pin, hr);
        if (SUCCEEDED(hr) && is_network_camera(position)) {
            ComPtr<IPin> middle;
            hr = out->ConnectedTo(middle.put());
            if (SUCCEEDED(hr)) hr = g.graph->Disconnect(middle.get());
        }
        if (SUCCEEDED(hr)) hr = g.graph->Disconnect(out.get());
        ComPtr<IPin> in;
        if (SUCCEEDED(hr)) in = find_pin(s, g.renderer.get(), PINDIR_INPUT, position + 1, hr);
        if (SUCCEEDED(hr) && is_network_camera(position)) {
            ComPtr<IPin> middle;
            hr = in->ConnectedTo(middle.put());
            PIN_INFO info{};
            if (SUCCEEDED(hr)) hr = middle->QueryPinInfo(&info);
            ComPtr<IBaseFilter> inserted = ComPtr<IBaseFilter>::adopt(SUCCEEDED(hr) ? info.pFilter : nullptr);
            if (SUCCEEDED(hr)) hr = g.graph->Disconnect(middle.get());
            if (SUCCEEDED(hr)) hr = g.graph->RemoveFilter(inserted.get());
        }
        if (SUCCEEDED(hr)) hr = g.graph->Disconnect(in.get());
    }
    record(s, hr);
    if (FAILED(hr)) {
        std::cerr << "Talvor: stream " << position + 1 << " could not be disconnected (0x" << std::hex
                  << std::uint32_t(hr) << std::dec << "): the video stops\n";
        release_graph(s);
    }
    return hr;
}

void apply_stream(MixerState& s, int position) {
    if (!s.objects.graph || position < 0 || position >= kMixerStreams) return;
    const double a = s.layout.alpha[position];
    if (!s.shown[position] && a >= 0.1) {
        record(s, s.objects.control->Stop());
        const StreamSource src = stream_source(s, position);
        if (FAILED(connect_stream(s, position, src.filter, src.pin))) return;
        s.shown[position] = true;
    } else if (s.shown[position] && a <= 0.1) {
        s.layout.alpha[position] = 0;
        record(s, s.objects.control->Stop());
        const StreamSource src = stream_source(s, position);
        if (FAILED(disconnect_stream(s, position, src.filter, src.pin))) return;
        s.shown[position] = false;
    }
    if (s.shown[position] && s.objects.mixer_control) {
        const VMR9NormalizedRect r{s.layout.left[position], s.layout.top[position], s.layout.right[position],
                                   s.layout.bottom[position]};
        record(s, s.objects.mixer_control->SetOutputRect(DWORD(position + 1), &r));
        record(s, s.objects.mixer_control->SetAlpha(DWORD(position + 1), s.layout.alpha[position]));
    }
}

void apply_layout(MixerState& s) {
    for (int p = 0; p < kMixerStreams; ++p) apply_stream(s, p);
    if (s.objects.control) record(s, s.objects.control->Run());
}

void release_graph(MixerState& s) {
    GraphObjects& g = s.objects;
    if (g.graph) s.released = true;
    if (g.control) g.control->Stop();
    {
        std::lock_guard lock(s.overlay.lock);
        s.overlay.bitmap = nullptr;
    }
    // Interfaces first, then the filters, then the graph that holds them.
    g.bitmap = nullptr;
    g.mixer_control = nullptr;
    g.windowless = nullptr;
    g.renderer_config = nullptr;
    g.sensor = nullptr;
    for (auto& c : g.camera_control) c = nullptr;
    for (auto& c : g.card_adjust) c = nullptr;
    g.renderer = nullptr;
    for (auto& c : g.camera) c = nullptr;
    g.sender = nullptr;
    for (auto& c : g.card) c = nullptr;
    g.noir = nullptr;
    g.control = nullptr;
    g.builder = nullptr;
    g.graph = nullptr;
}

HRESULT save_graph_file(IGraphBuilder* graph, const std::string& path) {
    const std::filesystem::path file = sys::local_path(path);
    std::error_code ec;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
    return dshow::write_graph_file(graph, file.string());
}

HRESULT apply_sensor_settings(MixerState& s) {
    if (!s.objects.sensor) return E_POINTER;
    try {
        const MinXL::t_xml_node& block = s.document.child(kMixerSensorBlock);
        for (int c = 1; c <= kSensorChannels; ++c) {
            ConsoleSensorChannelRecord full{};
            full.settings = s.record;
            record(s, s.objects.sensor->GetConfig(c, &full));
            s.record = full.settings;
            apply_channel_group(block, c, s.record);
            record(s, s.objects.sensor->SetConfig(c, &s.record));
        }
    } catch (const std::exception&) {
        return record(s, E_FAIL);
    }
    return S_OK;
}

} // namespace kavro::mixer
