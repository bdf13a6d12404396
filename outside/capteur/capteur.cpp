#include "outside/capteur/capteur.h"
#include "outside/capteur/overlay.h"

#include "platform/dshow/base/video_type.h"

#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

using namespace kavro::dshow::setup;

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32}};
const AMOVIESETUP_PIN kPins[] = {output_pin("Output", kPinTypes)};
const AMOVIESETUP_FILTER kFilter = filter(CLSID_Capteur, "Capteur", kPins);

capteur::Address bytes(const unsigned char* b1, const unsigned char* b2, const unsigned char* b3,
                       const unsigned char* b4) {
    return {*b1, *b2, *b3, *b4};
}

} // namespace

KAVRO_DSHOW_PLUGIN(filter_template(kFilter, CCapteur::CreateInstance))

// ---------------------------------------------------------------------------------------------------------
// The filter

CUnknown* CCapteur::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return CreateInstance(outer, phr, capteur::CapteurOptions{});
}

CUnknown* CCapteur::CreateInstance(IUnknown* outer, HRESULT* phr, const capteur::CapteurOptions& options) {
    CUnknown* filter = new (std::nothrow) CCapteur(outer, phr, options);
    if (!filter && phr) *phr = E_OUTOFMEMORY;
    return filter;
}

CCapteur::CCapteur(IUnknown* outer, HRESULT* phr, const capteur::CapteurOptions& options)
    : CSource("Capteur", outer, CLSID_Capteur), m_channels(options.silence), m_listener(m_channels, options.listener) {
    CAutoLock lock(&m_cStateLock);
    // In the mixer's process: indexes given no status port take the station copies of the robots' status.
    m_channels.set_station_copies(std::getenv("KAVRO_STATION_STATUS") != nullptr);
    try {
        m_paStreams.reserve(1);
    } catch (const std::bad_alloc&) {
        if (phr) *phr = E_OUTOFMEMORY;
        return;
    }
    // The pin adds itself to the filter.
    if (!new (std::nothrow) CCapteurStream(phr, this, options.frame_period) && phr) *phr = E_OUTOFMEMORY;
    if (!m_listener.start() && phr) *phr = E_FAIL;
}

CCapteur::~CCapteur() {
    // The pin's streaming thread reads the channels: it goes first, then the listener.
    while (!m_paStreams.empty()) delete m_paStreams.back();
    m_listener.stop();
}

HRESULT CCapteur::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_ICapteurControl) return GetInterface(static_cast<ICapteurControl*>(this), object);
    return CSource::NonDelegatingQueryInterface(riid, object);
}

HRESULT CCapteur::Reserved3() { return E_NOTIMPL; }
HRESULT CCapteur::Reserved4() { return E_NOTIMPL; }

HRESULT CCapteur::SetConfig(int index, const kavro::SensorChannelRecord* record) {
    if (!record) return E_POINTER;
    // Exactly the 52 settings bytes are read, whichever form the caller holds.
    kavro::SensorChannelRecord copy;
    std::memcpy(&copy, record, sizeof copy);
    if (!m_channels.set_config(index, copy)) return E_INVALIDARG;
    m_listener.wake();
    return S_OK;
}

HRESULT CCapteur::GetConfig(int index, kavro::ConsoleSensorChannelRecord* record) {
    if (!record) return E_POINTER;
    kavro::ConsoleSensorChannelRecord copy;
    if (!m_channels.get_config(index, copy)) return E_INVALIDARG;
    std::memcpy(record, &copy, sizeof copy);
    return S_OK;
}

HRESULT CCapteur::LoopbackBytes(unsigned char* b1, unsigned char* b2, unsigned char* b3, unsigned char* b4) {
    if (!b1 || !b2 || !b3 || !b4) return E_POINTER;
    m_channels.set_reference(bytes(b1, b2, b3, b4));
    return S_OK;
}

HRESULT CCapteur::AddressBytes(unsigned char* b1, unsigned char* b2, unsigned char* b3, unsigned char* b4) {
    if (!b1 || !b2 || !b3 || !b4) return E_POINTER;
    m_channels.set_address(bytes(b1, b2, b3, b4));
    return S_OK;
}

