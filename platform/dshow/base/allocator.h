// Media samples and the fixed-buffer allocator: cBuffers buffers of cbBuffer bytes, handed out by
// GetBuffer (blocking while all are in use) and returned when the sample's last reference is released.
#pragma once

#include "platform/com/object.h"
#include "platform/dshow/base/unknown.h"
#include "platform/dshow/interfaces.h"

#include <condition_variable>
#include <memory>
#include <vector>

class CMemAllocator;

// A sample of the allocator's pool: its last Release hands it back to the allocator rather than deleting it.
class CMediaSample : public kavro::com::ComObject<kavro::com::Implements<IMediaSample, IID_IMediaSample>> {
public:
    CMediaSample(CMemAllocator* allocator, BYTE* buffer, LONG size);
    ~CMediaSample() override; // by the allocator that owns it

    HRESULT GetPointer(BYTE** buffer) override;
    LONG GetSize() override;
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    HRESULT IsSyncPoint() override;
    HRESULT SetSyncPoint(BOOL sync) override;
    HRESULT IsPreroll() override;
    HRESULT SetPreroll(BOOL preroll) override;
    LONG GetActualDataLength() override;
    HRESULT SetActualDataLength(LONG length) override; // VFW_E_BUFFER_OVERFLOW-like E_INVALIDARG past the end
    HRESULT GetMediaType(AM_MEDIA_TYPE** mt) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT IsDiscontinuity() override;
    HRESULT SetDiscontinuity(BOOL discontinuity) override;
    HRESULT GetMediaTime(std::int64_t* start, std::int64_t* end) override;
    HRESULT SetMediaTime(std::int64_t* start, std::int64_t* end) override;

    // Clears times, flags, type and sets the actual length to the whole buffer (done by GetBuffer).
    void ResetProperties();

private:
    void FinalRelease() override; // back to the allocator's free list
    CMemAllocator* m_pAllocator;
    BYTE* m_pBuffer;
    LONG m_cbBuffer;
    LONG m_lActual;
    bool m_hasTime = false, m_hasStop = false, m_hasMediaTime = false;
    bool m_sync = false, m_preroll = false, m_discontinuity = false;
    REFERENCE_TIME m_start = 0, m_stop = 0;
    std::int64_t m_mediaStart = 0, m_mediaEnd = 0;
    AM_MEDIA_TYPE* m_pMediaType = nullptr;
};

class CMemAllocator : public CUnknownObject<kavro::com::Implements<IMemAllocator, IID_IMemAllocator>> {
public:
    CMemAllocator(const char* name, IUnknown* outer, HRESULT* phr);
    ~CMemAllocator() override;

    // VFW_E_ALREADY_COMMITTED while committed, VFW_E_BUFFERS_OUTSTANDING while samples are out.
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) override;
    HRESULT Commit() override;   // VFW_E_SIZENOTSET before SetProperties
    HRESULT Decommit() override; // memory is freed once every sample is back
    HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;
    HRESULT ReleaseBuffer(IMediaSample* sample) override;

    // Whether the sample is one of this allocator's (a renderer keeping samples checks that they are its own).
    bool Owns(IMediaSample* sample);

private:
    void FreeIfIdle(); // under m_lock
    std::mutex m_lock;
    std::condition_variable m_free;
    ALLOCATOR_PROPERTIES m_props{0, 0, 1, 0};
    bool m_bCommitted = false;
    bool m_bDecommitInProgress = false;
    std::vector<std::unique_ptr<CMediaSample>> m_samples;
    std::vector<CMediaSample*> m_freeList;
    BYTE* m_pMemory = nullptr;
};

inline constexpr HRESULT VFW_E_ALREADY_COMMITTED = static_cast<HRESULT>(0x8004020Fu);
inline constexpr HRESULT VFW_E_TIMEOUT = static_cast<HRESULT>(0x8004022Eu);
