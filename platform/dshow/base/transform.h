// A filter with one input pin "In" and one output pin "Out" that turns each input sample into one output
// sample (a decoder, a converter).
//
// Connection: the input connects first; its type is accepted by CheckInputType. The output then offers the
// types GetMediaType lists for that input type and accepts a type when CheckTransform agrees; the output's
// buffers are sized by DecideBufferSize. Disconnecting the input does not disconnect the output: the graph
// (or the caller) disconnects both pins, in any order.
//
// Streaming: the upstream filter's streaming thread calls Receive on the input pin; the filter takes an output
// buffer, copies the time stamps and flags, calls Transform and delivers the result downstream on the same
// thread. End of stream, flushing and new segments pass straight through. Stop waits for a Receive in progress
// to finish (the output allocator is decommitted first, so a Receive waiting for a buffer returns at once).
#pragma once

#include "platform/dshow/base/filter.h"

#include <memory>

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
public:
    CTransformInputPin(CTransformFilter* filter, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    HRESULT BreakConnect() override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    CTransformFilter* m_pTransform;
};

class CTransformOutputPin : public CBaseOutputPin {
public:
    CTransformOutputPin(CTransformFilter* filter, HRESULT* phr);
    HRESULT CheckConnect(IPin* pin) override; // VFW_E_NOT_CONNECTED until the input is connected
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT BreakConnect() override;
    HRESULT Notify(IBaseFilter* self, Quality q) override; // passed upstream

private:
    CTransformFilter* m_pTransform;
};

class CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(const char* objectName, IUnknown* outer, REFCLSID clsid);
    ~CTransformFilter() override;

    // Hooks. Connection hooks run on the thread that connects, under the filter (state) lock; Transform runs
    // on the upstream streaming thread under the receive lock; the state lock comes before the receive lock
    // (filter.h). CheckInputType and CheckTransform also answer QueryAccept (any thread, no lock). Only the
    // last four have defaults.

    // Whether the input pin takes this type: S_OK, else a failure (the connection is refused).
    virtual HRESULT CheckInputType(const CMediaType* in) = 0;
    // Whether the output type can be made from the input type: S_OK, else a failure.
    virtual HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) = 0;
    // The output types offered for the connected input type, from position 0; VFW_S_NO_MORE_ITEMS past the last.
    virtual HRESULT GetMediaType(int position, CMediaType* out) = 0;
    // Sizes the output allocator (at least one buffer of the output type's sample size).
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    // Fills out from in. S_OK: out is delivered. S_FALSE: out is dropped, streaming goes on. A failure: out is
    // dropped and the failure is returned to the upstream filter (which then usually stops streaming).
    virtual HRESULT Transform(IMediaSample* in, IMediaSample* out) = 0;
    // A pin's type has been agreed (after the Check calls accepted it); a failure abandons that type.
    virtual HRESULT SetMediaType(PIN_DIRECTION, const CMediaType*) { return S_OK; }
    // A pin is being disconnected (or a connection attempt failed): forget what its type set up. The result
    // is ignored.
    virtual HRESULT BreakConnect(PIN_DIRECTION) { return S_OK; }
    // Stopped -> paused with both pins connected, under the filter lock, before the pins are activated: a
    // failure makes Pause fail. StopStreaming: -> stopped, after the pins, under the filter lock and the
    // receive lock (no sample is in Transform); its result is ignored.
    virtual HRESULT StartStreaming() { return S_OK; }
    virtual HRESULT StopStreaming() { return S_OK; }

    // The receive path, on the upstream streaming thread after the input pin's checks: takes the receive
    // lock, an output buffer (waiting while all are in use), copies times and flags, Transform, Deliver.
    // Its result goes back upstream. Overridable by filters that deliver differently.
    virtual HRESULT Receive(IMediaSample* sample);

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override;
    HRESULT Stop() override;
    HRESULT Pause() override;

    CTransformInputPin* InputPin() { return m_pInput.get(); }
    CTransformOutputPin* OutputPin() { return m_pOutput.get(); }

protected:
    CCritSec m_csFilter;  // the filter's state and connections
    CCritSec m_csReceive; // held by Receive for the whole sample; Stop takes it to wait for the sample's end
    std::unique_ptr<CTransformInputPin> m_pInput;
    std::unique_ptr<CTransformOutputPin> m_pOutput;
};