HRESULT CCapteur::GetStatus(int* index, std::int32_t* battery, std::int32_t* wheel1, std::int32_t* wheel2,
                            std::int32_t* signal) {
    if (!index || !battery || !wheel1 || !wheel2 || !signal) return E_POINTER;
    capteur::Status s;
    if (!m_channels.status(*index, capteur::Clock::now(), s)) return E_INVALIDARG;
    *battery = s.battery;
    *wheel1 = s.wheel1;
    *wheel2 = s.wheel2;
    *signal = s.signal;
    return S_OK;
}

HRESULT CCapteur::GetPosition(int* index, float* latitude, float* longitude) {
    if (!index || !latitude || !longitude) return E_POINTER;
    float lat = 0.0f, lon = 0.0f;
    if (!m_channels.position(*index, lat, lon)) return E_INVALIDARG;
    *latitude = lat;
    *longitude = lon;
    return S_OK;
}

HRESULT CCapteur::SetWaypoint(int* robot, int waypoint, float* x, float* y) {
    if (!robot || !x || !y) return E_POINTER;
    return m_channels.set_waypoint(*robot, waypoint, *x, *y) ? S_OK : E_INVALIDARG;
}

HRESULT CCapteur::SetRobotValue(int* robot, int* value) {
    if (!robot || !value) return E_POINTER;
    return m_channels.set_value(*robot, *value) ? S_OK : E_INVALIDARG;
}

// ---------------------------------------------------------------------------------------------------------
// The overlay pin

CCapteurStream::CCapteurStream(HRESULT* phr, CCapteur* filter, REFERENCE_TIME period)
    : CSourceStream("Capteur output", phr, filter, "Output"), m_capteur(filter),
      m_period(period > 0 ? period : UNITS / 10) {}

namespace {
// The only picture this pin draws: 768 x 576, 32 bits, rows top first.
UncompressedVideo sensor_video(REFERENCE_TIME period) {
    return {&MEDIASUBTYPE_RGB32, capteur::kFrameWidth, -capteur::kFrameHeight, 32, period};
}
} // namespace

HRESULT CCapteurStream::GetMediaType(CMediaType* mt) {
    if (!mt) return E_POINTER;
    return SetUncompressedVideoType(mt, sensor_video(m_period));
}

HRESULT CCapteurStream::CheckMediaType(const CMediaType* mt) { return CheckUncompressedVideoType(mt, sensor_video(0)); }

HRESULT CCapteurStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    if (!allocator || !request) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    request->cBuffers = 1;
    request->cbBuffer = capteur::kFrameBytes;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < capteur::kFrameBytes) return E_FAIL;
    return S_OK;
}

HRESULT CCapteurStream::OnThreadCreate() {
    m_frame = 0;
    m_due = capteur::Clock::now();
    return S_OK;
}

HRESULT CCapteurStream::FillBuffer(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data || sample->GetSize() < capteur::kFrameBytes) return E_UNEXPECTED;

    // About one frame a period: wait for this frame's time, but answer a stop or pause at once.
    const auto period = std::chrono::nanoseconds(m_period * 100);
    while (capteur::Clock::now() < m_due && !CheckRequest(nullptr))
        std::this_thread::sleep_for(std::min<capteur::Clock::duration>(m_due - capteur::Clock::now(),
                                                                      std::chrono::milliseconds(10)));
    const auto now = capteur::Clock::now();
    m_due += period;
    // After a long hold (paused), start again from now rather than catch up with a burst.
    if (m_due < now) m_due = now + period;

    capteur::draw_overlay(reinterpret_cast<std::uint32_t*>(data), capteur::kFrameWidth,
                          m_capteur->Channels().views(now));
    REFERENCE_TIME start = m_frame * m_period;
    REFERENCE_TIME stop = start + m_period;
    ++m_frame;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    sample->SetActualDataLength(capteur::kFrameBytes);
    return S_OK;
}

HRESULT CCapteurStream::Notify(IBaseFilter*, Quality) { return S_OK; }
