// CSource and CSourceStream: a source filter whose output pins each run a worker thread that asks the
// connection's allocator for an empty sample, has FillBuffer fill it, and delivers it downstream, while
// the filter is paused or running. A delivery error ends production until the next start.
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

    // Fills one sample on the worker thread. S_OK: deliver it; S_FALSE: end of stream; failure: stop.
    virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
    virtual HRESULT OnThreadCreate() { return S_OK; }
    virtual HRESULT OnThreadDestroy() { return S_OK; }
    virtual HRESULT OnThreadStartPlay() { return S_OK; }

    // Media types: by default the single type of GetMediaType(CMediaType*) at position 0.
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    virtual HRESULT GetMediaType(CMediaType* mt);
    HRESULT CheckMediaType(const CMediaType* mt) override; // equal to GetMediaType(0)

    HRESULT Active() override;   // starts the worker thread
    HRESULT Inactive() override; // stops and joins it

    bool ThreadExists() const { return m_thread.joinable(); }

protected:
    enum Command { CMD_NONE, CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };
    // Worker side: is a command waiting? (does not take it)
    bool CheckRequest(Command* command);
    Command GetRequest(); // blocks
    void Reply(HRESULT result);
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
