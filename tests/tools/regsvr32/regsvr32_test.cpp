// noir.ax as the setup step uses it: registered with regsvr32 into a registry, found by its friendly name
// through the device enumerator, created by its CLSID.
#include "filters/noir/noir.h"
#include "platform/dshow/vmr9/vmr9.h"
#include "platform/registry/registry.h"
#include "tests/dshow/test_support.h"
#include "tests/support/filters.h"

#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace kavro::test;
namespace reg = kavro::registry;

namespace {

// Runs the tool, from the folder cwd when one is given.
CommandResult run(const std::string& args, const std::string& cwd = {}) {
    return run_command(std::string(REGSVR32) + " " + args + " 2>&1", cwd);
}

const std::string kNoirKey = "SOFTWARE\\Classes\\CLSID\\{9E237DA7-8506-453F-99D9-8B80F69254FB}";
const std::string kNoirFilterKey =
    "SOFTWARE\\Classes\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\"
    "{9E237DA7-8506-453F-99D9-8B80F69254FB}";

class Regsvr32 : public TempRegistry {};

TEST_F(Regsvr32, RegistersTheServerAndTheFilterThenRemovesBoth) {
    const CommandResult r = run(std::string("/s \"") + NOIR_AX + "\"");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "");

    EXPECT_EQ(reg::get_string(kNoirKey, ""), "Noir");
    char real[4096];
    ASSERT_NE(realpath(NOIR_AX, real), nullptr);
    EXPECT_EQ(reg::get_string(kNoirKey + "\\InprocServer32", ""), std::string(real));
    EXPECT_EQ(reg::get_string(kNoirKey + "\\InprocServer32", "ThreadingModel"), "Both");
    EXPECT_EQ(reg::get_string(kNoirFilterKey, "FriendlyName"), "Noir");
    EXPECT_EQ(reg::get_number(kNoirFilterKey, "Merit"), 0x00200000u);
    EXPECT_EQ(reg::subkeys(kNoirFilterKey + "\\Pins"), std::vector<std::string>{"Output 1"});
    const std::string pin = kNoirFilterKey + "\\Pins\\Output 1";
    EXPECT_EQ(reg::get_number(pin, "IsOutput"), 1u);
    EXPECT_EQ(reg::get_number(pin, "IsRendered"), 0u);
    EXPECT_EQ(reg::get_number(pin, "AllowedZero"), 0u);
    EXPECT_EQ(reg::get_number(pin, "AllowedMany"), 0u);
    EXPECT_EQ(reg::get_string(pin + "\\Types\\0", "MajorType"), guid_to_string(MEDIATYPE_Video));
    EXPECT_EQ(reg::get_string(pin + "\\Types\\0", "MinorType"), guid_to_string(MEDIASUBTYPE_NULL));

    // Registering again leaves one entry.
    ASSERT_EQ(run(std::string("/s ") + NOIR_AX).status, 0);
    EXPECT_EQ(reg::subkeys("SOFTWARE\\Classes\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance").size(), 1u);

    const CommandResult u = run(std::string("/u ") + NOIR_AX);
    ASSERT_EQ(u.status, 0) << u.output;
    EXPECT_NE(u.output.find("DllUnregisterServer"), std::string::npos);
    EXPECT_FALSE(reg::key_exists(kNoirFilterKey));
    EXPECT_FALSE(reg::key_exists(kNoirKey));
}

TEST_F(Regsvr32, FailuresGiveANonZeroCodeAndAMessageUnlessSilent) {
    const CommandResult missing = run(dir + "/absent.ax");
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.output.find("absent.ax"), std::string::npos);

    const CommandResult silent = run("/s " + dir + "/absent.ax");
    EXPECT_NE(silent.status, 0);
    EXPECT_EQ(silent.output, "");

    // A library without the registration export.
    const CommandResult noexport = run(std::string("/s ") + "libc.so.6");
    EXPECT_NE(noexport.status, 0);
    EXPECT_NE(noexport.status, missing.status);

    EXPECT_NE(run("").status, 0);
    EXPECT_NE(run("/x " + std::string(NOIR_AX)).status, 0);
    EXPECT_FALSE(reg::key_exists(kNoirKey));
}

TEST_F(Regsvr32, RegistrationFailsCleanlyWhenTheRegistryCannotBeWritten) {
    // The registry file's folder is a plain file: nothing can be written.
    { std::ofstream(dir + "/blocked") << "x"; }
    setenv("KAVRO_REGISTRY", (dir + "/blocked/registry.xml").c_str(), 1);
    const CommandResult r = run(NOIR_AX);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("failed"), std::string::npos) << r.output;
}

