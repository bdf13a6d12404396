#include "outside/mjpeg/network_source.h"

#include "platform/dshow/jpeg_decoder.h"
#include "platform/jpeg/jpeg.h"
#include "util/pixel_text.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

namespace kavro::mjpeg {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBackground = 0x00202838;
constexpr std::uint32_t kBand = 0x00603030;
constexpr std::uint32_t kWhite = 0x00FFFFFF;
constexpr std::uint32_t kYellow = 0x00F0E040;
constexpr std::uint32_t kGrey = 0x00A0A0A0;

void centred(const pixels::Image& image, int y, const std::string& text, std::uint32_t colour, int scale) {
    int s = scale;
    while (s > 1 && pixels::text_width(text, s) > image.width - 16) --s;
    pixels::draw_text(image, (image.width - pixels::text_width(text, s)) / 2, y, text, colour, s);
}

std::string wall_clock() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &tm);
    return text;
}

} // namespace

std::vector<std::uint8_t> no_signal_card(const SourceLabel& label, const std::string& state, const std::string& clock) {
    std::vector<std::uint32_t> px(std::size_t(kAnnouncedWidth) * kAnnouncedHeight, kBackground);
    const pixels::Image image{px.data(), kAnnouncedWidth, kAnnouncedHeight, kAnnouncedWidth};
    pixels::fill_rect(image, 0, 120, kAnnouncedWidth, 220, kBand);
    centred(image, 142, "NO SIGNAL", kYellow, 8);
    centred(image, 260, label.name, kWhite, 5);
    centred(image, 330, label.address, kWhite, 4);
    centred(image, 390, state, kGrey, 2);
    centred(image, 460, clock, kWhite, 4);
    std::vector<std::uint8_t> jpeg;
    jpeg::encode({reinterpret_cast<const std::uint8_t*>(px.data()), kAnnouncedWidth, kAnnouncedHeight,
                  std::size_t(kAnnouncedWidth) * 4, jpeg::PixelFormat::bgrx32, false},
                 {75, true}, jpeg);
    return jpeg;
}

// ---- pin ----

CNetworkStream::CNetworkStream(HRESULT* phr, CNetworkSource* filter)
    : CSourceStream("network stream", phr, filter, "Out"), m_source(filter) {}

HRESULT CNetworkStream::GetMediaType(CMediaType* mt) {
    if (!mt) return E_POINTER;
    auto* vi = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (!vi) return E_OUTOFMEMORY;
    std::memset(vi, 0, sizeof *vi);
    vi->AvgTimePerFrame = UNITS / 25;
    vi->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vi->bmiHeader.biWidth = kAnnouncedWidth;
    vi->bmiHeader.biHeight = kAnnouncedHeight;
    vi->bmiHeader.biPlanes = 1;
    vi->bmiHeader.biBitCount = 24;
    vi->bmiHeader.biCompression = FOURCC_MJPG;
    vi->bmiHeader.biSizeImage = DWORD(kSampleBytes);
    mt->SetType(&MEDIATYPE_Video);
    mt->SetSubtype(&MEDIASUBTYPE_MJPG);
    mt->SetFormatType(&FORMAT_VideoInfo);
    mt->SetTemporalCompression(FALSE);
    mt->SetVariableSize();
    return S_OK;
}

HRESULT CNetworkStream::CheckMediaType(const CMediaType* mt) {
    if (!mt) return E_POINTER;
    return *mt->Type() == MEDIATYPE_Video && *mt->Subtype() == MEDIASUBTYPE_MJPG ? S_OK : E_INVALIDARG;
}

HRESULT CNetworkStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    if (!allocator || !request) return E_POINTER;
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, LONG(kSampleBytes));
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < LONG(kSampleBytes) ? E_FAIL : S_OK;
}

HRESULT CNetworkStream::Active() {
    const HRESULT hr = CSourceStream::Active();
    if (SUCCEEDED(hr)) m_source->StartReading();
    return hr;
}

HRESULT CNetworkStream::Inactive() {
    m_source->StopReading();
    return CSourceStream::Inactive();
}

HRESULT CNetworkStream::Notify(IBaseFilter*, Quality) { return S_OK; }

