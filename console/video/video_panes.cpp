#include "console/video/video_panes.h"

#include "console/video/graphs.h"
#include "console/window/operator_window.h"

#include "console/window/ids.h"
#include "platform/ui/control_host.h"
#include "platform/ui/error_trace.h"
#include "platform/ui/ui.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace kavro::console {

using namespace video_location;

namespace {

constexpr auto relaxed = std::memory_order_relaxed;
constexpr DWORD kCompositeStreams = 9;

const CLSID kCameraClasses[4] = {CLSID_NetworkCamera1, CLSID_NetworkCamera2, CLSID_NetworkCamera3,
                                 CLSID_NetworkCamera4};
const IID kCameraInterfaces[4] = {IID_INetworkCamera1, IID_INetworkCamera2, IID_INetworkCamera3,
                                  IID_INetworkCamera4};
const char* const kCameraNames[4] = {"Caméras IP1", "Caméras IP2", "Caméras IP3", "Caméras IP4"};

// The player panes and their classes, in the order of CameraKind.
struct PlayerClass {
    int pane;
    CLSID clsid;
    IID iid;
};
const PlayerClass kPlayers[3] = {{ids::kPaneZoom, CLSID_ZoomViewer, IID_IZoomViewer},
                                 {ids::kPaneMjpeg, CLSID_MjpegViewer, IID_IMjpegViewer},
                                 {ids::kPaneMpeg4, CLSID_Mpeg4Viewer, IID_IMpeg4Viewer}};

// The kind checked for camera m (1..4): 1 "ZOOM", 2 "MJPEG", 3 "MPEG4", 0 none.
int camera_mode(const Controls& c, int m) {
    if (c.checked(ids::camera_zoom_kind(m))) return 1;
    if (c.checked(ids::camera_mjpeg_kind(m))) return 2;
    if (c.checked(ids::camera_mpeg4_kind(m))) return 3;
    return 0;
}

RECT client_rect(ui::Hwnd w) {
    const ui::Rect r = ui::get_client_rect(w);
    return RECT{0, 0, r.w, r.h};
}

} // namespace

ConsoleVideo::ConsoleVideo(ConsoleApp& app, VideoEnvironment env) : app_(app), env_(std::move(env)) {
    if (!env_.report)
        env_.report = [](int location, HRESULT hr) {
            ui::error_trace("InterfaceKAVRO", static_cast<unsigned>(location), hr);
        };
}

ConsoleVideo::~ConsoleVideo() {
    std::lock_guard<std::recursive_mutex> l(lock_);
    release_locked();
}

ui::Hwnd ConsoleVideo::pane(int id) const {
    return ui::Hwnd{app_.controls ? app_.controls->window_of(id) : 0u};
}

HRESULT ConsoleVideo::fail(int location, HRESULT hr) {
    app_.last_com_status.store(hr, relaxed);
    if (quiet_) return hr;
    release_locked();
    pending_.emplace_back(location, hr);  // shown when the outermost call lets the lock go
    return hr;
}

// ---- build ------------------------------------------------------------------------------------------------

// A plug-in's message box inside the build runs a message loop, so the operator can ask for a release (by
// closing the window) or another build (by starting a view) before this one ends. A second build is refused;
// the release is done when this build has ended, never under it.
HRESULT ConsoleVideo::build() {
    Lock l(*this);
    if (building_) return VFW_E_WRONG_STATE;
    building_ = true;
    const HRESULT hr = build_all();
    building_ = false;
    if (std::exchange(release_after_build_, false)) release_locked();
    return hr;
}

HRESULT ConsoleVideo::build_all() {
    kavro::dshow::register_builtin_classes();  // the graph, builders and renderers as classes to create
    release_locked();
    HRESULT hr = build_players();
    if (FAILED(hr)) return hr;
    if (FAILED(hr = read_console_config(document_, layout_, env_.configs_dir))) return fail(kLayoutFile, hr);
    overlay_.alpha.store(layout_.overlay_alpha, relaxed);
    overlay_.enabled.store(false, relaxed);
    for (CompositePane& p : layout_.panes) p.connected = false;
    if (FAILED(hr = build_composite())) return hr;
    if (FAILED(hr = build_mixer_view())) return hr;
    if (FAILED(hr = build_mesh_view())) return hr;
    video_ready_ = true;
    return S_OK;
}

