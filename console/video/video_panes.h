// The console's video: the composite of eight camera panes with the sensor overlay (pane 1014), the mixer's
// picture received over the network (pane 1000), the mesh topology picture (pane 1015) and the three camera
// players (panes 1001..1003). Everything is built once by build(); any later failure releases it all, and the
// pictures stay empty until the program starts again.
//
// Threads: the window thread calls every VideoPanes operation; the remote-control thread calls the layout,
// picture-adjustment and save operations below. One lock (`lock_`) guards every graph object and the
// layout; it is never held while waiting for the window thread, and the overlay callback on the sensor
// filter's streaming thread never takes it (it reads OverlayState only).
#pragma once

#include "config_files/config_files.h"
#include "console/video/overlay.h"
#include "console/window/console_app.h"
#include "filters/mesh/imesh.h"
#include "outside/capteur_control.h"
#include "outside/capture_card.h"
#include "outside/network_camera.h"
#include "outside/receiver.h"
#include "outside/viewer_controls.h"
#include "platform/com/com_ptr.h"
#include "platform/dshow/dshow.h"
#include "platform/dshow/vmr9/vmr9.h"
#include "platform/ui/types.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kavro::console {

// Error-trace locations of the video calls, one per call site.
namespace video_location {
inline constexpr int kFitComposite = 99, kFitCompositePosition = 101, kFitMixerView = 103,
                     kFitMixerViewPosition = 105;
inline constexpr int kConnectSourcePin = 487, kConnectRendererPin = 488, kConnect = 489;
inline constexpr int kDisconnectSourcePin = 497, kDisconnectPeerOfSource = 498, kDisconnectPeer = 499,
                     kDisconnectSource = 500, kDisconnectRendererPin = 501, kDisconnectPeerOfRenderer = 502,
                     kDisconnectPeerInfo = 503, kDisconnectDecoderPin = 504, kRemoveDecoder = 505,
                     kDisconnectRenderer = 506;
inline constexpr int kLayoutFile = 580;
inline constexpr int kGraph = 588, kBuilder = 589, kMediaControl = 590, kAttachBuilder = 591;
inline constexpr int kNoir = 592, kAddNoir = 593, kCaptureCard = 594, kAddCaptureCard = 595;
inline constexpr int kPictureAdjust = 598;
inline constexpr int kCameraFirst = 601;           // 601..604: create and add camera 1..4
inline constexpr int kCameraControlFirst = 605;    // 605..608: camera 1..4's private interface
inline constexpr int kSensor = 620, kAddSensor = 621, kGrabber = 622, kAddGrabber = 623, kNullRenderer = 624,
                     kAddNullRenderer = 625, kSensorControl = 629, kSensorGetConfig = 630,
                     kSensorSetConfig = 631;
inline constexpr int kGrabberControl = 640, kGrabberSetup = 641, kRenderSensor = 645;
inline constexpr int kRenderer = 650, kAddRenderer = 651, kRendererConfig = 652, kRenderingMode = 653,
                     kStreams = 654, kWindowless = 655, kMixerControl = 656, kMixerBitmap = 657,
                     kClippingWindow = 658, kMixingPrefs = 659, kVideoPosition = 660, kRenderNoir = 661,
                     kBackground = 670, kPaneStream = 671;
inline constexpr int kMixerViewFirst = 700;        // 700..715: the mixer-view graph, step by step
inline constexpr int kMeshGraph = 785, kRunMesh = 786;
inline constexpr int kRunComposite = 114;
inline constexpr int kLayoutGetConfig = 91, kLayoutSetConfig = 100;
inline constexpr int kAdjustFirst = 125;           // 125..128: first to fourth picture adjustment
} // namespace video_location

// The black background source "Noir" (noir.ax), created by class like the outside filters.
inline constexpr CLSID kNoirClass = make_guid("9E237DA7-8506-453F-99D9-8B80F69254FB");

// What the video panes take from the platform; tests replace any of it.
struct VideoEnvironment {
    // Creates COM objects: the platform's classes and the registered plug-ins.
    std::function<HRESULT(REFCLSID, REFIID, void**)> create = [](REFCLSID clsid, REFIID iid, void** object) {
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object);
    };
    // The error trace, shown after the video objects were released.
    std::function<void(int location, HRESULT)> report;
    std::string configs_dir = kDefaultConfigsDir;
};

class ConsoleVideo : public VideoPanes {
public:
    ConsoleVideo(ConsoleApp& app, VideoEnvironment env = {});
    ~ConsoleVideo() override;