HRESULT CNetworkStream::FillBuffer(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return E_UNEXPECTED;
    const LONG capacity = sample->GetSize();
    for (;;) {
        std::unique_lock lock(m_source->m_frameLock);
        const auto now = Clock::now();
        if (m_source->m_sequence != m_delivered) {
            m_delivered = m_source->m_sequence;
            const auto& frame = m_source->m_frame;
            if (LONG(frame.size()) > capacity) continue;
            std::memcpy(data, frame.data(), frame.size());
            sample->SetActualDataLength(LONG(frame.size()));
            sample->SetSyncPoint(TRUE);
            return S_OK;
        }
        const bool lost = m_source->m_sequence == 0 || now - m_source->m_frameTime > kSignalTimeout;
        if (lost && (now - m_lastCard >= kCardPeriod || CheckRequest(nullptr))) {
            lock.unlock();
            m_lastCard = now;
            std::string state;
            SourceLabel label;
            {
                std::lock_guard g(m_source->m_streamLock);
                label = m_source->m_label;
                state = m_source->m_url.empty() ? "NO ADDRESS SET" : m_source->m_reader.last_error();
            }
            const std::string clock = wall_clock() + " " + state;
            if (m_card.empty() || clock != m_cardClock) {
                m_card = no_signal_card(label, state.empty() ? "CONNECTING" : state, wall_clock());
                m_cardClock = clock;
            }
            if (m_card.empty() || LONG(m_card.size()) > capacity) return E_FAIL;
            std::memcpy(data, m_card.data(), m_card.size());
            sample->SetActualDataLength(LONG(m_card.size()));
            sample->SetSyncPoint(TRUE);
            m_source->m_cards.fetch_add(1, std::memory_order_relaxed);
            return S_OK;
        }
        if (CheckRequest(nullptr) && !m_source->m_frame.empty() && LONG(m_source->m_frame.size()) <= capacity) {
            // A pause or stop is waiting: hand over the current picture again rather than keep it waiting.
            std::memcpy(data, m_source->m_frame.data(), m_source->m_frame.size());
            sample->SetActualDataLength(LONG(m_source->m_frame.size()));
            return S_OK;
        }
        m_source->m_frameReady.wait_for(lock, std::chrono::milliseconds(20));
    }
}

// ---- filter ----

CNetworkSource::CNetworkSource(const char* objectName, IUnknown* outer, REFCLSID clsid, HRESULT* phr,
                               std::string logName)
    : CSource(objectName, outer, clsid),
      m_reader([this](std::span<const std::uint8_t> jpeg) { OnFrame(jpeg); },
               ReaderSettings{.log_name = std::move(logName)}) {
    CAutoLock lock(&m_cStateLock);
    if (!new (std::nothrow) CNetworkStream(phr, this) && phr) *phr = E_OUTOFMEMORY;
}

CNetworkSource::~CNetworkSource() { m_reader.stop(); }

void CNetworkSource::SetStream(const std::string& url, SourceLabel label) {
    std::lock_guard lock(m_streamLock);
    const bool changed = url != m_url;
    m_url = url;
    m_label = std::move(label);
    if (!changed || !m_active) return;
    if (m_url.empty())
        m_reader.stop();
    else
        m_reader.start(m_url);
}

bool CNetworkSource::HasSignal() const {
    std::lock_guard lock(m_frameLock);
    return m_sequence != 0 && Clock::now() - m_frameTime <= kSignalTimeout;
}

void CNetworkSource::OnFrame(std::span<const std::uint8_t> jpeg) {
    {
        std::lock_guard lock(m_frameLock);
        m_frame.assign(jpeg.begin(), jpeg.end());
        ++m_sequence;
        m_frameTime = Clock::now();
    }
    m_frameReady.notify_one();
}

void CNetworkSource::StartReading() {
    std::lock_guard lock(m_streamLock);
    m_active = true;
    if (!m_url.empty()) m_reader.start(m_url);
}

void CNetworkSource::StopReading() {
    std::lock_guard lock(m_streamLock);
    m_active = false;
    m_reader.stop();
}

} // namespace kavro::mjpeg
