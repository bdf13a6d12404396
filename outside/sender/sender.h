// Jpeg Sender: a renderer with one RGB input (RGB32 or RGB24, rows top first or bottom first, any size up to
// 4096 x 4096) that encodes every frame once as JPEG (quality 75, 4:2:0) and hands it to the MJPEG server,
// which serves it to the viewers (docs/mjpeg-over-http.md). The server listens for the filter's whole life,
// so viewers stay connected while the graph stops and starts again.
#pragma once

#include "outside/sender.h"
#include "outside/sender/mjpeg_server.h"
#include "platform/dshow/base/factory.h"
#include "platform/dshow/base/renderer.h"

#include <atomic>
#include <mutex>

class CSenderJPEG : public CBaseRenderer {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    // With other server options (address, port), for tests.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr, const sender::ServerOptions& options);
    ~CSenderJPEG() override;

    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    // On the streaming thread: encodes the frame and publishes it.
    HRESULT DoRenderSample(IMediaSample* sample) override;

    sender::MjpegServer& Server() { return m_server; }
    LONG FramesEncoded() const { return m_encoded.load(); }
    LONG FramesRefused() const { return m_refused.load(); }

private:
    CSenderJPEG(IUnknown* outer, HRESULT* phr, const sender::ServerOptions& options);

    struct Format {
        int width = 0, height = 0;
        int bits = 0;
        bool bottom_up = false;
        std::size_t stride = 0;
    };
    std::mutex m_formatLock; // guards m_format
    Format m_format;
    sender::MjpegServer m_server;
    std::atomic<LONG> m_encoded{0};
    std::atomic<LONG> m_refused{0};
};
