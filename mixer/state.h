// Talvor's state: one plain struct, made at start and passed by reference to the start-up, the graph, the
// window procedure and the five control threads.
//
// Locks. `graph_lock` guards the layout, the shown flags, the graph objects, the configuration document, the
// sensor record and the last result: the layout listener, the configuration watcher and the window's destroy
// steps each apply a whole change under it, so a quit or two layout requests racing the watcher never leave a
// half-applied graph. `overlay.lock` guards the overlay values and the renderer's bitmap interface; the
// overlay callback (on the sensor branch's streaming thread) takes only that lock, never `graph_lock`, so a
// graph stop made under `graph_lock` can wait for the streaming thread. Order: graph_lock before overlay.lock.
#pragma once

#include "config_files/config_files.h"
#include "mixer/overlay.h"
#include "minxl/minxl.h"
#include "outside/capteur_control.h"
#include "outside/capture_card.h"
#include "outside/network_camera.h"
#include "outside/sensor_record.h"
#include "platform/com/com_ptr.h"
#include "platform/dshow/dshow.h"
#include "platform/dshow/vmr9/vmr9.h"
#include "platform/sys/system.h"
#include "platform/ui/ui.h"
#include "util/log_limit.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace kavro::mixer {

inline constexpr int kWindowWidth = 720;
inline constexpr int kWindowHeight = 576;
inline constexpr int kOverlayWidth = 768;
inline constexpr int kOverlayHeight = 576;
inline constexpr int kRendererStreams = 12;

// The ports of the four listeners.
struct Ports {
    std::uint16_t layout = 7000;
    std::uint16_t camera_picture = 8000;
    std::uint16_t ip_camera = 10000;
    std::uint16_t configuration = 11000;
};

// Every object of the capture and mixing graph; all null before the build and after the release.
struct GraphObjects {
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> noir;
    ComPtr<IBaseFilter> card[2];
    ComPtr<IPictureAdjust> card_adjust[2];
    ComPtr<IBaseFilter> sender;
    ComPtr<IBaseFilter> camera[4];
    ComPtr<INetworkCamera> camera_control[4];
    ComPtr<ICapteurControl> sensor;
    ComPtr<IBaseFilter> renderer;
    ComPtr<IVMRFilterConfig9> renderer_config;
    ComPtr<IVMRWindowlessControl9> windowless;
    ComPtr<IVMRMixerControl9> mixer_control;
    ComPtr<IVMRMixerBitmap9> bitmap;
};

struct MixerState {
    std::atomic<bool> stop{false};   // set once when the mixer ends; every worker loop checks it
    ui::Hwnd window;                 // the display window
    std::string configs_dir = kDefaultConfigsDir;
    std::string graph_file = "C:\\MyGraph.grf";
    Ports ports;
    sys::Shutdown* shutdown = nullptr; // the machine's shutdown (a recording double in tests)
    LogLimit refusals;               // lines about refused datagrams, from every listener thread

    std::mutex graph_lock;
    MixerLayout layout;              // positions and alphas of streams 1..11 (index stream - 1), sensor name
    bool shown[kMixerStreams] = {};  // stream connected to the renderer
    SensorChannelRecord record{};    // working copy for channels 1..5
    MinXL::t_xml_node document{"_EMPTY_", ""};
    GraphObjects objects;
    bool released = false;           // the graph was released after a failure: later changes do nothing
    bool destroyed = false;          // the window's destroy steps have run
    std::atomic<HRESULT> last_result{S_OK};

    OverlayState overlay;
    OverlayCallback overlay_callback{overlay};
};

} // namespace kavro::mixer
