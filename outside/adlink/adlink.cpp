#include "outside/adlink/adlink.h"

#include "platform/dshow/base/video_type.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

using namespace kavro::dshow::setup;

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32}};
const AMOVIESETUP_PIN kPins[] = {output_pin("Output 1", kPinTypes), output_pin("Output 2", kPinTypes),
                                 output_pin("Output 3", kPinTypes), output_pin("Output 4", kPinTypes)};
const AMOVIESETUP_FILTER kFilter = filter(CLSID_CaptureCard, "Adlink capture card", kPins);

// A device that has given no picture for this long shows the "no signal" card.
constexpr auto kSignalLost = std::chrono::seconds(2);

// Copies a 32-bit DIB (header then pixels, rows bottom-up for a positive height) scaled to 768 x 576.
bool copy_dib(const BYTE* dib, std::uint32_t* out) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib, sizeof h);
    if (h.biBitCount != 32 || h.biWidth <= 0 || h.biHeight == 0 || h.biWidth > 8192 || std::abs(h.biHeight) > 8192)
        return false;
    const int w = int(h.biWidth), height = std::abs(int(h.biHeight));
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(dib + h.biSize);
    for (int y = 0; y < adlink::kHeight; ++y) {
        const int sy = y * height / adlink::kHeight;
        const std::uint32_t* row = pixels + std::size_t(h.biHeight > 0 ? height - 1 - sy : sy) * std::size_t(w);
        std::uint32_t* dst = out + std::size_t(y) * adlink::kWidth;
        if (w == adlink::kWidth) {
            std::memcpy(dst, row, adlink::kWidth * 4);
        } else {
            for (int x = 0; x < adlink::kWidth; ++x) dst[x] = row[x * w / adlink::kWidth];
        }
    }
    return true;
}

} // namespace

KAVRO_DSHOW_PLUGIN(filter_template(kFilter, CAdlink::CreateInstance))

std::optional<std::string> adlink::device_from_environment(int input) {
    char name[32];
    std::snprintf(name, sizeof name, "KAVRO_ADLINK_INPUT%d", input + 1);
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

// ---------------------------------------------------------------------------------------------------------
// The filter

CUnknown* CAdlink::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return CreateInstance(outer, phr, adlink::AdlinkOptions{});
}

CUnknown* CAdlink::CreateInstance(IUnknown* outer, HRESULT* phr, const adlink::AdlinkOptions& options) {
    CUnknown* filter = new (std::nothrow) CAdlink(outer, phr, options);
    if (!filter && phr) *phr = E_OUTOFMEMORY;
    return filter;
}

CAdlink::CAdlink(IUnknown* outer, HRESULT* phr, const adlink::AdlinkOptions& options)
    : CSource("Adlink", outer, CLSID_CaptureCard), m_options(options) {
    CAutoLock lock(&m_cStateLock);
    static const char* const kNames[] = {"Output 1", "Output 2", "Output 3", "Output 4"};
    try {
        m_paStreams.reserve(adlink::kPinsPerCard);
    } catch (const std::bad_alloc&) {
        if (phr) *phr = E_OUTOFMEMORY;
        return;
    }
    // Each pin adds itself to the filter.
    for (int pin = 0; pin < adlink::kPinsPerCard; ++pin)
        if (!new (std::nothrow) CAdlinkStream(phr, this, pin, kNames[pin]) && phr) *phr = E_OUTOFMEMORY;
}

CAdlink::~CAdlink() {
    while (!m_paStreams.empty()) delete m_paStreams.back();
}

HRESULT CAdlink::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IPictureAdjust) return GetInterface(static_cast<IPictureAdjust*>(this), object);
    return CSource::NonDelegatingQueryInterface(riid, object);
}

HRESULT CAdlink::JoinFilterGraph(IFilterGraph* graph, const char* name) {
    const HRESULT hr = CSource::JoinFilterGraph(graph, name);
    if (FAILED(hr)) return hr;
    // The graph adds a filter to its list after it has joined, so every card counted here came before this one.
    int earlier = 0;
    ComPtr<IEnumFilters> filters;
    if (graph && SUCCEEDED(graph->EnumFilters(filters.put())) && filters) {
        IBaseFilter* f = nullptr;
        ULONG got = 0;
        while (filters->Next(1, &f, &got) == S_OK) {
            ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::adopt(f);
            CLSID clsid{};
            if (filter.get() != static_cast<IBaseFilter*>(this) && SUCCEEDED(filter->GetClassID(&clsid)) &&
                clsid == CLSID_CaptureCard)
                ++earlier;
        }
    }
    m_card.store(earlier > 0 ? 1 : 0, std::memory_order_relaxed);
    if (!graph) {
        std::lock_guard g(m_mixerLock);
        m_mixer.reset();
        m_mixerOutput.reset();
    }
    return S_OK;
}

