// Plug-ins as the setup step and the mixer see them: registered with the regsvr32 tool, looked up by the
// friendly name the mixer's configuration gives.
#pragma once

#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/dshow/dshow.h"
#include "tests/support/command.h"

#include <gtest/gtest.h>

#include <string>

namespace kavro::test {

// Runs the regsvr32 tool (`tool`, its path) with `args`; answers its exit code and, when asked, what it printed
// (standard output and error together).
inline int regsvr32(const std::string& tool, const std::string& args, std::string* output = nullptr) {
    CommandResult r = run_command(tool + " " + args + " 2>&1");
    if (output) *output = std::move(r.output);
    return r.status;
}

// The mixer's lookup: the first registered filter whose friendly name begins with `prefix`, created through its
// moniker; `found` (when given) receives the whole name. Null when no registered filter matches.
inline ComPtr<IBaseFilter> find_filter_by_name(const std::string& prefix, std::string* found = nullptr) {
    ComPtr<ICreateDevEnum> devenum;
    EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                               devenum.put_void()),
              S_OK);
    ComPtr<IEnumMoniker> e;
    if (!devenum || devenum->CreateClassEnumerator(CLSID_LegacyAmFilterCategory, e.put(), 0) != S_OK)
        return nullptr;
    for (;;) {
        IMoniker* m = nullptr;
        ULONG got = 0;
        if (e->Next(1, &m, &got) != S_OK) return nullptr;
        ComPtr<IMoniker> mon = ComPtr<IMoniker>::adopt(m);
        ComPtr<IPropertyBag> bag;
        char name[128];
        if (FAILED(mon->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.put_void())) ||
            FAILED(bag->Read("FriendlyName", name, sizeof name)) ||
            std::string(name).compare(0, prefix.size(), prefix) != 0)
            continue;
        if (found) *found = name;
        ComPtr<IBaseFilter> f;
        EXPECT_EQ(mon->BindToObject(nullptr, nullptr, IID_IBaseFilter, f.put_void()), S_OK);
        return f;
    }
}

} // namespace kavro::test