TEST_F(Regsvr32, BareFileNameInTheCurrentFolderIsRegisteredByItsAbsolutePath) {
    std::filesystem::create_directories(dir + "/plugins");
    std::filesystem::copy_file(NOIR_AX, dir + "/plugins/noir.ax");
    char real[4096];
    ASSERT_NE(realpath((dir + "/plugins/noir.ax").c_str(), real), nullptr);
    for (const char* name : {"noir.ax", "../plugins/noir.ax"}) {
        const CommandResult r = run(std::string("/s ") + name, dir + "/plugins");
        ASSERT_EQ(r.status, 0) << name << ": " << r.output;
        EXPECT_EQ(reg::get_string(kNoirKey + "\\InprocServer32", ""), std::string(real)) << name;
        ASSERT_EQ(run(std::string("/s /u ") + name, dir + "/plugins").status, 0) << name;
        EXPECT_FALSE(reg::key_exists(kNoirKey)) << name;
    }
}

// Every key and value below the plug-in's two keys, read from one copy of the registry file.
std::vector<std::string> noir_entries(const std::string& registry, const std::string& copy) {
    std::filesystem::copy_file(registry, copy, std::filesystem::copy_options::overwrite_existing);
    setenv("KAVRO_REGISTRY", copy.c_str(), 1);
    std::vector<std::string> out;
    std::function<void(const std::string&)> walk = [&](const std::string& key) {
        if (!reg::key_exists(key)) return;
        out.push_back(key);
        for (const auto& v : reg::value_names(key)) {
            const auto s = reg::get_string(key, v);
            const auto n = reg::get_number(key, v);
            out.push_back(key + "|" + v + "=" + (s ? *s : n ? std::to_string(*n) : "?"));
        }
        for (const auto& k : reg::subkeys(key)) walk(key + "\\" + k);
    };
    walk(kNoirKey);
    walk(kNoirFilterKey);
    setenv("KAVRO_REGISTRY", registry.c_str(), 1);
    return out;
}

TEST_F(Regsvr32, ARegistrationKilledAnywhereIsWholeOrAbsent) {
    // Another plug-in's keys must survive every kill too.
    ASSERT_TRUE(reg::set_string("SOFTWARE\\Other", "Path", "/opt/other.ax"));
    ASSERT_EQ(register_library(NOIR_AX), S_OK);
    const std::vector<std::string> whole = noir_entries(registry, dir + "/copy.xml");
    ASSERT_GT(whole.size(), 10u);

    int whole_seen = 0, absent_seen = 0;
    for (int trial = 0; trial < 40; ++trial) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            void* lib = kavro::com::load_library(NOIR_AX);
            auto reg_fn = reinterpret_cast<DllRegisterServerFn>(dlsym(lib, "DllRegisterServer"));
            auto unreg_fn = reinterpret_cast<DllRegisterServerFn>(dlsym(lib, "DllUnregisterServer"));
            if (!reg_fn || !unreg_fn) _exit(2);
            for (;;) {
                if (FAILED(unreg_fn()) || FAILED(reg_fn())) _exit(3);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500 + 997 * trial % 20000));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the loop ended by itself: " << status;
        const std::vector<std::string> now = noir_entries(registry, dir + "/copy.xml");
        if (now.empty()) {
            ++absent_seen;
        } else {
            ASSERT_EQ(now, whole) << "trial " << trial << ": half a registration";
            ++whole_seen;
        }
        ASSERT_EQ(reg::get_string("SOFTWARE\\Other", "Path"), "/opt/other.ax") << "trial " << trial;
    }
    EXPECT_GT(whole_seen + absent_seen, 0);
}

class NoirLookup : public TempRegistry {};

TEST_F(NoirLookup, FoundByFriendlyNameAndCreatedByClsid) {
    auto devenum = create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    ComPtr<IEnumMoniker> none;
    EXPECT_EQ(devenum->CreateClassEnumerator(CLSID_LegacyAmFilterCategory, none.put(), 0), S_FALSE);
    EXPECT_FALSE(none);
    ComPtr<IBaseFilter> f;
    EXPECT_EQ(CoCreateInstance(CLSID_Noir, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, f.put_void()),
              REGDB_E_CLASSNOTREG);

    ASSERT_EQ(run(std::string("/s ") + NOIR_AX).status, 0);
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
    ASSERT_EQ(run(std::string("/s ") + NOIR_AX).status, 0);
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
