// CSource and CSourceStream: a source filter whose output pins each run a worker thread that asks the
// connection's allocator for an empty sample, has FillBuffer fill it, and delivers it downstream, while
// the filter is paused or running. A delivery error ends production until the next start.
//
// The worker's life, for one connected pin (threads and the lock order: filter.h):
//   Pause from stopped (application thread, state lock held): Active commits the allocator, starts the
//     worker and waits for it: worker OnThreadCreate (a failure ends the worker: OnThreadDestroy, and Pause
//     fails with it), then the worker answers the pause and enters DoBufferProcessingLoop:
//     OnThreadStartPlay, then GetDeliveryBuffer -> FillBuffer -> Deliver, over and over. Run and a pause
//     from running change nothing for the worker: it produces while paused too (downstream holds samples).
//   Stop (application thread, state lock held): Inactive decommits the allocator (a worker waiting for a
//     buffer wakes), asks the worker to stop and to exit and joins it; the worker runs OnThreadDestroy last.
// The worker takes the command lock only to read or answer a command, never while it calls a hook; the hooks
// run with no lock of the base classes held and must not take the filter's state lock.
#pragma once

#include "platform/dshow/base/filter.h"

#include <condition_variable>
#include <thread>
#include <vector>

class CSourceStream;

class CSource : public CBaseFilter {
public:
    CSource(const char* objectName, IUnknown* outer, REFCLSID clsid, HRESULT* phr = nullptr);
    ~CSource() override; // deletes the pins

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    CCritSec* pStateLock() { return &m_cStateLock; }

    HRESULT AddPin(CSourceStream* pin);    // called by the CSourceStream constructor
    HRESULT RemovePin(CSourceStream* pin); // called by its destructor
    int FindPinNumber(IPin* pin);          // -1 when not ours

protected:
    CCritSec m_cStateLock;
    std::vector<CSourceStream*> m_paStreams; // the output pins, owned
};

class CSourceStream : public CBaseOutputPin {
public:
    CSourceStream(const char* objectName, HRESULT* phr, CSource* filter, const char* pinName);
    ~CSourceStream() override;

    // Fills one empty sample of the connection's allocator, on the worker thread; may wait (that is what
    // paces a live source). S_OK: the sample is delivered; S_FALSE: end of stream (EndOfStream goes
    // downstream and production ends until the next start); a failure: the same, with a message on stderr.
    // No default.
    virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
    // First call on the new worker thread, while Active waits for it: take what streaming needs. A failure
    // ends the worker (OnThreadDestroy is still called) and is what Pause returns. The default succeeds.
    virtual HRESULT OnThreadCreate() { return S_OK; }
    // Last call on the worker thread, when the pin stops (or OnThreadCreate failed): release what
    // OnThreadCreate took. Its result is ignored. The default does nothing.
    virtual HRESULT OnThreadDestroy() { return S_OK; }
    // On the worker thread each time production starts, before the first FillBuffer (after every pause
    // from stopped). Its result is ignored. The default does nothing.
    virtual HRESULT OnThreadStartPlay() { return S_OK; }

    // Media types: by default the single type of GetMediaType(CMediaType*) at position 0, on the thread that
    // connects; the one-type form has no useful default (E_UNEXPECTED: a pin overrides one of the two).
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    virtual HRESULT GetMediaType(CMediaType* mt);
    HRESULT CheckMediaType(const CMediaType* mt) override; // S_OK for the type at position 0 only, else E_FAIL

    HRESULT Active() override;   // starts the worker thread
    HRESULT Inactive() override; // stops and joins it

    bool ThreadExists() const { return m_thread.joinable(); }

protected:
    enum Command { CMD_NONE, CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };
    // Worker side: is a command waiting? (does not take it)
    bool CheckRequest(Command* command);
    Command GetRequest(); // blocks
    void Reply(HRESULT result);
    // The worker's production loop, entered after each answered pause or run command: OnThreadStartPlay, then
    // samples until a command is waiting (it returns for stop and exit, answers run and pause itself) or
    // production ends. Overrides must answer commands the same way. Its result is ignored.
    virtual HRESULT DoBufferProcessingLoop();

    CSource* m_pFilter;

private:
    HRESULT CallWorker(Command command);
    void ThreadProc();

    std::thread m_thread;
    std::mutex m_cmdLock;
    std::condition_variable m_cmdCv;
    Command m_command = CMD_NONE;
    bool m_commandPending = false;
    bool m_replyReady = false;
    HRESULT m_reply = S_OK;
};
