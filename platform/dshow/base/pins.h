// Pins: CBasePin (connection with media type negotiation), CBaseOutputPin (allocator negotiation through
// DecideBufferSize, delivery) and CBaseInputPin (IMemInputPin, allocator, state and flushing checks).
// A pin shares its filter's reference count and state lock. Threads and the lock order: filter.h.
//
// Connection, as Connect runs it on the connecting (output) pin, all on the application thread under the
// connecting filter's state lock: CheckConnect -> CheckMediaType (each candidate type: the receiving pin's
// types first, then ours) -> SetMediaType -> the other pin's ReceiveConnection (its CheckConnect,
// CheckMediaType, SetMediaType, CompleteConnect under its own filter's lock) -> CompleteConnect (an output
// pin: DecideAllocator -> DecideBufferSize). Any failure calls BreakConnect and tries the next type.
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

    // Hooks of a pin. The connection hooks run on the thread that connects (the application thread) under the
    // filter's state lock; CheckMediaType also runs for QueryAccept (any thread, no lock) and, on an input
    // pin, on the streaming thread for a sample that carries a new type (no lock).

    // Whether the pin takes this type: S_OK accepts; S_FALSE or a failure refuses it (the next candidate
    // type is tried; a connection refused on every type fails with the last failure). No default.
    virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
    // The pin's preferred types, from position 0, offered when connecting and by EnumMediaTypes: S_OK with
    // *mt filled; VFW_S_NO_MORE_ITEMS past the last (the default, for a pin that proposes nothing).
    virtual HRESULT GetMediaType(int position, CMediaType* mt);
    // The type has been accepted: the default stores it as the connection type (CurrentMediaType). A failure
    // abandons this type. An input pin also calls it, on the streaming thread under the state lock, when a
    // sample brings a new type that CheckMediaType accepted.
    virtual HRESULT SetMediaType(const CMediaType* mt);
    // First check of the other pin, before any type: the default refuses a pin of the same direction
    // (VFW_E_INVALID_DIRECTION). A failure ends the connection attempt (after BreakConnect).
    virtual HRESULT CheckConnect(IPin* pin);
    // Undoes what CheckConnect and CompleteConnect set up: called after a failed attempt and by Disconnect
    // (while stopped), before the connected pin is released. The default does nothing. A failure stops
    // Disconnect (the pin stays connected).
    virtual HRESULT BreakConnect();
    // The last step, once both pins agree on the type: a failure undoes the connection on both sides
    // (the other pin's Disconnect, our BreakConnect). The default succeeds.
    virtual HRESULT CompleteConnect(IPin* receivePin);

    // State changes, called by the filter for its connected pins only, on the application thread under the
    // state lock (filter.h). The defaults do nothing and succeed. A failure of Active makes Pause fail; of
    // Run, Run fail; of Inactive, Stop return it (the filter stops all the same); PauseFromRun's is ignored.
    virtual HRESULT Active();                   // stopped -> paused: get ready to stream (commit allocators)
    virtual HRESULT Inactive();                 // -> stopped: stop streaming, release what streaming holds
    virtual HRESULT Run(REFERENCE_TIME tStart); // -> running; tStart is the clock time of stream time 0
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
    HRESULT CheckConnect(IPin* pin) override;           // needs IMemInputPin (else E_NOINTERFACE)
    HRESULT BreakConnect() override;                    // decommits and releases the allocator

    // Allocator hooks, called by CompleteConnect on the application thread under the state lock.
    // DecideAllocator: asks the input pin for its allocator, else makes one with InitAllocator; sizes it with
    // DecideBufferSize and tells the input pin (NotifyAllocator). A failure fails the connection.
    virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
    // Sets the allocator's buffers (allocator->SetProperties) from request, which holds the input pin's
    // requirements (alignment at least 1). S_OK when the buffers that were granted suffice; a failure makes
    // DecideAllocator try its own allocator, then fail. No default.
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    // The pin's own allocator when the input pin offers none that fits: a new CMemAllocator by default.
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
    // One sample, on the upstream streaming thread with none of this filter's locks held; what it returns
    // goes back to the sender (anything but S_OK makes a source stop producing until the next start).
    // Overrides call this first and return at once unless it gives S_OK. It only checks: VFW_E_WRONG_STATE
    // when stopped, S_FALSE while flushing, E_FAIL after a run-time error, VFW_E_INVALIDMEDIATYPE for a type
    // change the pin refuses (an accepted change goes to SetMediaType under the state lock).
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
    HRESULT ReceiveCanBlock() override; // S_OK

    // Flushing, called by the upstream filter on its streaming or application thread, no lock held: samples
    // are refused (S_FALSE) from BeginFlush to EndFlush; EndFlush also clears a run-time error. Overrides
    // call these and then pass the flush downstream.
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT Inactive() override;     // clears flushing and the run-time error, decommits the allocator
    HRESULT BreakConnect() override; // decommits and releases the allocator

    bool IsFlushing() const { return m_bFlushing.load(std::memory_order_relaxed); }

protected:
    IMemAllocator* m_pAllocator = nullptr;
    bool m_bReadOnly = false;
    std::atomic<bool> m_bFlushing{false};
    std::atomic<bool> m_bRunTimeError{false};
};
