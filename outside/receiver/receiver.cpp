// JPEG_Receiver.ax: the network receiver "JPEG Receiver". Place 3 of its private interface takes the mixer's
// address bytes and port; it reads the mixer's network sender (MJPEG over HTTP, docs/mjpeg-over-http.md) and
// delivers the frames like a network camera, with the same "no signal" card while the mixer cannot be reached.
// KAVRO_RECEIVER_URL, when set, gives the whole URL instead.
#include "outside/mjpeg/network_source.h"
#include "outside/receiver.h"
#include "platform/dshow/base/factory.h"
#include "platform/dshow/jpeg_decoder.h"

#include <cstdlib>
#include <new>

using namespace kavro::dshow::setup;

namespace {

// The sender's stream path.
constexpr const char* kStreamPath = "/video.mjpg";
constexpr const char* kName = "JPEG Receiver";

class CReceiver final : public kavro::mjpeg::CNetworkSource, public IJpegReceiver {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr) {
        CUnknown* filter = new (std::nothrow) CReceiver(outer, phr);
        if (!filter && phr) *phr = E_OUTOFMEMORY;
        return filter;
    }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IJpegReceiver) return GetInterface(static_cast<IJpegReceiver*>(this), object);
        return CNetworkSource::NonDelegatingQueryInterface(riid, object);
    }

    // The mixer's address a.b.c.d and port (1..65535; 0 or address 0.0.0.0: no mixer).
    HRESULT SetSource(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::int32_t port) override {
        if (port < 0 || port > 65535) return E_INVALIDARG;
        const std::string address = std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." +
                                    std::to_string(d) + ":" + std::to_string(port);
        std::string url;
        if (const char* set = std::getenv("KAVRO_RECEIVER_URL"); set && set[0])
            url = set;
        else if ((a | b | c | d) != 0 && port != 0)
            url = "http://" + address + kStreamPath;
        SetStream(url, {"MIXER", address});
        return S_OK;
    }

private:
    CReceiver(IUnknown* outer, HRESULT* phr) : CNetworkSource(kName, outer, CLSID_JpegReceiver, phr, kName) {
        SetStream({}, {"MIXER", "NO ADDRESS"});
    }
};

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_MJPG}};
const AMOVIESETUP_PIN kPins[] = {output_pin("Out", kPinTypes)};
const AMOVIESETUP_FILTER kFilter = filter(CLSID_JpegReceiver, kName, kPins);

} // namespace

KAVRO_DSHOW_PLUGIN(filter_template(kFilter, CReceiver::CreateInstance))
