// The Noir filter's own behaviour: its media type, type checks, buffer negotiation, frames.
#include "filters/noir/noir.h"
#include "platform/dshow/base/renderer.h"
#include "tests/platform/dshow/test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

using namespace kavro::test;

namespace {

// A Noir filter built from the linked objects, with its pin as the class it is.
struct Noir {
    Noir() {
        HRESULT hr = S_OK;
        CUnknown* obj = CNoir::CreateInstance(nullptr, &hr);
        EXPECT_EQ(hr, S_OK);
        obj->NonDelegatingQueryInterface(IID_IBaseFilter, filter.put_void());
        source = static_cast<CSource*>(filter.get());
        stream = static_cast<CNoirStream*>(source->GetPin(0));
    }
    ComPtr<IBaseFilter> filter;
    CSource* source;
    CNoirStream* stream;
};

CMediaType rgb565(LONG width, LONG height) {
    CMediaType mt;
    auto* vi = reinterpret_cast<VIDEOINFO*>(mt.AllocFormatBuffer(sizeof(VIDEOINFO)));
    std::memset(vi, 0, sizeof(VIDEOINFO));
    vi->bmiHeader.biSize = 40;
    vi->bmiHeader.biWidth = width;
    vi->bmiHeader.biHeight = height;
    vi->bmiHeader.biPlanes = 1;
    vi->bmiHeader.biBitCount = 16;
    vi->bmiHeader.biSizeImage = GetBitmapSize(&vi->bmiHeader);
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_RGB565);
    mt.SetFormatType(&FORMAT_VideoInfo);
    mt.SetSampleSize(vi->bmiHeader.biSizeImage);
    return mt;
}

