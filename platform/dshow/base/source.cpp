#include "platform/dshow/base/source.h"

#include <algorithm>
#include <cstdio>

// ---------------------------------------------------------------------------------------------------------
// CSource

CSource::CSource(const char* objectName, IUnknown* outer, REFCLSID clsid, HRESULT* phr)
    : CBaseFilter(objectName, outer, &m_cStateLock, clsid, phr) {}

CSource::~CSource() {
    // Each pin's destructor removes it from the array.
    while (!m_paStreams.empty()) delete m_paStreams.back();
}

int CSource::GetPinCount() {
    CAutoLock lock(&m_cStateLock);
    return static_cast<int>(m_paStreams.size());
}

CBasePin* CSource::GetPin(int n) {
    CAutoLock lock(&m_cStateLock);
    if (n < 0 || n >= static_cast<int>(m_paStreams.size())) return nullptr;
    return m_paStreams[std::size_t(n)];
}

HRESULT CSource::AddPin(CSourceStream* pin) {
    CAutoLock lock(&m_cStateLock);
    try {
        m_paStreams.push_back(pin);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pin) {
    CAutoLock lock(&m_cStateLock);
    auto it = std::find(m_paStreams.begin(), m_paStreams.end(), pin);
    if (it == m_paStreams.end()) return S_FALSE;
    m_paStreams.erase(it);
    return S_OK;
}

int CSource::FindPinNumber(IPin* pin) {
    CAutoLock lock(&m_cStateLock);
    for (std::size_t i = 0; i < m_paStreams.size(); ++i)
        if (static_cast<IPin*>(m_paStreams[i]) == pin) return static_cast<int>(i);
    return -1;
}

// ---------------------------------------------------------------------------------------------------------
// CSourceStream

CSourceStream::CSourceStream(const char* objectName, HRESULT* phr, CSource* filter, const char* pinName)
    : CBaseOutputPin(objectName, filter, filter->pStateLock(), phr, pinName), m_pFilter(filter) {
    const HRESULT hr = filter->AddPin(this);
    if (phr && FAILED(hr)) *phr = hr;
}

CSourceStream::~CSourceStream() {
    if (m_thread.joinable()) {
        CallWorker(CMD_EXIT);
        m_thread.join();
    }
    m_pFilter->RemovePin(this);
}

HRESULT CSourceStream::GetMediaType(int position, CMediaType* mt) {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    return GetMediaType(mt);
}

HRESULT CSourceStream::GetMediaType(CMediaType*) { return E_UNEXPECTED; }

HRESULT CSourceStream::CheckMediaType(const CMediaType* mt) {
    if (!mt) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    CMediaType mine;
    if (FAILED(GetMediaType(0, &mine))) return E_FAIL;
    return mine == *mt ? S_OK : E_FAIL;
}

HRESULT CSourceStream::Active() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (m_pFilter->IsActive()) return S_FALSE;
    if (!IsConnected()) return S_OK;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    if (m_thread.joinable()) return E_UNEXPECTED;
    {
        std::lock_guard g(m_cmdLock);
        m_commandPending = false;
        m_replyReady = false;
    }
    m_thread = std::thread([this] { ThreadProc(); });
    hr = CallWorker(CMD_INIT);
    if (FAILED(hr)) {
        // OnThreadCreate failed and the worker has ended: the pin is left as it was before, stopped.
        m_thread.join();
        CBaseOutputPin::Inactive();
        return hr;
    }
    return CallWorker(CMD_PAUSE);
}

HRESULT CSourceStream::Inactive() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (!IsConnected()) return S_OK;
    // Decommitting first wakes a worker blocked in GetDeliveryBuffer.
    HRESULT hr = CBaseOutputPin::Inactive();
    if (m_thread.joinable()) {
        CallWorker(CMD_STOP);
        CallWorker(CMD_EXIT);
        m_thread.join();
    }
    return hr;
}

HRESULT CSourceStream::CallWorker(Command command) {
    std::unique_lock g(m_cmdLock);
    m_command = command;
    m_commandPending = true;
    m_replyReady = false;
    m_cmdCv.notify_all();
    m_cmdCv.wait(g, [this] { return m_replyReady; });
    m_replyReady = false;
    return m_reply;
}

bool CSourceStream::CheckRequest(Command* command) {
    std::lock_guard g(m_cmdLock);
    if (!m_commandPending) return false;
    if (command) *command = m_command;
    return true;
}

CSourceStream::Command CSourceStream::GetRequest() {
    std::unique_lock g(m_cmdLock);
    m_cmdCv.wait(g, [this] { return m_commandPending; });
    return m_command;
}

void CSourceStream::Reply(HRESULT result) {
    std::lock_guard g(m_cmdLock);
    m_commandPending = false;
    m_reply = result;
    m_replyReady = true;
    m_cmdCv.notify_all();
}

void CSourceStream::ThreadProc() {
    // The first command is CMD_INIT.
    if (GetRequest() != CMD_INIT) {
        Reply(E_UNEXPECTED);
        return;
    }
    HRESULT hr = OnThreadCreate();
    if (FAILED(hr)) {
        OnThreadDestroy();
        Reply(hr);
        return;
    }
    Reply(S_OK);
    for (;;) {
        const Command c = GetRequest();
        switch (c) {
        case CMD_EXIT:
            OnThreadDestroy();
            Reply(S_OK);
            return;
        case CMD_RUN:
        case CMD_PAUSE:
            Reply(S_OK);
            DoBufferProcessingLoop();
            break;
        case CMD_STOP:
            Reply(S_OK);
            break;
        default:
            Reply(E_NOTIMPL);
            break;
        }
    }
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
    OnThreadStartPlay();
    Command com;
    for (;;) {
        while (!CheckRequest(&com)) {
            IMediaSample* sample = nullptr;
            HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
            if (FAILED(hr)) {
                // Decommitted: the pin is being stopped; wait for the command.
                break;
            }
            hr = FillBuffer(sample);
            if (hr == S_OK) {
                hr = Deliver(sample);
                sample->Release();
                if (hr != S_OK) return S_OK; // downstream refused: stop producing until the next start
            } else if (hr == S_FALSE) {
                sample->Release();
                DeliverEndOfStream();
                return S_OK;
            } else {
                sample->Release();
                std::fprintf(stderr, "source %s: FillBuffer failed (%s)\n", Name(), hresult_name(hr).c_str());
                DeliverEndOfStream();
                return hr;
            }
        }
        // A command is waiting (or the allocator was decommitted): let the worker loop answer it.
        if (!CheckRequest(&com)) {
            // Decommitted without a command yet: wait for it rather than spin.
            com = GetRequest();
        }
        if (com == CMD_RUN || com == CMD_PAUSE) {
            Reply(S_OK);
            continue;
        }
        return S_OK;
    }
}
