// The composite's layout at run time: pane connect and disconnect, the remote layout, picture-adjustment and
// save commands.
#include "console/video/video_panes.h"

#include "console/video/graphs.h"

#include <cmath>
#include <cstdio>

namespace kavro::console {

using namespace video_location;

namespace {
constexpr auto relaxed = std::memory_order_relaxed;
}

HRESULT ConsoleVideo::connect_pane(int k, IBaseFilter* source, int pin) {
    Lock l(*this);
    if (!composite_ || k < 0 || k >= kConsolePanes) return E_UNEXPECTED;
    Composite& g = *composite_;
    ComPtr<IPin> out, in;
    HRESULT hr;
    if (FAILED(hr = g.builder->FindPin(source, PINDIR_OUTPUT, nullptr, nullptr, FALSE, pin, out.put())))
        return fail(kConnectSourcePin, hr);
    if (FAILED(hr = g.builder->FindPin(g.renderer.get(), PINDIR_INPUT, nullptr, nullptr, FALSE, k + 1, in.put())))
        return fail(kConnectRendererPin, hr);
    if (FAILED(hr = g.graph->Connect(out.get(), in.get()))) return fail(kConnect, hr);
    return S_OK;
}

// A camera's source reaches the renderer through the decoder the graph inserted; that decoder leaves the graph
// with the connection. A renderer input left without a peer has nothing to remove.
HRESULT ConsoleVideo::disconnect_pane(int k, IBaseFilter* source, int pin) {
    Lock l(*this);
    if (!composite_ || k < 0 || k >= kConsolePanes) return E_UNEXPECTED;
    Composite& g = *composite_;
    const bool camera = k > 3;
    ComPtr<IPin> out, in, peer;
    HRESULT hr;
    if (FAILED(hr = g.builder->FindPin(source, PINDIR_OUTPUT, nullptr, nullptr, FALSE, pin, out.put())))
        return fail(kDisconnectSourcePin, hr);
    if (camera) {
        if (FAILED(hr = out->ConnectedTo(peer.put()))) return fail(kDisconnectPeerOfSource, hr);
        if (FAILED(hr = peer->Disconnect())) return fail(kDisconnectPeer, hr);
    }
    if (FAILED(hr = out->Disconnect())) return fail(kDisconnectSource, hr);
    if (FAILED(hr = g.builder->FindPin(g.renderer.get(), PINDIR_INPUT, nullptr, nullptr, FALSE, k + 1, in.put())))
        return fail(kDisconnectRendererPin, hr);
    if (camera) {
        ComPtr<IPin> decoder_out;
        hr = in->ConnectedTo(decoder_out.put());
        if (hr != VFW_E_NOT_CONNECTED) {
            if (FAILED(hr)) return fail(kDisconnectPeerOfRenderer, hr);
            PIN_INFO info{};
            if (FAILED(hr = decoder_out->QueryPinInfo(&info))) return fail(kDisconnectPeerInfo, hr);
            ComPtr<IBaseFilter> decoder = ComPtr<IBaseFilter>::adopt(info.pFilter);
            if (FAILED(hr = decoder_out->Disconnect())) return fail(kDisconnectDecoderPin, hr);
            if (decoder && decoder != g.renderer && decoder.get() != source &&
                FAILED(hr = g.graph->RemoveFilter(decoder.get())))
                return fail(kRemoveDecoder, hr);
        }
    }
    if (FAILED(hr = in->Disconnect())) return fail(kDisconnectRenderer, hr);
    return S_OK;
}

// One pane after a layout change: alphas are single-precision values compared with the double 0.1, so a pane
// at 0.1f counts as shown. A pane shown afterwards gets its rectangle, alpha and layer.
HRESULT ConsoleVideo::apply_pane_change(int k) {
    Composite& g = *composite_;
    CompositePane& p = layout_.panes[k];
    HRESULT hr;
    if (p.connected && double(p.alpha) <= 0.1) {
        p.alpha = 0;
        g.control->Stop();
        if (FAILED(hr = disconnect_pane(k, g.source(k), Composite::pin(k)))) return hr;
        p.connected = false;
    } else if (!p.connected && double(p.alpha) >= 0.1) {
        g.control->Stop();
        if (FAILED(hr = connect_pane(k, g.source(k), Composite::pin(k)))) return hr;
        p.connected = true;
    }
    if (!p.connected) return S_OK;
    const VMR9NormalizedRect r{p.left, p.top, p.right, p.bottom};
    if (FAILED(hr = g.mixer->SetOutputRect(DWORD(k + 1), &r)) || FAILED(hr = g.mixer->SetAlpha(DWORD(k + 1), p.alpha)) ||
        FAILED(hr = g.mixer->SetZOrder(DWORD(k + 1), DWORD(12 - p.z))))
        return fail(kPaneStream, hr);
    return S_OK;
}

// The twelve values of each robot, in the command's order (settings 1, 4, 2, 3), over what the filter holds.
HRESULT ConsoleVideo::sensor_settings(const std::int32_t (*sensor)[12]) {
    ICapteurControl* control = composite_->sensor.get();
    for (int k = 1; k <= 4; ++k) {
        ConsoleSensorChannelRecord rec{};
        HRESULT hr;
        if (FAILED(hr = control->GetConfig(k, &rec))) return fail(kLayoutGetConfig, hr);
        const std::int32_t* v = sensor[k - 1];
        SensorChannelRecord& s = rec.settings;
        auto on = [](std::int32_t x) { return std::uint8_t(x == 1 ? 1 : 0); };
        s.setting1_on = on(v[0]), s.setting1_a = v[1], s.setting1_b = v[2];
        s.setting4_on = on(v[3]), s.setting4_a = v[4], s.setting4_b = v[5];
        s.setting2_on = on(v[6]), s.setting2_a = v[7], s.setting2_b = v[8];
        s.setting3_on = on(v[9]), s.setting3_a = v[10], s.setting3_b = v[11];
        if (FAILED(hr = control->SetConfig(k, &s))) return fail(kLayoutSetConfig, hr);
    }
    return S_OK;
}

void ConsoleVideo::apply_remote_layout(const CompositePane (&panes)[kConsolePanes], float overlay_alpha,
                                       const std::int32_t (*sensor)[12]) {
    Lock l(*this);
    for (int k = 0; k < kConsolePanes; ++k) {
        CompositePane& p = layout_.panes[k];
        p.left = panes[k].left, p.top = panes[k].top, p.right = panes[k].right, p.bottom = panes[k].bottom;
        p.alpha = panes[k].alpha, p.z = panes[k].z;
    }
    overlay_.alpha.store(overlay_alpha, relaxed);
    if (overlay_alpha != 0.0f) overlay_.enabled.store(true, relaxed);
    if (!composite_) return;  // released: the values are kept, the graphs are gone
    if (overlay_alpha != 0.0f && sensor && FAILED(sensor_settings(sensor))) return;
    for (int k = 0; k < kConsolePanes; ++k)
        if (FAILED(apply_pane_change(k))) return;
    const HRESULT hr = composite_->control->Run();
    if (FAILED(hr)) fail(kRunComposite, hr);
}

void ConsoleVideo::adjust_picture(int input, const std::int32_t (&values)[4]) {
    Lock l(*this);
    if (!composite_ || !composite_->adjust) return;
    IPictureAdjust& a = *composite_->adjust.get();
    const std::uint8_t in = std::uint8_t(input - 1);
    // The low byte of trunc(v x 1.275), the factor a single-precision value (just below 1.275), the product
    // exact: 0..200 map to 0..254 (100 -> 127).
    std::int32_t scaled[4];
    for (int i = 0; i < 4; ++i) {
        const double x = std::trunc(double(values[i]) * double(1.275f));
        scaled[i] = std::int32_t(std::uint8_t(std::int64_t(x) & 0xFF));
    }
    HRESULT hr;
    if (FAILED(hr = a.SetAdjustment1(scaled[0], in))) { fail(kAdjustFirst, hr); return; }
    if (FAILED(hr = a.SetAdjustment2(scaled[1], in))) { fail(kAdjustFirst + 1, hr); return; }
    if (FAILED(hr = a.SetAdjustment3(scaled[2], in))) { fail(kAdjustFirst + 2, hr); return; }
    if (FAILED(hr = a.SetAdjustment4(scaled[3], in))) fail(kAdjustFirst + 3, hr);
}

bool ConsoleVideo::save_configuration(const std::string& name) {
    Lock l(*this);
    ConsoleLayout values = layout_;
    values.overlay_alpha = overlay_.alpha.load(relaxed);
    ICapteurControl* sensor = composite_ ? composite_->sensor.get() : nullptr;
    return write_console_config(document_, values, sensor, name, env_.configs_dir);
}

void ConsoleVideo::save_layout(const std::string& name) { save_configuration(name); }

HRESULT ConsoleVideo::take_layout(const MinXL::t_xml_node& doc, const ConsoleLayout& layout) {
    Lock l(*this);
    document_ = doc;
    for (int k = 0; k < kConsolePanes; ++k) {
        CompositePane& p = layout_.panes[k];
        const CompositePane& n = layout.panes[k];
        p.left = n.left, p.top = n.top, p.right = n.right, p.bottom = n.bottom, p.alpha = n.alpha, p.z = n.z;
    }
    // The file's overlay alpha applies from now on; only a remote layout switches the overlay on.
    overlay_.alpha.store(layout.overlay_alpha, relaxed);
    if (!composite_) return S_FALSE;
    quiet_ = true;
    HRESULT hr = S_OK;
    for (int k = 0; k < kConsolePanes && SUCCEEDED(hr); ++k) hr = apply_pane_change(k);
    quiet_ = false;
    return hr;
}

HRESULT ConsoleVideo::run_composite_graph() {
    Lock l(*this);
    if (!composite_ || !composite_->control) return S_FALSE;  // released: nothing to run
    return composite_->control->Run();
}

} // namespace kavro::console