// The three camera players, each in its pane with its fixed settings. A player that cannot be made or set up
// says so on stderr and the build goes on without it.
HRESULT ConsoleVideo::build_players() {
    for (int i = 0; i < 3; ++i) {
        const PlayerClass& pc = kPlayers[i];
        ComPtr<ICameraViewer> p;
        HRESULT hr = env_.create(pc.clsid, pc.iid, p.put_void());
        if (FAILED(hr) || !p) {
            std::fprintf(stderr, "InterfaceKAVRO: camera player of pane %d not available (0x%08X)\n", pc.pane,
                         unsigned(hr));
            continue;
        }
        const ui::Hwnd w = pane(pc.pane);
        if (FAILED(hr = ui::attach_control(p.get(), w)))
            std::fprintf(stderr, "InterfaceKAVRO: camera player not attached to pane %d (0x%08X)\n", pc.pane,
                         unsigned(hr));
        if (FAILED(p->SetSetting("Stretch", "1"))) report_player_error(p.get());
        if (pc.pane == ids::kPaneMjpeg) {
            const ui::Rect r = ui::get_client_rect(w);
            if (r.w >= 16 && r.h >= 16 && FAILED(p->SetSize(r.w, r.h))) report_player_error(p.get());
        }
        if (pc.pane == ids::kPaneMpeg4 && FAILED(p->SetStreamPath("/cgi-bin/video.vam")))
            report_player_error(p.get());
        players_[std::size_t(i)] = std::move(p);
    }
    return S_OK;
}

HRESULT ConsoleVideo::build_composite() {
    composite_ = std::make_unique<Composite>();
    Composite& g = *composite_;
    HRESULT hr;
    if (FAILED(hr = env_.create(CLSID_FilterGraph, IID_IGraphBuilder, g.graph.put_void()))) return fail(kGraph, hr);
    if (FAILED(hr = env_.create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, g.builder.put_void())))
        return fail(kBuilder, hr);
    if (FAILED(hr = g.graph.as(IID_IMediaControl, g.control))) return fail(kMediaControl, hr);
    if (FAILED(hr = g.builder->SetFiltergraph(g.graph.get()))) return fail(kAttachBuilder, hr);
    if (FAILED(hr = add_sources(g))) return hr;
    set_cameras();
    if (FAILED(hr = add_sensor(g))) return hr;
    if (FAILED(hr = add_renderer(g))) return hr;
    if (FAILED(hr = g.builder->RenderStream(nullptr, &MEDIATYPE_Video, g.noir.get(), nullptr, g.renderer.get())))
        return fail(kRenderNoir, hr);
    for (int k = 0; k < kConsolePanes; ++k) {
        if (layout_.panes[k].alpha == 0.0f) continue;
        if (FAILED(hr = connect_pane(k, g.source(k), Composite::pin(k)))) return hr;
        layout_.panes[k].connected = true;
    }
    return place_streams();
}

// "Noir", the capture card and the four network cameras, each with its private interface.
HRESULT ConsoleVideo::add_sources(Composite& g) {
    HRESULT hr;
    if (FAILED(hr = env_.create(kNoirClass, IID_IBaseFilter, g.noir.put_void()))) return fail(kNoir, hr);
    if (FAILED(hr = g.graph->AddFilter(g.noir.get(), "Noir"))) return fail(kAddNoir, hr);
    if (FAILED(hr = env_.create(CLSID_CaptureCard, IID_IBaseFilter, g.card.put_void()))) return fail(kCaptureCard, hr);
    if (FAILED(hr = g.graph->AddFilter(g.card.get(), "Adlink"))) return fail(kAddCaptureCard, hr);
    if (FAILED(hr = g.card.as(IID_IPictureAdjust, g.adjust))) return fail(kPictureAdjust, hr);
    for (int c = 0; c < 4; ++c) {
        if (FAILED(hr = env_.create(kCameraClasses[c], IID_IBaseFilter, g.cameras[c].put_void())) ||
            FAILED(hr = g.graph->AddFilter(g.cameras[c].get(), kCameraNames[c])))
            return fail(kCameraFirst + c, hr);
        if (FAILED(hr = g.cameras[c].as(kCameraInterfaces[c], g.camera_controls[c])))
            return fail(kCameraControlFirst + c, hr);
    }
    return S_OK;
}

