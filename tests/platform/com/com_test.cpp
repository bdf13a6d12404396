// GUIDs, result names, ComPtr, and CoCreateInstance over built-in classes and registered plug-ins.
#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/registry/registry.h"
#include "tests/platform/dshow/test_support.h"

using namespace kavro::test;

namespace {

TEST(Guid, FormatsAndParsesTheRegistryForm) {
    constexpr GUID g = make_guid("9E237DA7-8506-453F-99D9-8B80F69254FB");
    EXPECT_EQ(g.Data1, 0x9E237DA7u);
    EXPECT_EQ(g.Data4[7], 0xFB);
    EXPECT_EQ(guid_to_string(g), "{9E237DA7-8506-453F-99D9-8B80F69254FB}");
    EXPECT_EQ(guid_from_string("{9e237da7-8506-453f-99d9-8b80f69254fb}"), g);
    EXPECT_EQ(guid_from_string("9E237DA7-8506-453F-99D9-8B80F69254FB"), g);
    EXPECT_EQ(guid_to_string(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
    for (const char* bad : {"", "{9E237DA7-8506-453F-99D9-8B80F69254FB", "9E237DA7-8506-453F-99D9-8B80F69254F",
                            "9E237DA7+8506-453F-99D9-8B80F69254FB", "9E237DA7-8506-453F-99D9-8B80F69254FG",
                            "{9E237DA7-8506-453F-99D9-8B80F69254FB}x", " 9E237DA7-8506-453F-99D9-8B80F69254FB"})
        EXPECT_FALSE(guid_from_string(bad)) << bad;
}

TEST(Guid, ResultCodesHaveTheirNames) {
    EXPECT_EQ(hresult_name(VFW_E_NOT_FOUND), "VFW_E_NOT_FOUND");
    EXPECT_EQ(static_cast<std::uint32_t>(VFW_E_NOT_FOUND), 0x80040216u);
    EXPECT_EQ(hresult_name(VFW_S_NO_MORE_ITEMS), "VFW_S_NO_MORE_ITEMS");
    EXPECT_EQ(hresult_name(E_OUTOFMEMORY), "E_OUTOFMEMORY");
    EXPECT_EQ(hresult_name(static_cast<HRESULT>(0x80041234u)), "0x80041234");
    EXPECT_TRUE(FAILED(CLASS_E_CLASSNOTAVAILABLE));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
}

// A counted object whose references can be watched.
struct Counted final : IUnknown {
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    ULONG refs = 1;
};

TEST(ComPtrTest, HoldsExactlyOneReference) {
    Counted c;
    {
        ComPtr<IUnknown> a(&c);
        EXPECT_EQ(c.refs, 2u);
        ComPtr<IUnknown> b = a;
        EXPECT_EQ(c.refs, 3u);
        ComPtr<IUnknown> m = std::move(b);
        EXPECT_EQ(c.refs, 3u);
        EXPECT_FALSE(b);
        b = m;
        EXPECT_EQ(c.refs, 4u);
        b = nullptr;
        EXPECT_EQ(c.refs, 3u);
        ComPtr<IUnknown> q;
        EXPECT_EQ(a.as(IID_IUnknown, q), S_OK);
        EXPECT_EQ(c.refs, 4u);
        ComPtr<IUnknown> none;
        EXPECT_EQ(a.as(IID_IClassFactory, none), E_NOINTERFACE);
        EXPECT_EQ(none.as(IID_IUnknown, q), E_POINTER);
        EXPECT_FALSE(q); // put() released what it held
        EXPECT_EQ(c.refs, 3u);
        IUnknown* raw = m.detach();
        EXPECT_EQ(c.refs, 3u);
        ComPtr<IUnknown> adopted = ComPtr<IUnknown>::adopt(raw);
        EXPECT_EQ(c.refs, 3u);
    }
    EXPECT_EQ(c.refs, 1u);
}

class CoCreate : public TempRegistry {};

const CLSID kTestClass = make_guid("11111111-2222-3333-4444-555555555555");
int g_created = 0;
HRESULT create_counted(IUnknown* outer, REFIID iid, void** object) {
    if (outer) return CLASS_E_NOAGGREGATION;
    static Counted c;
    ++g_created;
    return c.QueryInterface(iid, object);
}

TEST_F(CoCreate, BuiltInClassesComeFromTheTable) {
    ComPtr<IUnknown> u;
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, u.put_void()),
              REGDB_E_CLASSNOTREG);
    kavro::com::register_builtin_class(kTestClass, create_counted);
    EXPECT_TRUE(kavro::com::is_builtin_class(kTestClass));
    ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, u.put_void()), S_OK);
    EXPECT_EQ(g_created, 1);
    ComPtr<IClassFactory> cf;
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory, cf.put_void()),
              E_NOINTERFACE);
    // An outer object may only ask for IUnknown.
    EXPECT_EQ(CoCreateInstance(kTestClass, u.get(), CLSCTX_INPROC_SERVER, IID_IClassFactory, cf.put_void()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);
    kavro::com::unregister_builtin_class(kTestClass);
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, u.put_void()),
              REGDB_E_CLASSNOTREG);

    // The platform's own classes are there.
    for (const CLSID& c : {CLSID_FilterGraph, CLSID_CaptureGraphBuilder2, CLSID_SystemDeviceEnum, CLSID_NullRenderer,
                           CLSID_VideoRenderer, CLSID_SampleGrabber, CLSID_SystemClock})
        EXPECT_EQ(CoCreateInstance(c, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, u.put_void()), S_OK)
            << guid_to_string(c);
}

