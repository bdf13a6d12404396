// camIP.ax, camIP2.ax, camIP3.ax, camIP4.ax: the network camera sources. This file is built once per camera
// with KAVRO_CAMERA_INDEX set to 1..4, which picks the camera's class, private interface and friendly name.
// Place 3 of the private interface takes the camera's address bytes, port and stream kind; the kind's path
// (camera_paths.h) gives the URL of the camera's MJPEG stream.
#include "outside/camip/camera_paths.h"
#include "outside/mjpeg/network_source.h"
#include "outside/network_camera.h"
#include "platform/dshow/base/factory.h"
#include "platform/dshow/jpeg_decoder.h"

#include <cstdlib>
#include <new>

#ifndef KAVRO_CAMERA_INDEX
#error "KAVRO_CAMERA_INDEX (1..4) must be defined"
#endif

using namespace kavro::dshow::setup;

namespace {

constexpr int kCamera = KAVRO_CAMERA_INDEX;
static_assert(kCamera >= 1 && kCamera <= 4);
constexpr CLSID kClasses[] = {CLSID_NetworkCamera1, CLSID_NetworkCamera2, CLSID_NetworkCamera3,
                              CLSID_NetworkCamera4};
constexpr IID kInterfaces[] = {IID_INetworkCamera1, IID_INetworkCamera2, IID_INetworkCamera3, IID_INetworkCamera4};
// Friendly names: the mixer binds camera n by the prefix "camIP" (n = 1) or "camIPn". "camIP" is also a prefix
// of the others, so camIP.ax is registered first (the setup step does) and the first match is camera 1.
constexpr const char* kNames[] = {"camIP", "camIP2", "camIP3", "camIP4"};
constexpr const CLSID& kClass = kClasses[kCamera - 1];

const char* environment(const char* name) { return std::getenv(name); }

class CCamera final : public kavro::mjpeg::CNetworkSource, public INetworkCamera {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr) {
        CUnknown* filter = new (std::nothrow) CCamera(outer, phr);
        if (!filter && phr) *phr = E_OUTOFMEMORY;
        return filter;
    }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == kInterfaces[kCamera - 1]) return GetInterface(static_cast<INetworkCamera*>(this), object);
        return CNetworkSource::NonDelegatingQueryInterface(riid, object);
    }

    // Address bytes a.b.c.d (0..255), port (0..65535; 0 or address 0.0.0.0: no camera), kind 1..3.
    HRESULT SetCamera(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, std::int32_t port,
                      std::int32_t kind) override {
        for (std::int32_t byte : {a, b, c, d})
            if (byte < 0 || byte > 255) return E_INVALIDARG;
        if (port < 0 || port > 65535) return E_INVALIDARG;
        const auto path = camip::kind_path(kind, environment);
        if (!path) return E_INVALIDARG;
        const std::string url = camip::camera_url(kCamera, std::uint8_t(a), std::uint8_t(b), std::uint8_t(c),
                                                  std::uint8_t(d), port, *path, environment);
        const std::string address = std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." +
                                    std::to_string(d) + ":" + std::to_string(port) + " " + camip::kind_name(kind);
        SetStream(url, {"CAMERA IP " + std::to_string(kCamera), address});
        return S_OK;
    }

private:
    CCamera(IUnknown* outer, HRESULT* phr)
        : CNetworkSource(kNames[kCamera - 1], outer, kClass, phr, kNames[kCamera - 1]) {
        SetStream({}, {"CAMERA IP " + std::to_string(kCamera), "NO ADDRESS"});
    }
};

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_MJPG}};
const AMOVIESETUP_PIN kPins[] = {output_pin("Out", kPinTypes)};
const AMOVIESETUP_FILTER kFilter = filter(kClass, kNames[kCamera - 1], kPins);

} // namespace

KAVRO_DSHOW_PLUGIN(filter_template(kFilter, CCamera::CreateInstance))
