// The objects of the console's three video graphs, held by ConsoleVideo under its lock.
#pragma once

#include "console/video/video_panes.h"

namespace kavro::console {

class ConsoleVideo::Lock {
public:
    explicit Lock(const ConsoleVideo& v) : v_(const_cast<ConsoleVideo&>(v)) {
        v_.lock_.lock();
        ++v_.depth_;
    }
    ~Lock() {
        std::vector<std::pair<int, HRESULT>> reports;
        if (--v_.depth_ == 0) reports.swap(v_.pending_);
        v_.lock_.unlock();
        for (const auto& [location, hr] : reports) v_.env_.report(location, hr);
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    ConsoleVideo& v_;
};

struct ConsoleVideo::Composite {
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> noir, card, cameras[4], sensor_filter, grabber_filter, null_renderer, renderer;
    ComPtr<IPictureAdjust> adjust;
    ComPtr<INetworkCamera> camera_controls[4];
    ComPtr<ICapteurControl> sensor;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IVMRFilterConfig9> config;
    ComPtr<IVMRWindowlessControl9> windowless;
    ComPtr<IVMRMixerControl9> mixer;
    ComPtr<IVMRMixerBitmap9> bitmap;

    // The source of pane k and its output pin.
    IBaseFilter* source(int k) const { return k < 4 ? card.get() : cameras[k - 4].get(); }
    static int pin(int k) { return k < 4 ? k : 0; }
};

struct ConsoleVideo::MixerView {
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> receiver, renderer;
    ComPtr<IVMRFilterConfig9> config;
    ComPtr<IVMRWindowlessControl9> windowless;
    ComPtr<IJpegReceiver> receiver_control;
};

struct ConsoleVideo::MeshView {
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> renderer, mesh_filter;
    ComPtr<IVideoWindow> window;
    ComPtr<IMesh> mesh;
};

} // namespace kavro::console
