// capTelcar.ax as the setup step installs it: registered with regsvr32 into a registry, found as "Capteur"
// through the device enumerator as the mixer looks it up, created by its CLSID as the console does.
#include "outside/capteur_control.h"
#include "platform/registry/registry.h"
#include "tests/platform/dshow/test_support.h"
#include "tests/support/filters.h"

using namespace kavro::test;
namespace reg = kavro::registry;

namespace {

const std::string kServerKey = "SOFTWARE\\Classes\\CLSID\\{C0AA9776-ACF4-4A19-A3A2-A6BF69EB74BB}";
const std::string kFilterKey = "SOFTWARE\\Classes\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\"
                               "{C0AA9776-ACF4-4A19-A3A2-A6BF69EB74BB}";

class CapteurRegistration : public TempRegistry {};

TEST_F(CapteurRegistration, RegsvrRegistersTheServerAndFilterAndRemovesThem) {
    ComPtr<IBaseFilter> none;
    EXPECT_EQ(CoCreateInstance(CLSID_Capteur, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, none.put_void()),
              REGDB_E_CLASSNOTREG);

    std::string out;
    ASSERT_EQ(regsvr32(REGSVR32, std::string("/s ") + CAPTEUR_AX, &out), 0) << out;
    EXPECT_EQ(reg::get_string(kServerKey, ""), "Capteur");
    char real[4096];
    ASSERT_NE(realpath(CAPTEUR_AX, real), nullptr);
    EXPECT_EQ(reg::get_string(kServerKey + "\\InprocServer32", ""), std::string(real));
    EXPECT_NE(std::string(real).find("capTelcar.ax"), std::string::npos);
    EXPECT_EQ(reg::get_string(kFilterKey, "FriendlyName"), "Capteur");
    EXPECT_EQ(reg::subkeys(kFilterKey + "\\Pins"), std::vector<std::string>{"Output"});
    const std::string pin = kFilterKey + "\\Pins\\Output";
    EXPECT_EQ(reg::get_number(pin, "IsOutput"), 1u);
    EXPECT_EQ(reg::get_string(pin + "\\Types\\0", "MajorType"), guid_to_string(MEDIATYPE_Video));
    EXPECT_EQ(reg::get_string(pin + "\\Types\\0", "MinorType"), guid_to_string(MEDIASUBTYPE_RGB32));

    // Found by name, created by CLSID, both with the control interface.
    std::string name;
    ComPtr<IBaseFilter> byName = find_filter_by_name("Capteur", &name);
    ASSERT_TRUE(byName);
    EXPECT_EQ(name, "Capteur");
    CLSID clsid{};
    ASSERT_EQ(byName->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Capteur);
    ComPtr<ICapteurControl> control;
    EXPECT_EQ(byName->QueryInterface(IID_ICapteurControl, control.put_void()), S_OK);

    ComPtr<IBaseFilter> byClsid;
    ASSERT_EQ(CoCreateInstance(CLSID_Capteur, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, byClsid.put_void()),
              S_OK);
    ComPtr<ICapteurControl> c2;
    ASSERT_EQ(byClsid->QueryInterface(IID_ICapteurControl, c2.put_void()), S_OK);
    kavro::SensorChannelRecord r{};
    r.setting1_b = 3;
    ASSERT_EQ(c2->SetConfig(1, &r), S_OK);
    kavro::ConsoleSensorChannelRecord back{};
    ASSERT_EQ(c2->GetConfig(1, &back), S_OK);
    EXPECT_EQ(back.settings.setting1_b, 3);
    // Two instances do not share their records.
    ASSERT_EQ(control->GetConfig(1, &back), S_OK);
    EXPECT_EQ(back.settings.setting1_b, 0);
    // Without a graph: straight to the control interface, status listener running.
    ComPtr<ICapteurControl> direct;
    ASSERT_EQ(CoCreateInstance(CLSID_Capteur, nullptr, CLSCTX_INPROC_SERVER, IID_ICapteurControl, direct.put_void()),
              S_OK);
    int index = 5;
    std::int32_t b = -1, w1 = -1, w2 = -1, s = -1;
    EXPECT_EQ(direct->GetStatus(&index, &b, &w1, &w2, &s), S_OK);
    EXPECT_EQ(b, 0);
    direct.reset();
    ComPtr<IPin> out_pin;
    EXPECT_EQ(byClsid->FindPin("Output", out_pin.put()), S_OK);
    control.reset();
    c2.reset();
    byName.reset();
    byClsid.reset();

    ASSERT_EQ(regsvr32(REGSVR32, std::string("/u /s ") + CAPTEUR_AX, &out), 0) << out;
    EXPECT_FALSE(reg::key_exists(kFilterKey));
    EXPECT_FALSE(reg::key_exists(kServerKey));
}

TEST_F(CapteurRegistration, OnlyTheDllEntryPointsAreVisible) {
    void* lib = kavro::com::load_library(CAPTEUR_AX);
    ASSERT_NE(lib, nullptr);
    for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
        EXPECT_NE(dlsym(lib, name), nullptr) << name;
    EXPECT_EQ(dlsym(lib, "_ZN8CCapteur14CreateInstanceEP8IUnknownPi"), nullptr);
    // The status datagram reader linked in from the helpers stays inside too.
    EXPECT_EQ(dlsym(lib, "_ZN5kavro5robot21parse_status_datagramEPKcmRNS0_11RobotStatusE"), nullptr);

    auto get = reinterpret_cast<DllGetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
    auto can_unload = reinterpret_cast<DllCanUnloadNowFn>(dlsym(lib, "DllCanUnloadNow"));
    IClassFactory* cf = nullptr;
    ASSERT_EQ(get(CLSID_Capteur, IID_IClassFactory, reinterpret_cast<void**>(&cf)), S_OK);
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(cf->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
    cf->Release();
    EXPECT_EQ(can_unload(), S_FALSE);
    filter->Release(); // stops its listener thread
    EXPECT_EQ(can_unload(), S_OK);
}

} // namespace