// The window's camera settings to the four camera sources: address bytes, port and kind (0: none checked).
void ConsoleVideo::set_cameras() {
    if (!composite_ || !app_.controls) return;
    const Controls& c = *app_.controls;
    for (int m = 1; m <= 4; ++m) {
        INetworkCamera* cam = composite_->camera_controls[m - 1].get();
        if (!cam) continue;
        const Ipv4Address a = c.address(ids::camera_address(m));
        const HRESULT hr = cam->SetCamera(a[0], a[1], a[2], a[3], std::int32_t(c.number(ids::camera_port(m))),
                                          camera_mode(c, m));
        if (FAILED(hr)) app_.last_com_status.store(hr, relaxed);
    }
}

// The sensor filter with its settings from the layout document, rendered through the sample grabber whose
// callback draws the overlay.
HRESULT ConsoleVideo::add_sensor(Composite& g) {
    HRESULT hr;
    if (FAILED(hr = env_.create(CLSID_Capteur, IID_IBaseFilter, g.sensor_filter.put_void()))) return fail(kSensor, hr);
    if (FAILED(hr = g.graph->AddFilter(g.sensor_filter.get(), "Capteur"))) return fail(kAddSensor, hr);
    if (FAILED(hr = env_.create(CLSID_SampleGrabber, IID_IBaseFilter, g.grabber_filter.put_void())))
        return fail(kGrabber, hr);
    if (FAILED(hr = g.graph->AddFilter(g.grabber_filter.get(), "SampleGrabber"))) return fail(kAddGrabber, hr);
    if (FAILED(hr = env_.create(CLSID_NullRenderer, IID_IBaseFilter, g.null_renderer.put_void())))
        return fail(kNullRenderer, hr);
    if (FAILED(hr = g.graph->AddFilter(g.null_renderer.get(), "Null Renderer"))) return fail(kAddNullRenderer, hr);
    if (FAILED(hr = g.sensor_filter.as(IID_ICapteurControl, g.sensor))) return fail(kSensorControl, hr);

    const MinXL::t_xml_node* block = nullptr;
    try {
        block = &static_cast<const MinXL::t_xml_node&>(document_).child(kConsoleSensorBlock);
    } catch (const std::exception&) {
        block = nullptr;  // the reader has checked the block; a document without one keeps the filter's values
    }
    for (int c = 1; c <= 4 && block; ++c) {
        ConsoleSensorChannelRecord rec{};
        if (FAILED(hr = g.sensor->GetConfig(c, &rec))) return fail(kSensorGetConfig, hr);
        try {
            apply_channel_group(*block, c, rec.settings);
        } catch (const std::exception&) {
            continue;
        }
        if (FAILED(hr = g.sensor->SetConfig(c, &rec.settings))) return fail(kSensorSetConfig, hr);
    }

    if (FAILED(hr = g.grabber_filter.as(IID_ISampleGrabber, g.grabber))) return fail(kGrabberControl, hr);
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_RGB32;
    if (FAILED(hr = g.grabber->SetBufferSamples(FALSE)) || FAILED(hr = g.grabber->SetOneShot(FALSE)) ||
        FAILED(hr = g.grabber->SetMediaType(&mt)))
        return fail(kGrabberSetup, hr);
    return S_OK;
}

