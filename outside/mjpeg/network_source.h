// A source filter fed by an MJPEG-over-HTTP stream: the network cameras and the network receiver. Its one
// output pin "Out" delivers the compressed JPEG frames as Motion JPEG samples (announced as 768 x 576), so that
// connecting it to a video renderer inserts the platform's JPEG decoder.
//
// The stream is read by a Reader on a thread of its own while the filter is paused or running; the pin's
// streaming thread only takes the latest frame, never waits on the network. When no frame has come for
// kSignalTimeout (or none yet), the pin delivers a "no signal" card naming the source and its address, five
// times a second; the reader tries again every 2 s and the pictures come back by themselves.
#pragma once

#include "outside/mjpeg/reader.h"
#include "platform/dshow/base/source.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kavro::mjpeg {

inline constexpr int kAnnouncedWidth = 768;
inline constexpr int kAnnouncedHeight = 576;
inline constexpr std::chrono::milliseconds kSignalTimeout{1000};
inline constexpr std::chrono::milliseconds kCardPeriod{200};
// Largest frame a sample holds; larger frames are dropped (and counted as rejected).
inline constexpr long kSampleBytes = 2l << 20;

// What the "no signal" card says: e.g. "camIP2" and "127.0.0.22:8080 MJPEG".
struct SourceLabel {
    std::string name;
    std::string address;
};

// The JPEG of a "no signal" card: 768 x 576, the two label lines, a state line and the clock text.
std::vector<std::uint8_t> no_signal_card(const SourceLabel& label, const std::string& state, const std::string& clock);

class CNetworkSource;

class CNetworkStream : public CSourceStream {
public:
    CNetworkStream(HRESULT* phr, CNetworkSource* filter);
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT GetMediaType(CMediaType* mt) override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Active() override;   // starts reading
    HRESULT Inactive() override; // stops reading
    HRESULT Notify(IBaseFilter* self, Quality q) override;

private:
    CNetworkSource* m_source;
    // Streaming thread only.
    std::uint64_t m_delivered = 0;
    std::chrono::steady_clock::time_point m_lastCard{};
    std::string m_cardClock;
    std::vector<std::uint8_t> m_card;
};

class CNetworkSource : public CSource {
public:
    CNetworkSource(const char* objectName, IUnknown* outer, REFCLSID clsid, HRESULT* phr, std::string logName);
    ~CNetworkSource() override;

    // Where to read from; an empty url means "not configured" (the card says so). Takes effect at once when
    // the filter is active. Called from any thread.
    void SetStream(const std::string& url, SourceLabel label);

    // Whether the picture is live (a frame within kSignalTimeout).
    bool HasSignal() const;
    ReaderCounts Counts() const { return m_reader.counts(); }
    std::uint64_t CardsDelivered() const { return m_cards.load(std::memory_order_relaxed); }

private:
    friend class CNetworkStream;
    void OnFrame(std::span<const std::uint8_t> jpeg);
    void StartReading();
    void StopReading();

    Reader m_reader;
    std::mutex m_streamLock; // guards m_url, m_label, m_active
    std::string m_url;
    SourceLabel m_label;
    bool m_active = false;

    mutable std::mutex m_frameLock; // guards the latest frame and its sequence number and time
    std::condition_variable m_frameReady;
    std::vector<std::uint8_t> m_frame;
    std::uint64_t m_sequence = 0;
    std::chrono::steady_clock::time_point m_frameTime{};
    std::atomic<std::uint64_t> m_cards{0};
};

} // namespace kavro::mjpeg