TEST_F(CoCreate, PlugInsComeFromTheirRegisteredLibraries) {
    const CLSID noir = make_guid("9E237DA7-8506-453F-99D9-8B80F69254FB");
    const std::string key = kavro::com::clsid_key(noir) + "\\InprocServer32";
    ComPtr<IUnknown> u;
    // A registered path that does not exist.
    ASSERT_TRUE(kavro::registry::set_string(key, "", dir + "/missing.ax"));
    EXPECT_EQ(CoCreateInstance(noir, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, u.put_void()), CO_E_DLLNOTFOUND);
    // A library that is not a COM server.
    ASSERT_TRUE(kavro::registry::set_string(key, "", PLAIN_LIBRARY));
    EXPECT_EQ(CoCreateInstance(noir, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, u.put_void()), CO_E_ERRORINDLL);
    // The real one.
    ASSERT_TRUE(kavro::registry::set_string(key, "", NOIR_AX));
    ASSERT_EQ(CoCreateInstance(noir, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, u.put_void()), S_OK);
    ComPtr<IBaseFilter> f;
    EXPECT_EQ(u.as(IID_IBaseFilter, f), S_OK);
    // A class the library does not hold.
    const CLSID other = make_guid("9E237DA7-8506-453F-99D9-8B80F69254FC");
    ASSERT_TRUE(kavro::registry::set_string(kavro::com::clsid_key(other) + "\\InprocServer32", "", NOIR_AX));
    EXPECT_EQ(CoCreateInstance(other, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, u.put_void()),
              CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(CoCreate, AggregatedFilterDelegatesItsIUnknown) {
    ASSERT_EQ(register_library(NOIR_AX), S_OK);
    // The outer object hands out the inner filter's interfaces through the inner IUnknown.
    struct Outer final : IUnknown {
        HRESULT QueryInterface(REFIID riid, void** object) override {
            if (riid == IID_IUnknown) {
                *object = this;
                AddRef();
                return S_OK;
            }
            ++delegated;
            return inner->QueryInterface(riid, object);
        }
        ULONG AddRef() override { return ++refs; }
        ULONG Release() override { return --refs; }
        IUnknown* inner = nullptr;
        ULONG refs = 1;
        int delegated = 0;
    } outer;
    ASSERT_EQ(CoCreateInstance(make_guid("9E237DA7-8506-453F-99D9-8B80F69254FB"), &outer, CLSCTX_INPROC_SERVER,
                               IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    IBaseFilter* f = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&f)), S_OK);
    EXPECT_EQ(outer.refs, 2u); // the filter's AddRef went to the outer object
    IUnknown* back = nullptr;
    ASSERT_EQ(f->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_EQ(back, &outer); // its IUnknown is the outer one
    back->Release();
    f->Release();
    EXPECT_EQ(outer.refs, 1u);
    outer.inner->Release();
}

TEST(TaskMemory, AllocatesAndFrees) {
    void* p = CoTaskMemAlloc(0);
    EXPECT_NE(p, nullptr);
    CoTaskMemFree(p);
    CoTaskMemFree(nullptr);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
}

} // namespace