HRESULT ConsoleVideo::add_renderer(Composite& g) {
    HRESULT hr;
    if (FAILED(hr = env_.create(CLSID_VideoMixingRenderer9, IID_IBaseFilter, g.renderer.put_void())))
        return fail(kRenderer, hr);
    if (FAILED(hr = g.graph->AddFilter(g.renderer.get(), "VMR9"))) return fail(kAddRenderer, hr);
    if (FAILED(hr = g.renderer.as(IID_IVMRFilterConfig9, g.config))) return fail(kRendererConfig, hr);
    if (FAILED(hr = g.config->SetRenderingMode(VMR9Mode_Windowless))) return fail(kRenderingMode, hr);
    if (FAILED(hr = g.config->SetNumberOfStreams(kCompositeStreams))) return fail(kStreams, hr);
    if (FAILED(hr = g.renderer.as(IID_IVMRWindowlessControl9, g.windowless))) return fail(kWindowless, hr);
    if (FAILED(hr = g.renderer.as(IID_IVMRMixerControl9, g.mixer))) return fail(kMixerControl, hr);
    if (FAILED(hr = g.renderer.as(IID_IVMRMixerBitmap9, g.bitmap))) return fail(kMixerBitmap, hr);

    // The overlay callback needs the mixer bitmap; the sensor stream is rendered once it is there.
    callback_ = std::make_unique<MyCallback>(overlay_, g.bitmap.get());
    if (FAILED(hr = g.grabber->SetCallback(callback_.get(), 1))) return fail(kGrabberSetup, hr);
    if (FAILED(hr = g.builder->RenderStream(nullptr, &MEDIATYPE_Video, g.sensor_filter.get(), g.grabber_filter.get(),
                                            g.null_renderer.get())))
        return fail(kRenderSensor, hr);

    const ui::Hwnd w = pane(ids::kPaneComposite);
    if (FAILED(hr = g.windowless->SetVideoClippingWindow(OAHWND(w.value)))) return fail(kClippingWindow, hr);
    DWORD prefs = 0;
    if (FAILED(hr = g.mixer->GetMixingPrefs(&prefs))) return fail(kMixingPrefs, hr);
    prefs = (prefs & ~MixerPref9_FilteringMask & ~MixerPref9_RenderTargetMask) | MixerPref9_BiLinearFiltering |
            MixerPref9_RenderTargetRGB;
    if (FAILED(hr = g.mixer->SetMixingPrefs(prefs))) return fail(kMixingPrefs, hr);
    const RECT dest = client_rect(w);
    if (FAILED(hr = g.windowless->SetVideoPosition(nullptr, &dest))) return fail(kVideoPosition, hr);
    return S_OK;
}

// Stream 0 (the black background) over the whole picture behind everything; each connected pane where the
// layout puts it.
HRESULT ConsoleVideo::place_streams() {
    IVMRMixerControl9& mixer = *composite_->mixer.get();
    const VMR9NormalizedRect whole{0, 0, 1, 1};
    HRESULT hr;
    if (FAILED(hr = mixer.SetOutputRect(0, &whole)) || FAILED(hr = mixer.SetAlpha(0, 1.0f)) ||
        FAILED(hr = mixer.SetZOrder(0, 15)))
        return fail(kBackground, hr);
    for (int k = 0; k < kConsolePanes; ++k) {
        const CompositePane& p = layout_.panes[k];
        if (!p.connected) continue;
        const VMR9NormalizedRect r{p.left, p.top, p.right, p.bottom};
        if (FAILED(hr = mixer.SetOutputRect(DWORD(k + 1), &r)) || FAILED(hr = mixer.SetAlpha(DWORD(k + 1), p.alpha)) ||
            FAILED(hr = mixer.SetZOrder(DWORD(k + 1), DWORD(12 - p.z))))
            return fail(kPaneStream, hr);
    }
    return S_OK;
}

HRESULT ConsoleVideo::build_mixer_view() {
    mixer_view_ = std::make_unique<MixerView>();
    MixerView& g = *mixer_view_;
    const int L = kMixerViewFirst;
    HRESULT hr;
    if (FAILED(hr = env_.create(CLSID_FilterGraph, IID_IGraphBuilder, g.graph.put_void()))) return fail(L, hr);
    if (FAILED(hr = env_.create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, g.builder.put_void())))
        return fail(L + 1, hr);
    if (FAILED(hr = g.graph.as(IID_IMediaControl, g.control))) return fail(L + 2, hr);
    if (FAILED(hr = g.builder->SetFiltergraph(g.graph.get()))) return fail(L + 3, hr);
    if (FAILED(hr = env_.create(CLSID_JpegReceiver, IID_IBaseFilter, g.receiver.put_void()))) return fail(L + 4, hr);
    if (FAILED(hr = g.graph->AddFilter(g.receiver.get(), "JPEG Receiver"))) return fail(L + 5, hr);
    if (FAILED(hr = env_.create(CLSID_VideoMixingRenderer9, IID_IBaseFilter, g.renderer.put_void())))
        return fail(L + 6, hr);
    if (FAILED(hr = g.graph->AddFilter(g.renderer.get(), "VMR9"))) return fail(L + 7, hr);
    if (FAILED(hr = g.renderer.as(IID_IVMRFilterConfig9, g.config))) return fail(L + 8, hr);
    if (FAILED(hr = g.config->SetRenderingMode(VMR9Mode_Windowless))) return fail(L + 9, hr);
    if (FAILED(hr = g.config->SetNumberOfStreams(1))) return fail(L + 10, hr);
    if (FAILED(hr = g.renderer.as(IID_IVMRWindowlessControl9, g.windowless))) return fail(L + 11, hr);
    const ui::Hwnd w = pane(ids::kPaneMixer);
    if (FAILED(hr = g.windowless->SetVideoClippingWindow(OAHWND(w.value)))) return fail(L + 12, hr);
    const RECT dest = client_rect(w);
    if (FAILED(hr = g.windowless->SetVideoPosition(nullptr, &dest))) return fail(L + 13, hr);
    if (FAILED(hr = g.builder->RenderStream(nullptr, &MEDIATYPE_Video, g.receiver.get(), nullptr, g.renderer.get())))
        return fail(L + 14, hr);
    if (FAILED(hr = g.receiver.as(IID_IJpegReceiver, g.receiver_control))) return fail(L + 15, hr);
    return S_OK;
}