TEST(NoirMediaType, PositionZeroIsTheBlackFrameType) {
    Noir n;
    ASSERT_EQ(n.source->GetPinCount(), 1);
    EXPECT_STREQ(n.stream->Name(), "Output 1");
    EXPECT_EQ(n.stream->GetMediaType(0, nullptr), E_POINTER);

    CMediaType mt;
    EXPECT_EQ(n.stream->GetMediaType(-1, &mt), E_INVALIDARG);
    EXPECT_EQ(n.stream->GetMediaType(1, &mt), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(n.stream->GetMediaType(7, &mt), VFW_S_NO_MORE_ITEMS);
    ASSERT_EQ(n.stream->GetMediaType(0, &mt), S_OK);

    EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
    EXPECT_EQ(mt.subtype, make_guid("E436EB7B-524F-11CE-9F53-0020AF0BA770"));
    EXPECT_EQ(mt.formattype, make_guid("05589F80-C356-11CE-BF01-00AA0055595A"));
    EXPECT_TRUE(mt.bFixedSizeSamples);
    EXPECT_FALSE(mt.bTemporalCompression);
    EXPECT_EQ(mt.lSampleSize, 884736u);
    ASSERT_EQ(mt.cbFormat, 1128u);
    const auto* vi = reinterpret_cast<const VIDEOINFO*>(mt.pbFormat);
    EXPECT_EQ(vi->rcSource, (RECT{0, 0, 0, 0}));
    EXPECT_EQ(vi->rcTarget, (RECT{0, 0, 0, 0}));
    EXPECT_EQ(vi->dwBitRate, 0u);
    EXPECT_EQ(vi->AvgTimePerFrame, 0);
    EXPECT_EQ(vi->bmiHeader.biSize, 40u);
    EXPECT_EQ(vi->bmiHeader.biWidth, 768);
    EXPECT_EQ(vi->bmiHeader.biHeight, 576);
    EXPECT_EQ(vi->bmiHeader.biPlanes, 1);
    EXPECT_EQ(vi->bmiHeader.biBitCount, 16);
    EXPECT_EQ(vi->bmiHeader.biCompression, BI_RGB);
    EXPECT_EQ(vi->bmiHeader.biSizeImage, 884736u);
    EXPECT_EQ(vi->bmiHeader.biClrUsed, 0u);
    // No palette, no colour masks.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(vi->dwBitMasks[i], 0u);

    // The pin's enumerator offers the same single type.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(n.stream->EnumMediaTypes(types.put()), S_OK);
    AM_MEDIA_TYPE* got[2] = {};
    ULONG count = 0;
    EXPECT_EQ(types->Next(2, got, &count), S_FALSE);
    ASSERT_EQ(count, 1u);
    EXPECT_TRUE(CMediaType(*got[0]) == mt);
    DeleteMediaType(got[0]);
}

TEST(NoirMediaType, CheckAcceptsFixedSizeRgb565WithAFormatBlockOnly) {
    Noir n;
    EXPECT_EQ(n.stream->CheckMediaType(nullptr), E_POINTER);
    CMediaType mt = rgb565(768, 576);
    EXPECT_EQ(n.stream->CheckMediaType(&mt), S_OK);

    CMediaType other = rgb565(320, 240); // another frame size is accepted
    EXPECT_EQ(n.stream->CheckMediaType(&other), S_OK);

    CMediaType rgb24 = mt;
    rgb24.SetSubtype(&MEDIASUBTYPE_RGB24);
    EXPECT_EQ(n.stream->CheckMediaType(&rgb24), E_INVALIDARG);
    CMediaType rgb555 = mt;
    rgb555.SetSubtype(&MEDIASUBTYPE_RGB555);
    EXPECT_EQ(n.stream->CheckMediaType(&rgb555), E_INVALIDARG);
    CMediaType variable = mt;
    variable.SetVariableSize();
    EXPECT_EQ(n.stream->CheckMediaType(&variable), E_INVALIDARG);
    CMediaType noformat = mt;
    noformat.ResetFormatBuffer();
    EXPECT_EQ(n.stream->CheckMediaType(&noformat), E_INVALIDARG);
    CMediaType audio = mt;
    const GUID audioType = make_guid("73647561-0000-0010-8000-00AA00389B71");
    audio.SetType(&audioType);
    EXPECT_EQ(n.stream->CheckMediaType(&audio), E_INVALIDARG);

    // SetMediaType keeps only a type with a format block.
    EXPECT_EQ(n.stream->SetMediaType(&noformat), E_UNEXPECTED);
    EXPECT_EQ(n.stream->SetMediaType(&mt), S_OK);
}

// An allocator that grants at most `limit` bytes a buffer.
class StingyAllocator final : public IMemAllocator {
public:
    explicit StingyAllocator(LONG limit) : limit_(limit) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
        asked = *request;
        *actual = *request;
        if (actual->cbBuffer > limit_) actual->cbBuffer = limit_;
        return fail_ ? E_OUTOFMEMORY : S_OK;
    }
    HRESULT GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    HRESULT Commit() override { return E_NOTIMPL; }
    HRESULT Decommit() override { return E_NOTIMPL; }
    HRESULT GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override { return E_NOTIMPL; }
    HRESULT ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }
    ALLOCATOR_PROPERTIES asked{};
    bool fail_ = false;

private:
    LONG limit_;
};

TEST(NoirBuffers, OneBufferOfTheAgreedImageSize) {
    Noir n;
    CMediaType mt = rgb565(768, 576);
    ASSERT_EQ(n.stream->SetMediaType(&mt), S_OK);
    ALLOCATOR_PROPERTIES request{4, 100, 16, 8};
    StingyAllocator enough(1 << 24);
    EXPECT_EQ(n.stream->DecideBufferSize(nullptr, &request), E_POINTER);
    EXPECT_EQ(n.stream->DecideBufferSize(&enough, nullptr), E_POINTER);
    ASSERT_EQ(n.stream->DecideBufferSize(&enough, &request), S_OK);
    EXPECT_EQ(enough.asked.cBuffers, 1);
    EXPECT_EQ(enough.asked.cbBuffer, 884736);
    EXPECT_EQ(enough.asked.cbAlign, 16); // alignment and prefix stay as asked downstream
    EXPECT_EQ(enough.asked.cbPrefix, 8);

    StingyAllocator small(884735);
    request = {1, 0, 1, 0};
    EXPECT_EQ(n.stream->DecideBufferSize(&small, &request), E_FAIL);
    StingyAllocator failing(1 << 24);
    failing.fail_ = true;
    EXPECT_EQ(n.stream->DecideBufferSize(&failing, &request), E_OUTOFMEMORY);

    CMediaType smaller = rgb565(320, 240);
    ASSERT_EQ(n.stream->SetMediaType(&smaller), S_OK);
    ASSERT_EQ(n.stream->DecideBufferSize(&enough, &request), S_OK);
    EXPECT_EQ(enough.asked.cbBuffer, 320 * 240 * 2);
}

