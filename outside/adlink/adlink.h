// Adlink: the capture card source. Four video output pins, each one input of the card, delivering 768 x 576
// RGB32 frames (rows top first) at 25 frames a second, time-stamped from the stream start.
//
// Two cards in one graph. The mixer adds the same registered filter twice; an instance knows which card it is
// when it joins a graph: the first instance of this class in the graph is card 1 and serves inputs 0..3 on its
// pins 0..3, any later one is card 2 and serves inputs 4..7. An instance outside a graph is card 1.
//
// What each input shows, in this order:
// 1. the V4L2 device configured for it (environment variable KAVRO_ADLINK_INPUT1 .. KAVRO_ADLINK_INPUT8,
//    numbered as operators count inputs, e.g. KAVRO_ADLINK_INPUT1=/dev/video0), or, while that device gives
//    no picture, the test card saying "NO SIGNAL" and the device;
// 2. input 8 (card 2, pin 3), which in the field is cabled back from the mixer's own output: the picture the
//    mixing renderer in the same graph shows in its window (before it shows one: its current image), scaled
//    to 768 x 576;
// 3. the test card naming the card, the input and a running clock.
// The picture adjustments of the input (IPictureAdjust) apply to whatever it shows; each one received is logged
// on standard error as "Adlink card C: input N brightness|contrast|saturation|hue VALUE" (counted from 1).
#pragma once

#include "outside/adlink/picture_adjust.h"
#include "outside/adlink/test_card.h"
#include "outside/adlink/v4l2_capture.h"
#include "outside/capture_card.h"
#include "platform/dshow/base/factory.h"
#include "platform/dshow/base/source.h"
#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/dshow/vmr9/vmr9.h"

#include <array>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace adlink {

inline constexpr int kInputs = 8;
inline constexpr int kPinsPerCard = 4;
inline constexpr int kReturnInput = 7; // cabled back from the mixer's output

struct AdlinkOptions {
    REFERENCE_TIME frame_period = UNITS / 25;
    // The V4L2 device of an input 0..7, if any. Default: the KAVRO_ADLINK_INPUTn environment variables.
    std::function<std::optional<std::string>(int input)> device_for_input;
};

std::optional<std::string> device_from_environment(int input);

} // namespace adlink

class CAdlink;

class CAdlinkStream : public CSourceStream {
public:
    CAdlinkStream(HRESULT* phr, CAdlink* filter, int pin, const char* name);

    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT GetMediaType(CMediaType* mt) override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override;
    HRESULT Notify(IBaseFilter* self, Quality q) override;

private:
    void wait_until_due();
    void picture(std::uint32_t* pixels);

    CAdlink* m_adlink;
    const int m_pin;
    // Streaming thread only (set up in OnThreadCreate).
    int m_input = 0;
    long long m_frame = 0;
    std::chrono::steady_clock::time_point m_due{};
    std::optional<adlink::TestCard> m_card;
    std::unique_ptr<adlink::V4l2Capture> m_capture;
    adlink::Adjustments m_adjustments;
    adlink::ColourTransform m_transform;
};

class CAdlink : public CSource, public IPictureAdjust {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr, const adlink::AdlinkOptions& options);
    ~CAdlink() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;

    // IBaseFilter: numbering of the card in its graph, the mixing renderer for the return input.
    HRESULT JoinFilterGraph(IFilterGraph* graph, const char* name) override;
    HRESULT Pause() override;
    HRESULT Stop() override;

    // IPictureAdjust: value 0..254 (outside: the nearest end), input 0..7 (else E_INVALIDARG).
    HRESULT Reserved3() override;
    HRESULT SetAdjustment1(std::int32_t value, std::uint8_t input) override; // brightness
    HRESULT Reserved5() override;
    HRESULT SetAdjustment2(std::int32_t value, std::uint8_t input) override; // contrast
    HRESULT Reserved7() override;
    HRESULT SetAdjustment3(std::int32_t value, std::uint8_t input) override; // saturation
    HRESULT Reserved9() override;
    HRESULT SetAdjustment4(std::int32_t value, std::uint8_t input) override; // hue

    // 0 for the first card of its graph, 1 for a later one.
    int Card() const { return m_card.load(std::memory_order_relaxed); }
    adlink::Adjustments Adjustments(int input) const;
    const adlink::AdlinkOptions& Options() const { return m_options; }
    // Copies the graph's mixing renderer's output into `out` (768 x 576): the picture its window shows, else
    // its composition; false when there is none.
    bool MixerPicture(std::uint32_t* out);

private:
    CAdlink(IUnknown* outer, HRESULT* phr, const adlink::AdlinkOptions& options);
    HRESULT Set(int which, std::int32_t value, std::uint8_t input);

    const adlink::AdlinkOptions m_options;
    std::atomic<int> m_card{0};
    mutable std::mutex m_adjustLock; // guards m_adjust
    std::array<adlink::Adjustments, adlink::kInputs> m_adjust{};
    std::mutex m_mixerLock; // guards m_mixer
    ComPtr<IVMRWindowlessControl9> m_mixer; // between Pause from stopped and Stop
    ComPtr<IMixerOutput> m_mixerOutput;      // the same renderer's shown picture, when it offers it
};