HRESULT ConsoleVideo::build_mesh_view() {
    mesh_ = std::make_unique<MeshView>();
    MeshView& g = *mesh_;
    HRESULT hr;
    if (FAILED(hr = env_.create(CLSID_FilterGraph, IID_IGraphBuilder, g.graph.put_void())) ||
        FAILED(hr = env_.create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, g.builder.put_void())) ||
        FAILED(hr = g.graph.as(IID_IMediaControl, g.control)) || FAILED(hr = g.builder->SetFiltergraph(g.graph.get())) ||
        FAILED(hr = env_.create(CLSID_VideoRenderer, IID_IBaseFilter, g.renderer.put_void())) ||
        FAILED(hr = g.graph->AddFilter(g.renderer.get(), "Video Renderer")) ||
        FAILED(hr = g.renderer.as(IID_IVideoWindow, g.window)) ||
        FAILED(hr = env_.create(CLSID_Mesh, IID_IBaseFilter, g.mesh_filter.put_void())) ||
        FAILED(hr = g.graph->AddFilter(g.mesh_filter.get(), "Mesh")) ||
        FAILED(hr = g.mesh_filter.as(IID_IMesh, g.mesh)) ||
        FAILED(hr = g.builder->RenderStream(nullptr, &MEDIATYPE_Video, g.mesh_filter.get(), nullptr, g.renderer.get())))
        return fail(kMeshGraph, hr);
    const ui::Hwnd w = pane(ids::kPaneMesh);
    const ui::Rect r = ui::get_client_rect(w);
    if (FAILED(hr = g.window->put_Owner(OAHWND(w.value))) ||
        FAILED(hr = g.window->put_WindowStyle(LONG(ui::WS_CHILD | ui::WS_CLIPSIBLINGS))) ||
        FAILED(hr = g.window->SetWindowPosition(0, 0, r.w, r.h)) || FAILED(hr = g.window->put_Visible(OATRUE)))
        return fail(kMeshGraph, hr);
    return S_OK;
}

// ---- release ----------------------------------------------------------------------------------------------

void ConsoleVideo::release_all() {
    Lock l(*this);
    release_locked();
}

// Every graph is stopped before it goes, so that no streaming thread is still in the overlay callback when
// the callback is deleted. A second call finds nothing left.
void ConsoleVideo::release_locked() {
    if (building_ && depth_ > 1) {  // asked from inside the build (a message box's loop): done at its end
        release_after_build_ = true;
        return;
    }
    video_ready_ = false;
    if (composite_ && composite_->control) composite_->control->Stop();
    if (mixer_view_ && mixer_view_->control) mixer_view_->control->Stop();
    if (mesh_ && mesh_->control) mesh_->control->Stop();
    composite_.reset();
    mixer_view_.reset();
    mesh_.reset();
    callback_.reset();
}

void ConsoleVideo::stop_graphs() {
    Lock l(*this);
    for (int key : {10, 9, 11})
        if (IMediaControl* c = media_control(key)) c->Stop();
}

// ---- views ------------------------------------------------------------------------------------------------

ICameraViewer* ConsoleVideo::player(CameraKind kind) const {
    const int i = int(kind) - 1;
    return i >= 0 && i < 3 ? players_[std::size_t(i)].get() : nullptr;
}

void ConsoleVideo::report_player_error(ICameraViewer* p) const {
    char text[256] = {};
    if (p && SUCCEEDED(p->GetErrorText(text, sizeof text)) && text[0])
        std::fprintf(stderr, "InterfaceKAVRO: camera player: %s\n", text);
}

