// The DirectX error trace: source location and result code in a message box.
#include <gtest/gtest.h>

#include <string>

#include "platform/ui/error_trace.h"
#include "platform/ui/ui.h"

using namespace kavro::ui;

namespace {

TEST(ErrorTrace, NamesSourceLocationAndResultCodeInAMessageBox) {
    EXPECT_EQ(result_text(E_FAIL), "E_FAIL");
    EXPECT_EQ(result_text(HRESULT(0x80040216u)), "VFW_E_NOT_FOUND");
    EXPECT_EQ(result_text(HRESULT(0x8badf00du)), "Unknown");
    std::string text, caption;
    unsigned flags = 0;
    auto old = set_message_box_presenter([&](const std::string& t, const std::string& c, unsigned f) {
        text = t;
        caption = c;
        flags = f;
        return IDOK;
    });
    EXPECT_EQ(error_trace("InterfaceKAVRO", 785, E_POINTER), E_POINTER);
    set_message_box_presenter(old);
    EXPECT_EQ(text, "File: InterfaceKAVRO\nLine: 785\nError Code: E_POINTER (0x80004003)");
    EXPECT_EQ(caption, "Unexpected error encountered");
    EXPECT_EQ(flags & 0xF0, MB_ICONERROR);
    EXPECT_EQ(error_trace_text("InterfaceKAVRO", 211, E_FAIL, "GetConfig"),
              "File: InterfaceKAVRO\nLine: 211\nError Code: E_FAIL (0x80004005)\nCalling: GetConfig");
    register_result_text(HRESULT(0x8badf00du), "E_TEST");
    EXPECT_EQ(result_text(HRESULT(0x8badf00du)), "E_TEST");
}

} // namespace
