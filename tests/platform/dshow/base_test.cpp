// Media types, samples and the allocator of the base classes.
#include "tests/platform/dshow/test_filters.h"

#include <thread>

using namespace kavro::test;

namespace {

constexpr HRESULT E_PENDING_FOR_TEST = static_cast<HRESULT>(0x8000000Au);

TEST(MediaTypes, CopyCompareAndMatch) {
    CMediaType a = video_type(MEDIASUBTYPE_RGB32, 64, 48);
    CMediaType b = a;
    EXPECT_TRUE(a == b);
    EXPECT_NE(a.pbFormat, b.pbFormat); // deep copy
    reinterpret_cast<VIDEOINFOHEADER*>(b.pbFormat)->bmiHeader.biWidth = 65;
    EXPECT_TRUE(a != b);

    CMediaType partial;
    partial.SetType(&MEDIATYPE_Video);
    EXPECT_TRUE(partial.IsPartiallySpecified());
    EXPECT_TRUE(a.MatchesPartial(&partial));
    partial.SetSubtype(&MEDIASUBTYPE_RGB24);
    EXPECT_FALSE(a.MatchesPartial(&partial));

    AM_MEDIA_TYPE* c = CreateMediaType(&a);
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(CMediaType(*c) == a);
    DeleteMediaType(c);
    DeleteMediaType(nullptr);

    CMediaType v;
    v.SetSampleSize(0);
    EXPECT_FALSE(v.IsFixedSize());
    v.SetSampleSize(10);
    EXPECT_TRUE(v.IsFixedSize());
    EXPECT_EQ(v.GetSampleSize(), 10u);
    ASSERT_NE(v.AllocFormatBuffer(8), nullptr);
    std::memset(v.pbFormat, 7, 8);
    ASSERT_NE(v.ReallocFormatBuffer(16), nullptr);
    EXPECT_EQ(v.pbFormat[7], 7);
    EXPECT_EQ(v.cbFormat, 16u);
}

TEST(MediaTypes, BitmapSizeRoundsRowsToFourBytes) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = 768;
    h.biHeight = 576;
    h.biBitCount = 16;
    EXPECT_EQ(GetBitmapSize(&h), 884736u);
    h.biWidth = 3;
    h.biHeight = -2;
    h.biBitCount = 24;
    EXPECT_EQ(GetBitmapSize(&h), 24u); // 9 bytes a row -> 12
    EXPECT_EQ(GetBitmapSubtype(&h), MEDIASUBTYPE_RGB24);
    h.biBitCount = 32;
    EXPECT_EQ(GetBitmapSubtype(&h), MEDIASUBTYPE_RGB32);
    h.biBitCount = 16;
    EXPECT_EQ(GetBitmapSubtype(&h), MEDIASUBTYPE_RGB555);
    h.biBitCount = 8;
    EXPECT_EQ(GetBitmapSubtype(&h), GUID_NULL);
}

ComPtr<IMemAllocator> allocator() {
    ComPtr<IMemAllocator> a;
    (new CMemAllocator("test", nullptr, nullptr))->NonDelegatingQueryInterface(IID_IMemAllocator, a.put_void());
    return a;
}

TEST(Allocator, SizesCommitsAndHandsOutBuffers) {
    auto a = allocator();
    IMediaSample* s = nullptr;
    EXPECT_EQ(a->Commit(), VFW_E_SIZENOTSET);
    ALLOCATOR_PROPERTIES req{2, 1000, 64, 0}, got{};
    ASSERT_EQ(a->SetProperties(&req, &got), S_OK);
    EXPECT_EQ(got.cBuffers, 2);
    EXPECT_EQ(got.cbBuffer, 1024); // whole alignment units
    req.cbAlign = 3;
    EXPECT_EQ(a->SetProperties(&req, &got), E_INVALIDARG);
    EXPECT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    ASSERT_EQ(a->Commit(), S_OK);
    EXPECT_EQ(a->SetProperties(&req, &got), VFW_E_ALREADY_COMMITTED);

    IMediaSample *s1 = nullptr, *s2 = nullptr;
    ASSERT_EQ(a->GetBuffer(&s1, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(a->GetBuffer(&s2, nullptr, nullptr, 0), S_OK);
    BYTE *p1, *p2;
    s1->GetPointer(&p1);
    s2->GetPointer(&p2);
    EXPECT_NE(p1, p2);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p1) % 64, 0u);
    EXPECT_EQ(s1->GetSize(), 1024);
    EXPECT_EQ(a->GetBuffer(&s, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

    // Sample properties, reset when the buffer comes back.
    REFERENCE_TIME t0 = 5, t1 = 9, r0, r1;
    EXPECT_EQ(s1->GetTime(&r0, &r1), VFW_E_SAMPLE_TIME_NOT_SET);
    s1->SetTime(&t0, nullptr);
    EXPECT_EQ(s1->GetTime(&r0, &r1), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(r1, 6);
    s1->SetTime(&t0, &t1);
    EXPECT_EQ(s1->GetTime(&r0, &r1), S_OK);
    EXPECT_EQ(r1, 9);
    EXPECT_EQ(s1->SetActualDataLength(1025), E_INVALIDARG);
    EXPECT_EQ(s1->SetActualDataLength(10), S_OK);
    s1->SetSyncPoint(TRUE);
    EXPECT_EQ(s1->IsSyncPoint(), S_OK);
    s1->Release();
    ASSERT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(s->GetTime(&r0, &r1), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(s->GetActualDataLength(), 1024);
    EXPECT_EQ(s->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(a->SetProperties(&req, &got), VFW_E_ALREADY_COMMITTED);
    s->Release();
    s2->Release();
}

TEST(Allocator, BlockedGetBufferWakesOnReleaseAndOnDecommit) {
    auto a = allocator();
    ALLOCATOR_PROPERTIES req{1, 100, 1, 0}, got{};
    ASSERT_EQ(a->SetProperties(&req, &got), S_OK);
    ASSERT_EQ(a->Commit(), S_OK);
    IMediaSample* held = nullptr;
    ASSERT_EQ(a->GetBuffer(&held, nullptr, nullptr, 0), S_OK);

    std::atomic<HRESULT> result{E_PENDING_FOR_TEST};
    IMediaSample* second = nullptr;
    std::thread waiter([&] { result = a->GetBuffer(&second, nullptr, nullptr, 0); });
    sleep_ms(50);
    EXPECT_EQ(result.load(), E_PENDING_FOR_TEST);
    held->Release();
    waiter.join();
    EXPECT_EQ(result.load(), S_OK);

    std::thread blocked([&] { result = a->GetBuffer(&held, nullptr, nullptr, 0); });
    sleep_ms(50);
    EXPECT_EQ(a->Decommit(), S_OK);
    blocked.join();
    EXPECT_EQ(result.load(), VFW_E_NOT_COMMITTED);
    second->Release(); // the memory goes once the last sample is back
    ASSERT_EQ(a->Commit(), S_OK);
    ASSERT_EQ(a->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
    held->Release();
}

} // namespace
