// Adlink.ax as the setup step installs it: registered with regsvr32 into a temporary registry, created by its
// CLSID as the console does, found twice by the name prefix "Adlink" as the mixer does; only the Dll* entry
// points are visible.
#include "outside/capture_card.h"
#include "platform/registry/registry.h"
#include "tests/platform/dshow/plugin_support.h"

using namespace kavro::test;
namespace reg = kavro::registry;

namespace {

const std::string kServerKey = "SOFTWARE\\Classes\\CLSID\\{7855F7FF-36DD-4DE9-B997-1596998A0ECE}";
const std::string kFilterKey = "SOFTWARE\\Classes\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\"
                               "{7855F7FF-36DD-4DE9-B997-1596998A0ECE}";

class AdlinkRegistration : public TempRegistry {};

TEST_F(AdlinkRegistration, RegisteredCreatedByClsidFoundTwiceByNameAndRemoved) {
    std::string out;
    ASSERT_EQ(regsvr32(REGSVR32, std::string("/s ") + ADLINK_AX, &out), 0) << out;
    EXPECT_EQ(reg::subkeys(kFilterKey + "\\Pins"),
              (std::vector<std::string>{"Output 1", "Output 2", "Output 3", "Output 4"}));

    auto byClsid = create<IBaseFilter>(CLSID_CaptureCard, IID_IBaseFilter);
    ASSERT_TRUE(byClsid);
    ComPtr<IPictureAdjust> adjust;
    EXPECT_EQ(byClsid.as(IID_IPictureAdjust, adjust), S_OK);
    for (int n = 0; n < 4; ++n) EXPECT_TRUE(find_pin(byClsid.get(), PINDIR_OUTPUT, n)) << n;
    EXPECT_FALSE(find_pin(byClsid.get(), PINDIR_OUTPUT, 4));

    // The mixer's two lookups bind the same registered filter twice: two objects.
    std::string name;
    ComPtr<IBaseFilter> one = find_filter_by_name("Adlink", &name);
    ComPtr<IBaseFilter> two = find_filter_by_name("Adlink", nullptr);
    ASSERT_TRUE(one && two);
    EXPECT_EQ(name.rfind("Adlink", 0), 0u);
    EXPECT_NE(one.get(), two.get());
    CLSID clsid{};
    ASSERT_EQ(two->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_CaptureCard);
    adjust.reset();
    byClsid.reset();
    one.reset();
    two.reset();

    ASSERT_EQ(regsvr32(REGSVR32, std::string("/u /s ") + ADLINK_AX, &out), 0) << out;
    EXPECT_FALSE(reg::key_exists(kFilterKey));
    EXPECT_FALSE(reg::key_exists(kServerKey));
}

TEST_F(AdlinkRegistration, OnlyTheDllEntryPointsAreVisible) {
    void* lib = kavro::com::load_library(ADLINK_AX);
    ASSERT_NE(lib, nullptr);
    for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
        EXPECT_NE(dlsym(lib, name), nullptr) << name;
    EXPECT_EQ(dlsym(lib, "_ZN7CAdlink14CreateInstanceEP8IUnknownPi"), nullptr);
    EXPECT_EQ(dlsym(lib, "_ZN5kavro6pixels9draw_textERKNS0_5ImageEiiSt17basic_string_viewIcSt11char_traitsIcEEji"),
              nullptr);
}

} // namespace
