// Shared helpers of the video platform tests: a temporary registry and folder per test.
#pragma once

#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/dshow/dshow.h"
#include "tests/support/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <dlfcn.h>
#include <unistd.h>

namespace kavro::test {

// Each test gets its own folder and its own registry file ($KAVRO_REGISTRY), removed afterwards.
class TempRegistry : public ::testing::Test {
protected:
    void SetUp() override { kavro::dshow::register_builtin_classes(); }

    // Registers a plug-in in this test's registry through its own export.
    HRESULT register_library(const std::string& path) {
        void* lib = kavro::com::load_library(path);
        if (!lib) return E_FAIL;
        auto fn = reinterpret_cast<DllRegisterServerFn>(dlsym(lib, "DllRegisterServer"));
        return fn ? fn() : E_FAIL;
    }

    ScopedRegistry scoped_registry;
    const std::string dir = scoped_registry.dir().str();
    const std::string registry = scoped_registry.file();
};

template <class T>
ComPtr<T> create(REFCLSID clsid, REFIID iid) {
    ComPtr<T> p;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, p.put_void()), S_OK);
    return p;
}

inline ComPtr<IPin> find_pin(IBaseFilter* f, PIN_DIRECTION dir, int index = 0) {
    ComPtr<IEnumPins> e;
    if (FAILED(f->EnumPins(e.put()))) return nullptr;
    int n = 0;
    for (;;) {
        IPin* p = nullptr;
        ULONG got = 0;
        if (e->Next(1, &p, &got) != S_OK) return nullptr;
        ComPtr<IPin> pin = ComPtr<IPin>::adopt(p);
        PIN_DIRECTION d;
        pin->QueryDirection(&d);
        if (d == dir && n++ == index) return pin;
    }
}

} // namespace kavro::test