    HRESULT build() override;
    void stop_view(int view) override;
    void start_view(int view) override;
    void fit_to_panes() override;
    HRESULT run_mesh_graph() override;
    void stop_graphs() override;
    void release_all() override;
    void save_layout(const std::string& name) override;
    void stop_player(CameraKind kind) override;
    void camera_command(CameraKind kind, const std::string& command, int speed) override;
    void camera_pan_tilt(int pan, int tilt) override;
    void camera_zoom(int level) override;
    void camera_digital_output(CameraKind kind, int output, int state) override;

    // What the snapshot, layout and reference-node commands take from the build (see VideoPanes).
    HRESULT save_player_picture(CameraKind kind, const std::string& path) override;
    HRESULT current_image(int view, std::vector<std::uint8_t>& dib) override;
    IMesh* mesh() override;
    ICapteurControl* sensor_filter() override;
    HRESULT take_layout(const MinXL::t_xml_node& doc, const ConsoleLayout& layout) override;
    HRESULT run_composite_graph() override;

    // Pane connect and disconnect: pane k (0..7) of the composite, the source's output pin `pin` and the
    // renderer's input k + 1. A failure releases everything, is reported and answered.
    HRESULT connect_pane(int k, IBaseFilter* source, int pin);
    HRESULT disconnect_pane(int k, IBaseFilter* source, int pin);

    // The remote commands. Each does nothing without a built composite; a failure releases everything and is
    // reported. save_configuration answers whether the file was written.
    bool save_configuration(const std::string& name);
    // `sensor`: null, or four rows (robots 1..4) of twelve values: on, a, b of settings 1, 4, 2 and 3.
    void apply_remote_layout(const CompositePane (&panes)[kConsolePanes], float overlay_alpha,
                             const std::int32_t (*sensor)[12]);
    void adjust_picture(int input, const std::int32_t (&values)[4]);

    // State, for the status poll, the map feed and tests.
    bool video_ready() const;
    ConsoleLayout layout() const;
    OverlayState& overlay() { return overlay_; }
    // The sensor filter the composite holds, with a reference; null before the build and after the release.
    ComPtr<ICapteurControl> sensor() const;
    IMediaControl* media_control(int key) const;   // 10, 9, 11
    IBaseFilter* composite_renderer() const;
    IGraphBuilder* composite_graph() const;
    const MyCallback* overlay_callback() const { return callback_.get(); }

private:
    struct Composite;
    struct MixerView;
    struct MeshView;

    HRESULT fail(int location, HRESULT hr);  // releases, reports, answers hr
    HRESULT build_all();
    HRESULT build_players();
    HRESULT build_composite();
    HRESULT add_sources(Composite& g);
    HRESULT add_sensor(Composite& g);
    HRESULT add_renderer(Composite& g);
    HRESULT place_streams();
    HRESULT build_mixer_view();
    HRESULT build_mesh_view();
    void set_cameras();
    void release_locked();
    HRESULT apply_pane_change(int k);
    HRESULT sensor_settings(const std::int32_t (*sensor)[12]);
    ICameraViewer* player(CameraKind kind) const;
    void report_player_error(ICameraViewer* p) const;
    ui::Hwnd pane(int id) const;

    ConsoleApp& app_;
    VideoEnvironment env_;
    OverlayState overlay_;

    // Holds lock_ for one call; the error traces of the call are shown after the outermost one lets go, so
    // that a message box waiting for the operator never holds the lock the window thread needs.
    class Lock;

    mutable std::recursive_mutex lock_;  // guards everything below (recursive: a failure releases inside a call)
    int depth_ = 0;                                    // calls holding the lock on this thread
    std::vector<std::pair<int, HRESULT>> pending_;     // error traces to show once the lock is let go
    std::unique_ptr<Composite> composite_;
    std::unique_ptr<MixerView> mixer_view_;
    std::unique_ptr<MeshView> mesh_;
    std::array<ComPtr<ICameraViewer>, 3> players_;  // ZOOM, MJPEG, MPEG4
    std::unique_ptr<MyCallback> callback_;
    bool video_ready_ = false;
    bool building_ = false;             // build() is running (a message box inside it may run other calls)
    bool release_after_build_ = false;  // a release was asked from inside the build
    bool quiet_ = false;  // failures are answered only, the caller releases and reports (take_layout)
    MinXL::t_xml_node document_{"_EMPTY_", ""};
    ConsoleLayout layout_;
};

} // namespace kavro::console