HRESULT CAdlink::Pause() {
    // Leaving stopped: find the graph's mixing renderer for the return input before the pins start.
    if (IsStopped() && Card() == 1 && m_pGraph) {
        ComPtr<IVMRWindowlessControl9> mixer;
        ComPtr<IEnumFilters> filters;
        if (SUCCEEDED(m_pGraph->EnumFilters(filters.put())) && filters) {
            IBaseFilter* f = nullptr;
            ULONG got = 0;
            while (!mixer && filters->Next(1, &f, &got) == S_OK) {
                ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::adopt(f);
                filter->QueryInterface(IID_IVMRWindowlessControl9, mixer.put_void());
            }
        }
        ComPtr<IMixerOutput> output;
        if (mixer) mixer.as(IID_IMixerOutput, output);
        std::lock_guard g(m_mixerLock);
        m_mixer = std::move(mixer);
        m_mixerOutput = std::move(output);
    }
    return CSource::Pause();
}

HRESULT CAdlink::Stop() {
    const HRESULT hr = CSource::Stop(); // the pins' threads have ended
    std::lock_guard g(m_mixerLock);
    m_mixer.reset();
    m_mixerOutput.reset();
    return hr;
}

bool CAdlink::MixerPicture(std::uint32_t* out) {
    ComPtr<IVMRWindowlessControl9> mixer;
    ComPtr<IMixerOutput> output;
    {
        std::lock_guard g(m_mixerLock);
        mixer = m_mixer;
        output = m_mixerOutput;
    }
    // The mixer's output as its window shows it (a copy); a composition of its own only while it shows none.
    if (output && output->CopyShownPicture(out, adlink::kWidth, adlink::kHeight, adlink::kWidth) == S_OK)
        return true;
    BYTE* dib = nullptr;
    if (!mixer || FAILED(mixer->GetCurrentImage(&dib)) || !dib) return false;
    const bool ok = copy_dib(dib, out);
    CoTaskMemFree(dib);
    return ok;
}

adlink::Adjustments CAdlink::Adjustments(int input) const {
    std::lock_guard g(m_adjustLock);
    return m_adjust[std::size_t(input)];
}

HRESULT CAdlink::Set(int which, std::int32_t value, std::uint8_t input) {
    if (input >= adlink::kInputs) return E_INVALIDARG;
    // The operator's changes are rare; each is logged with the value as received, before it is clamped.
    static const char* const kNames[] = {"brightness", "contrast", "saturation", "hue"};
    std::fprintf(stderr, "Adlink card %d: input %d %s %d\n", Card() + 1, input + 1, kNames[which], int(value));
    const int v = adlink::clamp_adjustment(value);
    std::lock_guard g(m_adjustLock);
    adlink::Adjustments& a = m_adjust[input];
    (which == 0 ? a.brightness : which == 1 ? a.contrast : which == 2 ? a.saturation : a.hue) = v;
    return S_OK;
}

HRESULT CAdlink::Reserved3() { return E_NOTIMPL; }
HRESULT CAdlink::Reserved5() { return E_NOTIMPL; }
HRESULT CAdlink::Reserved7() { return E_NOTIMPL; }
HRESULT CAdlink::Reserved9() { return E_NOTIMPL; }
HRESULT CAdlink::SetAdjustment1(std::int32_t value, std::uint8_t input) { return Set(0, value, input); }
HRESULT CAdlink::SetAdjustment2(std::int32_t value, std::uint8_t input) { return Set(1, value, input); }
HRESULT CAdlink::SetAdjustment3(std::int32_t value, std::uint8_t input) { return Set(2, value, input); }
HRESULT CAdlink::SetAdjustment4(std::int32_t value, std::uint8_t input) { return Set(3, value, input); }

// ---------------------------------------------------------------------------------------------------------
// The pins