// A sample over a caller's buffer.
class BufferSample final : public IMediaSample {
public:
    BufferSample(BYTE* data, LONG size) : data_(data), size_(size) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetPointer(BYTE** p) override {
        *p = data_;
        return S_OK;
    }
    LONG GetSize() override { return size_; }
    HRESULT GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return VFW_E_SAMPLE_TIME_NOT_SET; }
    HRESULT SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override {
        ++touched;
        return S_OK;
    }
    HRESULT IsSyncPoint() override { return S_FALSE; }
    HRESULT SetSyncPoint(BOOL) override {
        ++touched;
        return S_OK;
    }
    HRESULT IsPreroll() override { return S_FALSE; }
    HRESULT SetPreroll(BOOL) override {
        ++touched;
        return S_OK;
    }
    LONG GetActualDataLength() override { return actual_; }
    HRESULT SetActualDataLength(LONG length) override {
        ++touched;
        if (length < 0 || length > size_) return E_INVALIDARG;
        actual_ = length;
        return S_OK;
    }
    HRESULT GetMediaType(AM_MEDIA_TYPE**) override { return S_FALSE; }
    HRESULT SetMediaType(AM_MEDIA_TYPE*) override {
        ++touched;
        return S_OK;
    }
    HRESULT IsDiscontinuity() override { return S_FALSE; }
    HRESULT SetDiscontinuity(BOOL) override {
        ++touched;
        return S_OK;
    }
    HRESULT GetMediaTime(std::int64_t*, std::int64_t*) override { return VFW_E_SAMPLE_TIME_NOT_SET; }
    HRESULT SetMediaTime(std::int64_t*, std::int64_t*) override {
        ++touched;
        return S_OK;
    }
    int touched = 0;

private:
    BYTE* data_;
    LONG size_;
    LONG actual_ = size_; // a fresh sample's length is its whole buffer
};

TEST(NoirFrames, FillWritesOneBlackFrameAndShipsOnlyWhatItWrote) {
    Noir n;
    // An allocator that rounds the buffer up: the bytes past the frame were never written and must not go
    // out as data.
    std::vector<BYTE> big(884736 + 64, 0xAB);
    BufferSample rounded(big.data(), LONG(big.size()));
    EXPECT_EQ(n.stream->FillBuffer(&rounded), S_OK);
    for (std::size_t i = 0; i < 884736; ++i) ASSERT_EQ(big[i], 0) << i;
    EXPECT_EQ(rounded.GetActualDataLength(), 884736);
    EXPECT_EQ(rounded.touched, 1); // the length only: no times or flags

    // A connection agreed on a smaller frame in a larger buffer: one frame of the agreed size.
    CMediaType smaller = rgb565(320, 240);
    ASSERT_EQ(n.stream->SetMediaType(&smaller), S_OK);
    std::fill(big.begin(), big.end(), BYTE(0xCD));
    BufferSample larger(big.data(), LONG(big.size()));
    EXPECT_EQ(n.stream->FillBuffer(&larger), S_OK);
    EXPECT_EQ(larger.GetActualDataLength(), 320 * 240 * 2);
    for (std::size_t i = 0; i < 320 * 240 * 2; ++i) ASSERT_EQ(big[i], 0) << i;

    // A buffer smaller than the frame: the fill stops at its end.
    std::vector<BYTE> small(1000 + 64, 0xCD);
    BufferSample part(small.data(), 1000);
    EXPECT_EQ(n.stream->FillBuffer(&part), S_OK);
    EXPECT_EQ(part.GetActualDataLength(), 1000);
    for (std::size_t i = 0; i < 1000; ++i) ASSERT_EQ(small[i], 0) << i;
    for (std::size_t i = 1000; i < small.size(); ++i) ASSERT_EQ(small[i], 0xCD) << i;

    Quality q{Famine, 500, 1000, 0};
    EXPECT_EQ(n.stream->Notify(n.filter.get(), q), S_OK);
}

