#include "platform/dshow/base/allocator.h"

#include "platform/com/runtime.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

CMediaSample::CMediaSample(CMemAllocator* allocator, BYTE* buffer, LONG size)
    : m_pAllocator(allocator), m_pBuffer(buffer), m_cbBuffer(size), m_lActual(size) {}

CMediaSample::~CMediaSample() { DeleteMediaType(m_pMediaType); }

void CMediaSample::FinalRelease() { m_pAllocator->ReleaseBuffer(this); }

HRESULT CMediaSample::GetPointer(BYTE** buffer) {
    if (!buffer) return E_POINTER;
    *buffer = m_pBuffer;
    return S_OK;
}

LONG CMediaSample::GetSize() { return m_cbBuffer; }

HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
    if (!start || !stop) return E_POINTER;
    if (!m_hasTime) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = m_start;
    if (!m_hasStop) {
        *stop = m_start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *stop = m_stop;
    return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
    if (!start) {
        m_hasTime = m_hasStop = false;
        return S_OK;
    }
    m_hasTime = true;
    m_start = *start;
    m_hasStop = stop != nullptr;
    if (stop) m_stop = *stop;
    return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() { return m_sync ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetSyncPoint(BOOL sync) {
    m_sync = sync != FALSE;
    return S_OK;
}
HRESULT CMediaSample::IsPreroll() { return m_preroll ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetPreroll(BOOL preroll) {
    m_preroll = preroll != FALSE;
    return S_OK;
}
LONG CMediaSample::GetActualDataLength() { return m_lActual; }
HRESULT CMediaSample::SetActualDataLength(LONG length) {
    if (length < 0 || length > m_cbBuffer) return E_INVALIDARG;
    m_lActual = length;
    return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** mt) {
    if (!mt) return E_POINTER;
    *mt = nullptr;
    if (!m_pMediaType) return S_FALSE;
    *mt = CreateMediaType(m_pMediaType);
    return *mt ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* mt) {
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
    if (!mt) return S_OK;
    m_pMediaType = CreateMediaType(mt);
    return m_pMediaType ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::IsDiscontinuity() { return m_discontinuity ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetDiscontinuity(BOOL d) {
    m_discontinuity = d != FALSE;
    return S_OK;
}

HRESULT CMediaSample::GetMediaTime(std::int64_t* start, std::int64_t* end) {
    if (!start || !end) return E_POINTER;
    if (!m_hasMediaTime) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = m_mediaStart;
    *end = m_mediaEnd;
    return S_OK;
}

HRESULT CMediaSample::SetMediaTime(std::int64_t* start, std::int64_t* end) {
    if (!start) {
        m_hasMediaTime = false;
        return S_OK;
    }
    if (!end) return E_POINTER;
    m_hasMediaTime = true;
    m_mediaStart = *start;
    m_mediaEnd = *end;
    return S_OK;
}

void CMediaSample::ResetProperties() {
    m_hasTime = m_hasStop = m_hasMediaTime = false;
    m_sync = m_preroll = m_discontinuity = false;
    m_lActual = m_cbBuffer;
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
}

CMemAllocator::CMemAllocator(const char* name, IUnknown* outer, HRESULT* phr) : CUnknownObject(name, outer) {
    if (phr) *phr = S_OK;
}

CMemAllocator::~CMemAllocator() {
    m_samples.clear();
    std::free(m_pMemory);
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    if (!request || !actual) return E_POINTER;
    std::lock_guard g(m_lock);
    if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
    if (m_freeList.size() != m_samples.size()) return VFW_E_BUFFERS_OUTSTANDING;
    if (request->cBuffers <= 0 || request->cbBuffer <= 0 || request->cbPrefix < 0) return E_INVALIDARG;
    const LONG align = request->cbAlign <= 0 ? 1 : request->cbAlign;
    if ((align & (align - 1)) != 0) return E_INVALIDARG;
    m_props = *request;
    m_props.cbAlign = align;
    // Each buffer (prefix included) takes a whole number of alignment units.
    const LONG unit = (request->cbBuffer + request->cbPrefix + align - 1) / align * align;
    m_props.cbBuffer = unit - request->cbPrefix;
    *actual = m_props;
    return S_OK;
}

HRESULT CMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
    if (!props) return E_POINTER;
    std::lock_guard g(m_lock);
    *props = m_props;
    return S_OK;
}

HRESULT CMemAllocator::Commit() {
    std::lock_guard g(m_lock);
    if (m_props.cbBuffer <= 0 || m_props.cBuffers <= 0) return VFW_E_SIZENOTSET;
    m_bDecommitInProgress = false;
    if (m_bCommitted) return S_OK;
    if (!m_pMemory) {
        const std::size_t stride = std::size_t(m_props.cbBuffer + m_props.cbPrefix);
        const std::size_t align = m_props.cbAlign < 64 ? 64 : std::size_t(m_props.cbAlign);
        const std::size_t total = (stride * std::size_t(m_props.cBuffers) + align - 1) / align * align;
        m_pMemory = static_cast<BYTE*>(std::aligned_alloc(align, total));
        if (!m_pMemory) return E_OUTOFMEMORY;
        m_samples.clear();
        m_freeList.clear();
        for (LONG i = 0; i < m_props.cBuffers; ++i) {
            BYTE* p = m_pMemory + stride * std::size_t(i) + std::size_t(m_props.cbPrefix);
            m_samples.push_back(std::make_unique<CMediaSample>(this, p, m_props.cbBuffer));
            m_freeList.push_back(m_samples.back().get());
        }
    }
    m_bCommitted = true;
    return S_OK;
}

void CMemAllocator::FreeIfIdle() {
    if (m_bCommitted || m_freeList.size() != m_samples.size()) return;
    m_bDecommitInProgress = false;
    m_freeList.clear();
    m_samples.clear();
    std::free(m_pMemory);
    m_pMemory = nullptr;
}

HRESULT CMemAllocator::Decommit() {
    std::lock_guard g(m_lock);
    if (!m_bCommitted) return S_OK;
    m_bCommitted = false;
    m_bDecommitInProgress = true;
    FreeIfIdle();
    m_free.notify_all();
    return S_OK;
}

HRESULT CMemAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD flags) {
    if (!sample) return E_POINTER;
    *sample = nullptr;
    std::unique_lock g(m_lock);
    for (;;) {
        if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
        if (!m_freeList.empty()) break;
        if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
        m_free.wait(g);
    }
    CMediaSample* s = m_freeList.back();
    m_freeList.pop_back();
    s->ResetProperties();
    s->AddRef();
    // The allocator stays alive while any of its samples is out.
    NonDelegatingAddRef();
    *sample = s;
    return S_OK;
}

HRESULT CMemAllocator::ReleaseBuffer(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    {
        std::lock_guard g(m_lock);
        m_freeList.push_back(static_cast<CMediaSample*>(sample));
        if (m_bDecommitInProgress) FreeIfIdle();
        m_free.notify_one();
    }
    NonDelegatingRelease();
    return S_OK;
}

bool CMemAllocator::Owns(IMediaSample* sample) {
    if (!sample) return false;
    std::lock_guard g(m_lock);
    return std::any_of(m_samples.begin(), m_samples.end(), [&](const std::unique_ptr<CMediaSample>& s) {
        return static_cast<IMediaSample*>(s.get()) == sample;
    });
}