CAdlinkStream::CAdlinkStream(HRESULT* phr, CAdlink* filter, int pin, const char* name)
    : CSourceStream("Adlink output", phr, filter, name), m_adlink(filter), m_pin(pin) {}

namespace {
// The card's picture: 32-bit RGB, rows top first.
UncompressedVideo adlink_video(REFERENCE_TIME period) {
    return {&MEDIASUBTYPE_RGB32, adlink::kWidth, -adlink::kHeight, 32, period};
}
} // namespace

HRESULT CAdlinkStream::GetMediaType(CMediaType* mt) {
    if (!mt) return E_POINTER;
    return SetUncompressedVideoType(mt, adlink_video(m_adlink->Options().frame_period));
}

HRESULT CAdlinkStream::CheckMediaType(const CMediaType* mt) {
    if (!mt) return E_POINTER;
    return CheckUncompressedVideoType(mt, adlink_video(0));
}

HRESULT CAdlinkStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    if (!allocator || !request) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    request->cBuffers = 2;
    request->cbBuffer = adlink::kFrameBytes;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < adlink::kFrameBytes ? E_FAIL : S_OK;
}

HRESULT CAdlinkStream::OnThreadCreate() {
    m_input = m_adlink->Card() * adlink::kPinsPerCard + m_pin;
    // Named for profilers and benchmarks: the inputs' own pictures apart from the mixer's return.
    pthread_setname_np(pthread_self(), m_input == adlink::kReturnInput ? "adlink return" : "adlink input");
    m_frame = 0;
    m_due = std::chrono::steady_clock::now();
    const auto& device_for = m_adlink->Options().device_for_input;
    const std::optional<std::string> device =
        device_for ? device_for(m_input) : adlink::device_from_environment(m_input);
    try {
        m_card.emplace(m_adlink->Card() + 1, m_input + 1);
        m_capture.reset();
        if (device) m_capture = std::make_unique<adlink::V4l2Capture>(*device);
    } catch (const std::exception&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CAdlinkStream::OnThreadDestroy() {
    m_capture.reset(); // the device is held only while the graph runs
    return S_OK;
}

void CAdlinkStream::wait_until_due() {
    // One frame a period: wait for this frame's time, but answer a stop or pause at once.
    const auto period = std::chrono::nanoseconds(m_adlink->Options().frame_period * 100);
    while (std::chrono::steady_clock::now() < m_due && !CheckRequest(nullptr))
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(m_due - std::chrono::steady_clock::now(),
                                                          std::chrono::milliseconds(10)));
    const auto now = std::chrono::steady_clock::now();
    m_due += period;
    // After a long hold (paused), start again from now rather than catch up with a burst.
    if (m_due < now) m_due = now + period;
}

void CAdlinkStream::picture(std::uint32_t* pixels) {
    const adlink::Adjustments wanted = m_adlink->Adjustments(m_input);
    if (!(wanted == m_adjustments)) {
        m_adjustments = wanted;
        m_transform = adlink::ColourTransform(wanted);
    }
    m_card->set_adjustments(wanted);
    bool live = false;
    if (m_capture) {
        live = m_capture->latest(pixels, adlink::kWidth, kSignalLost);
        if (!live) {
            const std::string problem = m_capture->problem();
            m_card->set_line("NO SIGNAL " + m_capture->device() + (problem.empty() ? "" : "\n" + problem));
        }
    } else if (m_input == adlink::kReturnInput) {
        live = m_adlink->MixerPicture(pixels);
    }
    if (live) {
        m_transform.apply(pixels, adlink::kWidth, adlink::kHeight, adlink::kWidth);
    } else {
        m_card->render(pixels, adlink::kWidth, adlink::clock_text(m_frame));
    }
}

HRESULT CAdlinkStream::FillBuffer(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data || sample->GetSize() < adlink::kFrameBytes) return E_UNEXPECTED;
    wait_until_due();
    picture(reinterpret_cast<std::uint32_t*>(data));
    const REFERENCE_TIME period = m_adlink->Options().frame_period;
    REFERENCE_TIME start = m_frame * period;
    REFERENCE_TIME stop = start + period;
    ++m_frame;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    sample->SetActualDataLength(adlink::kFrameBytes);
    return S_OK;
}

HRESULT CAdlinkStream::Notify(IBaseFilter*, Quality) { return S_OK; }