// A renderer that accepts only one subtype, for the connection tests.
class PickyRenderer final : public CBaseRenderer {
public:
    PickyRenderer(const GUID& subtype, HRESULT* phr)
        : CBaseRenderer(CLSID_NULL, "picky", nullptr, phr), subtype_(subtype) {}
    HRESULT CheckMediaType(const CMediaType* mt) override {
        return mt->subtype == subtype_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }

private:
    GUID subtype_;
};

ComPtr<IBaseFilter> picky(const GUID& subtype) {
    HRESULT hr = S_OK;
    auto* r = new PickyRenderer(subtype, &hr);
    ComPtr<IBaseFilter> f;
    r->NonDelegatingQueryInterface(IID_IBaseFilter, f.put_void());
    return f;
}

TEST(NoirFrames, ConnectsOnlyOnRgb565) {
    kavro::dshow::register_builtin_classes();
    Noir n;
    auto graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    auto rgb32 = picky(MEDIASUBTYPE_RGB32);
    auto rgb565r = picky(MEDIASUBTYPE_RGB565);
    ASSERT_EQ(graph->AddFilter(n.filter.get(), "Noir"), S_OK);
    ASSERT_EQ(graph->AddFilter(rgb32.get(), "RGB32"), S_OK);
    ASSERT_EQ(graph->AddFilter(rgb565r.get(), "RGB565"), S_OK);
    auto out = find_pin(n.filter.get(), PINDIR_OUTPUT);
    EXPECT_TRUE(FAILED(graph->ConnectDirect(out.get(), find_pin(rgb32.get(), PINDIR_INPUT).get(), nullptr)));
    ComPtr<IPin> none;
    EXPECT_EQ(out->ConnectedTo(none.put()), VFW_E_NOT_CONNECTED);
    ASSERT_EQ(graph->ConnectDirect(out.get(), find_pin(rgb565r.get(), PINDIR_INPUT).get(), nullptr), S_OK);
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(out->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(mt.lSampleSize, 884736u);
    FreeMediaType(mt);
}

class NoirGraph : public TempRegistry {};

TEST_F(NoirGraph, RunningGraphDeliversUnstampedBlackFramesUntilStopped) {
    kavro::dshow::register_builtin_classes();
    Noir n;
    auto graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    auto builder = create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    auto renderer = create<IBaseFilter>(CLSID_VideoRenderer, IID_IBaseFilter);
    ASSERT_EQ(builder->SetFiltergraph(graph.get()), S_OK);
    ASSERT_EQ(graph->AddFilter(n.filter.get(), "Noir"), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer.get(), "Video Renderer"), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, n.filter.get(), nullptr, renderer.get()), S_OK);

    std::atomic<int> frames{0}, wrong{0};
    const std::vector<std::uint8_t> black(884736, 0);
    kavro::dshow::set_video_frame_sink([&](const kavro::dshow::VideoFrame& f) {
        // Compared with memcmp: a loop over every byte would slow the renderer's thread under the sanitizers.
        if (f.length != black.size() || f.has_time || f.format->biWidth != 768 || f.format->biBitCount != 16 ||
            std::memcmp(f.data, black.data(), black.size()) != 0)
            ++wrong;
        ++frames;
    });
    ComPtr<IMediaControl> control;
    ASSERT_EQ(graph.as(IID_IMediaControl, control), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const int running = frames.load();
    EXPECT_TRUE(n.stream->ThreadExists());
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_FALSE(n.stream->ThreadExists());
    const int stopped = frames.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kavro::dshow::set_video_frame_sink(nullptr);
    // One frame per display tick (50 Hz): never as many as the source could fill.
    EXPECT_GE(running, 15);
    EXPECT_LE(running, 35);
    EXPECT_EQ(frames.load(), stopped);
    EXPECT_EQ(wrong.load(), 0);

    // It starts again after a stop.
    ASSERT_EQ(control->Run(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(n.stream->ThreadExists());
    ASSERT_EQ(control->Stop(), S_OK);
}

} // namespace
