// Pins: CBasePin (connection with media type negotiation), CBaseOutputPin (allocator negotiation through
// DecideBufferSize, delivery) and CBaseInputPin (IMemInputPin, allocator, state and flushing checks).
// A pin shares its filter's reference count and lock.
#pragma once

#include "platform/dshow/base/allocator.h"
#include "platform/dshow/base/mtype.h"
#include "platform/dshow/base/unknown.h"
#include "platform/dshow/interfaces.h"

#include <atomic>
#include <string>

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    CBasePin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, const char* name,
             PIN_DIRECTION direction);
    ~CBasePin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;
    ULONG NonDelegatingAddRef() override;  // the filter's count
    ULONG NonDelegatingRelease() override; // the filter's count

    // IPin
    HRESULT Connect(IPin* receive, const AM_MEDIA_TYPE* mt) override;
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    HRESULT Disconnect() override; // VFW_E_NOT_STOPPED unless the filter is stopped; S_FALSE when not connected
    HRESULT ConnectedTo(IPin** pin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT QueryId(char** id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* mt) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override; // E_NOTIMPL
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override = 0;
    HRESULT EndFlush() override = 0;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // IQualityControl: passed to the sink set by SetSink, else E_NOTIMPL.
    HRESULT Notify(IBaseFilter* self, Quality q) override;
    HRESULT SetSink(IQualityControl* sink) override;

    // What a pin implements.
    virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
    virtual HRESULT GetMediaType(int position, CMediaType* mt); // default: VFW_S_NO_MORE_ITEMS
    virtual HRESULT SetMediaType(const CMediaType* mt);         // stores the connection type
    virtual HRESULT CheckConnect(IPin* pin);                    // direction check
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* receivePin);

    // State changes, called by the filter for connected pins.
    virtual HRESULT Active();                   // stopped -> paused
    virtual HRESULT Inactive();                 // -> stopped
    virtual HRESULT Run(REFERENCE_TIME tStart); // -> running
    virtual HRESULT PauseFromRun();             // running -> paused

    bool IsConnected() const { return m_Connected != nullptr; }
    IPin* GetConnected() const { return m_Connected; }
    bool IsStopped() const;
    const char* Name() const { return m_name.c_str(); }
    PIN_DIRECTION Direction() const { return m_dir; }
    const CMediaType& CurrentMediaType() const { return m_mt; }

protected:
    HRESULT AgreeMediaType(IPin* receive, const CMediaType* mt);
    HRESULT TryMediaTypes(IPin* receive, const CMediaType* partial, IEnumMediaTypes* types);
    HRESULT AttemptConnection(IPin* receive, const CMediaType* mt);
    HRESULT DisconnectInternal();

    std::string m_name;
    IPin* m_Connected = nullptr; // holds a reference
    PIN_DIRECTION m_dir;
    CCritSec* m_pLock;
    CBaseFilter* m_pFilter;
    IQualityControl* m_pQSink = nullptr;
    CMediaType m_mt;
    REFERENCE_TIME m_tStart = 0, m_tStop = 0;
    double m_dRate = 1.0;
};

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, const char* name);

    HRESULT CompleteConnect(IPin* receivePin) override; // DecideAllocator
    HRESULT CheckConnect(IPin* pin) override;           // needs IMemInputPin
    HRESULT BreakConnect() override;

    // Asks the input pin for its allocator, else makes a CMemAllocator; sizes it with DecideBufferSize.
    virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    virtual HRESULT InitAllocator(IMemAllocator** allocator);

    HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags);
    HRESULT Deliver(IMediaSample* sample); // VFW_E_NOT_CONNECTED when not connected
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    HRESULT Active() override;   // commits the allocator
    HRESULT Inactive() override; // decommits it (wakes a thread blocked in GetDeliveryBuffer)

    // Input-side methods of IPin: E_UNEXPECTED on an output pin.
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

protected:
    IMemAllocator* m_pAllocator = nullptr;
    IMemInputPin* m_pInputPin = nullptr;
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, const char* name);
    ~CBaseInputPin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;

    // IMemInputPin
    HRESULT GetAllocator(IMemAllocator** allocator) override;
    HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override; // E_NOTIMPL
    // Checks only: VFW_E_WRONG_STATE when stopped, S_FALSE while flushing, E_FAIL after a run-time error,
    // VFW_E_INVALIDMEDIATYPE for a type change the pin refuses. Subclasses call it first.
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
    HRESULT ReceiveCanBlock() override; // S_OK

    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT Inactive() override;
    HRESULT BreakConnect() override;

    bool IsFlushing() const { return m_bFlushing.load(std::memory_order_relaxed); }

protected:
    IMemAllocator* m_pAllocator = nullptr;
    bool m_bReadOnly = false;
    std::atomic<bool> m_bFlushing{false};
    std::atomic<bool> m_bRunTimeError{false};
};
