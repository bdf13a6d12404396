// noir.ax as the setup step uses it: registered with regsvr32 into a registry, found by its friendly name
// through the device enumerator, created by its CLSID, and its library exports as a COM server.
#include "filters/noir/noir.h"
#include "platform/dshow/vmr9/vmr9.h"
#include "tests/platform/dshow/test_support.h"
#include "tests/support/filters.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

using namespace kavro::test;

namespace {

class NoirLookup : public TempRegistry {};

TEST_F(NoirLookup, FoundByFriendlyNameAndCreatedByClsid) {
    auto devenum = create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    ComPtr<IEnumMoniker> none;
    EXPECT_EQ(devenum->CreateClassEnumerator(CLSID_LegacyAmFilterCategory, none.put(), 0), S_FALSE);
    EXPECT_FALSE(none);
    ComPtr<IBaseFilter> f;
    EXPECT_EQ(CoCreateInstance(CLSID_Noir, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, f.put_void()),
              REGDB_E_CLASSNOTREG);

    ASSERT_EQ(regsvr32(REGSVR32, std::string("/s ") + NOIR_AX), 0);
    std::string name;
    ComPtr<IBaseFilter> byName = find_filter_by_name("Noi", &name);
    ASSERT_TRUE(byName);
    EXPECT_EQ(name, "Noir");
    CLSID clsid{};
    ASSERT_EQ(byName->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Noir);
    EXPECT_FALSE(find_filter_by_name("Mesh"));

    ComPtr<IBaseFilter> byClsid;
    ASSERT_EQ(CoCreateInstance(CLSID_Noir, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, byClsid.put_void()), S_OK);
    ComPtr<IPin> pin;
    ASSERT_EQ(byClsid->FindPin("Output 1", pin.put()), S_OK);
    PIN_DIRECTION d;
    pin->QueryDirection(&d);
    EXPECT_EQ(d, PINDIR_OUTPUT);
    EXPECT_EQ(byClsid->FindPin("Output 2", pin.put()), VFW_E_NOT_FOUND);
}

TEST_F(NoirLookup, MixingRendererShowsTheBlackBackgroundFoundByName) {
    ASSERT_EQ(regsvr32(REGSVR32, std::string("/s ") + NOIR_AX), 0);
    ComPtr<IBaseFilter> noir = find_filter_by_name("Noir");
    ASSERT_TRUE(noir);
    auto graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    auto builder = create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    auto vmr = create<IBaseFilter>(CLSID_VideoMixingRenderer9, IID_IBaseFilter);
    ComPtr<IVMRFilterConfig9> config;
    ComPtr<IVMRWindowlessControl9> windowless;
    ComPtr<IMediaControl> control;
    ASSERT_EQ(vmr.as(IID_IVMRFilterConfig9, config), S_OK);
    ASSERT_EQ(vmr.as(IID_IVMRWindowlessControl9, windowless), S_OK);
    ASSERT_EQ(graph.as(IID_IMediaControl, control), S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph.get()), S_OK);
    ASSERT_EQ(graph->AddFilter(noir.get(), "Noir"), S_OK);
    ASSERT_EQ(graph->AddFilter(vmr.get(), "VMR9"), S_OK);
    ASSERT_EQ(config->SetRenderingMode(VMR9Mode_Windowless), S_OK);
    ASSERT_EQ(config->SetNumberOfStreams(12), S_OK);
    std::atomic<int> pictures{0};
    kavro::vmr9::set_picture_sink([&](std::intptr_t, const kavro::vmr9::ImageView&) { ++pictures; });
    RECT dest{0, 0, 720, 576};
    ASSERT_EQ(windowless->SetVideoPosition(nullptr, &dest), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, noir.get(), nullptr, vmr.get()), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    BYTE* dib = nullptr;
    ASSERT_EQ(windowless->GetCurrentImage(&dib), S_OK);
    ASSERT_EQ(control->StopWhenReady(), S_OK);
    kavro::vmr9::set_picture_sink(nullptr);
    EXPECT_GT(pictures.load(), 0);
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib, sizeof h);
    EXPECT_EQ(h.biWidth, 768);
    EXPECT_EQ(h.biHeight, 576);
    ASSERT_EQ(h.biBitCount, 32);
    std::size_t lit = 0;
    for (std::size_t i = 0; i < std::size_t(768) * 576; ++i) {
        std::uint32_t v;
        std::memcpy(&v, dib + 40 + 4 * i, 4);
        if (v & 0xFFFFFF) ++lit;
    }
    EXPECT_EQ(lit, 0u);
    CoTaskMemFree(dib);
}

TEST_F(NoirLookup, LibraryExportsBehaveAsAComServer) {
    void* lib = kavro::com::load_library(NOIR_AX);
    ASSERT_NE(lib, nullptr);
    auto get = reinterpret_cast<DllGetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
    auto can_unload = reinterpret_cast<DllCanUnloadNowFn>(dlsym(lib, "DllCanUnloadNow"));
    ASSERT_TRUE(get && can_unload);
    EXPECT_EQ(dlsym(lib, "_ZN5CNoir14CreateInstanceEP8IUnknownPi"), nullptr); // nothing else is visible

    IClassFactory* cf = nullptr;
    EXPECT_EQ(get(CLSID_VideoRenderer, IID_IClassFactory, reinterpret_cast<void**>(&cf)), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(cf, nullptr);
    ASSERT_EQ(get(CLSID_Noir, IID_IClassFactory, reinterpret_cast<void**>(&cf)), S_OK);
    EXPECT_EQ(can_unload(), S_FALSE); // the factory is alive

    IBaseFilter* filter = nullptr;
    ASSERT_EQ(cf->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
    IUnknown* inner = nullptr;
    // Aggregation: only IUnknown may be asked with an outer object.
    EXPECT_EQ(cf->CreateInstance(filter, IID_IBaseFilter, reinterpret_cast<void**>(&inner)), E_NOINTERFACE);
    cf->Release();
    EXPECT_EQ(can_unload(), S_FALSE); // the filter is alive
    filter->Release();
    EXPECT_EQ(can_unload(), S_OK);
}

} // namespace