void ConsoleVideo::stop_view(int view) {
    Lock l(*this);
    Controls* c = app_.controls;
    if (!c) return;
    if (view >= kViewCameraFirst && view <= kViewCameraLast) {
        const int mode = camera_mode(*c, view - 3);
        if (mode == 0) return;
        c->set_visible(kPlayers[mode - 1].pane, false);
        if (ICameraViewer* p = player(CameraKind(mode)); p && FAILED(p->Stop())) report_player_error(p);
        return;
    }
    if (view == kViewPages) {
        c->set_visible(ids::kPaneWeb, false);
        return;
    }
    if (const int pane_id = pane_of_view(view)) c->set_visible(pane_id, false);
    if (IMediaControl* mc = media_control(view)) mc->StopWhenReady();
}

void ConsoleVideo::start_view(int view) {
    Lock l(*this);
    Controls* c = app_.controls;
    if (!c) return;
    if (view >= kViewCameraFirst && view <= kViewCameraLast) {
        const int m = view - 3, mode = camera_mode(*c, m);
        ICameraViewer* p = mode ? player(CameraKind(mode)) : nullptr;
        if (mode == 0) return;
        if (p) {
            const Ipv4Address a = c->address(ids::camera_address(m));
            char text[16];
            std::snprintf(text, sizeof text, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
            if (mode == 1) p->Stop();
            if (FAILED(p->SetAddress(text)) || FAILED(p->SetPort(std::int32_t(c->number(ids::camera_port(m))))) ||
                FAILED(p->Start()))
                report_player_error(p);
        }
        c->set_visible(kPlayers[mode - 1].pane, true);
        return;
    }
    if (view == kViewRemoteMixer) {
        if (mixer_view_ && mixer_view_->receiver_control) {
            const Ipv4Address a = c->address(ids::kMixerAddress);
            const HRESULT hr = mixer_view_->receiver_control->SetSource(a[0], a[1], a[2], a[3],
                                                                        std::int32_t(c->number(ids::kMixerPortEdit)));
            if (FAILED(hr)) app_.last_com_status.store(hr, relaxed);
        }
        set_cameras();
        if (mixer_view_ && mixer_view_->control) app_.last_com_status.store(mixer_view_->control->Run(), relaxed);
        c->set_visible(ids::kPaneMixer, true);
    } else if (view == kViewLocalMixer) {
        set_cameras();
        if (composite_ && composite_->control) app_.last_com_status.store(composite_->control->Run(), relaxed);
        c->set_visible(ids::kPaneComposite, true);
    }
}

void ConsoleVideo::fit_to_panes() {
    Lock l(*this);
    if (mesh_ && mesh_->window) {
        const ui::Rect r = ui::get_client_rect(pane(ids::kPaneMesh));
        mesh_->window->SetWindowPosition(0, 0, r.w, r.h);
    }
    if (!video_ready_) return;
    if (ICameraViewer* p = player(CameraKind::mjpeg)) {
        const ui::Rect r = ui::get_client_rect(pane(ids::kPaneMjpeg));
        if (r.w >= 16 && r.h >= 16 && FAILED(p->SetSize(r.w, r.h))) report_player_error(p);
    }
    HRESULT hr;
    const ui::Hwnd composite = pane(ids::kPaneComposite), mixer = pane(ids::kPaneMixer);
    if (FAILED(hr = composite_->windowless->SetVideoClippingWindow(OAHWND(composite.value)))) {
        fail(kFitComposite, hr);
        return;
    }
    RECT dest = client_rect(composite);
    if (FAILED(hr = composite_->windowless->SetVideoPosition(nullptr, &dest))) {
        fail(kFitCompositePosition, hr);
        return;
    }
    if (FAILED(hr = mixer_view_->windowless->SetVideoClippingWindow(OAHWND(mixer.value)))) {
        fail(kFitMixerView, hr);
        return;
    }
    dest = client_rect(mixer);
    if (FAILED(hr = mixer_view_->windowless->SetVideoPosition(nullptr, &dest))) fail(kFitMixerViewPosition, hr);
}

HRESULT ConsoleVideo::run_mesh_graph() {
    Lock l(*this);
    if (!mesh_ || !mesh_->control) return S_FALSE;  // released: the pane stays empty
    const HRESULT hr = mesh_->control->Run();
    return FAILED(hr) ? fail(kRunMesh, hr) : hr;
}

// ---- players ----------------------------------------------------------------------------------------------

void ConsoleVideo::stop_player(CameraKind kind) {
    Lock l(*this);
    if (ICameraViewer* p = player(kind); p && FAILED(p->Stop())) report_player_error(p);
}

void ConsoleVideo::camera_command(CameraKind kind, const std::string& command, int speed) {
    Lock l(*this);
    if (ICameraViewer* p = player(kind); p && FAILED(p->CameraCommand(command.c_str(), speed)))
        report_player_error(p);
}

void ConsoleVideo::camera_pan_tilt(int pan, int tilt) {
    Lock l(*this);
    if (ICameraViewer* p = player(CameraKind::mjpeg); p && FAILED(p->SetPanTilt(pan, tilt))) report_player_error(p);
}

void ConsoleVideo::camera_zoom(int level) {
    Lock l(*this);
    if (ICameraViewer* p = player(CameraKind::mjpeg); p && FAILED(p->SetZoom(level))) report_player_error(p);
}

void ConsoleVideo::camera_digital_output(CameraKind kind, int output, int state) {
    Lock l(*this);
    if (ICameraViewer* p = player(kind); p && FAILED(p->SetDigitalOutput(output, state))) report_player_error(p);
}

HRESULT ConsoleVideo::save_player_picture(CameraKind kind, const std::string& path) {
    Lock l(*this);
    ICameraViewer* p = player(kind);
    if (!p) return E_POINTER;
    const HRESULT hr = p->SaveSnapshot(path.c_str());
    if (FAILED(hr)) report_player_error(p);
    return hr;
}

// The renderer's image block is a BITMAPINFOHEADER and 32-bit rows; it is copied whole and handed back.
HRESULT ConsoleVideo::current_image(int view, std::vector<std::uint8_t>& dib) {
    Lock l(*this);
    dib.clear();
    IVMRWindowlessControl9* w = view == kViewLocalMixer && composite_   ? composite_->windowless.get()
                                : view == kViewRemoteMixer && mixer_view_ ? mixer_view_->windowless.get()
                                                                          : nullptr;
    if (!w) return E_INVALIDARG;
    BYTE* block = nullptr;
    const HRESULT hr = w->GetCurrentImage(&block);
    if (FAILED(hr)) return hr;
    if (!block) return E_POINTER;
    BITMAPINFOHEADER h{};
    std::memcpy(&h, block, sizeof h);
    const std::int64_t width = h.biWidth, height = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
    if (h.biSize != sizeof h || h.biBitCount != 32 || width <= 0 || height <= 0 || width > 8192 || height > 8192) {
        CoTaskMemFree(block);
        return E_UNEXPECTED;
    }
    const std::size_t bytes = sizeof h + std::size_t(width * height * 4);
    dib.assign(block, block + bytes);
    CoTaskMemFree(block);
    return S_OK;
}

IMesh* ConsoleVideo::mesh() {
    Lock l(*this);
    return mesh_ ? mesh_->mesh.get() : nullptr;
}

ICapteurControl* ConsoleVideo::sensor_filter() {
    Lock l(*this);
    return composite_ ? composite_->sensor.get() : nullptr;
}

// ---- state ------------------------------------------------------------------------------------------------

bool ConsoleVideo::video_ready() const {
    Lock l(*this);
    return video_ready_;
}

ConsoleLayout ConsoleVideo::layout() const {
    Lock l(*this);
    ConsoleLayout copy = layout_;
    copy.overlay_alpha = overlay_.alpha.load(relaxed);
    copy.overlay_enabled = overlay_.enabled.load(relaxed);
    return copy;
}

ComPtr<ICapteurControl> ConsoleVideo::sensor() const {
    Lock l(*this);
    return composite_ ? composite_->sensor : nullptr;
}

IMediaControl* ConsoleVideo::media_control(int key) const {
    Lock l(*this);
    if (!video_ready_) return nullptr;
    switch (key) {
    case 10: return composite_ ? composite_->control.get() : nullptr;
    case 9: return mixer_view_ ? mixer_view_->control.get() : nullptr;
    case 11: return mesh_ ? mesh_->control.get() : nullptr;
    default: return nullptr;
    }
}

IBaseFilter* ConsoleVideo::composite_renderer() const {
    Lock l(*this);
    return composite_ ? composite_->renderer.get() : nullptr;
}

IGraphBuilder* ConsoleVideo::composite_graph() const {
    Lock l(*this);
    return composite_ ? composite_->graph.get() : nullptr;
}

} // namespace kavro::console
