// The mesh filter's property page in a property frame, driven through the window model as an operator would:
// what the page shows, "Default", the page's "Apply", the frame's OK, Apply and Cancel; and the base page's
// contract with its frame.
#include "tests/filters/mesh/fake_mesh.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace kavro::ui;

namespace {
using namespace mesh_test;

class MeshPropTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { register_page_class(); }

    void open() {
        ASSERT_EQ(frame.open(Hwnd{}, 50, 60, "Mesh", {static_cast<IMesh*>(&filter)}, {CLSID_MeshProp}), S_OK);
        page = frame.page_window();
        ASSERT_TRUE(page);
    }
    Hwnd item(int id) const { return get_dlg_item(page, id); }
    Hwnd frame_item(int id) const { return get_dlg_item(frame.hwnd(), id); }
    std::array<int, 4> shown_address() const { return ip_fields(item(mesh::IDC_ADDRESS)); }

    FakeMesh filter;
    PropertyFrame frame;
    Hwnd page;
};

TEST_F(MeshPropTest, ShowsTheFiltersAddressAndPortUnderItsTitle) {
    open();
    EXPECT_EQ(template_id(page), mesh::IDD_MESHPROP);
    EXPECT_EQ(get_window_text(frame.hwnd()), "Mesh Properties");
    EXPECT_EQ(get_dlg_item_text(frame.hwnd(), IDC_FRAME_PAGE_AREA), "JPEG_Receiver");
    EXPECT_EQ(shown_address(), (std::array<int, 4>{10, 1, 2, 3}));
    EXPECT_EQ(get_window_text(item(mesh::IDC_PORT)), "2010");
    EXPECT_FALSE(is_window_enabled(frame_item(IDC_FRAME_APPLY))) << "Apply before any change";
    // The page sits inside the frame, below the group box's caption, at the dialog's size.
    const Rect r = get_child_rect(page);
    EXPECT_EQ(r.w, map_dialog_rect({0, 0, 224, 177}).w);
    EXPECT_EQ(r.h, map_dialog_rect({0, 0, 224, 177}).h);
    EXPECT_TRUE(get_child_rect(frame_item(IDC_FRAME_PAGE_AREA)).contains({r.x, r.y}));
    EXPECT_TRUE(is_window_visible(page));
    EXPECT_EQ(get_window_text(item(mesh::IDC_DEFAULT)), "Default");
    EXPECT_EQ(get_window_text(item(mesh::IDC_APPLY)), "Apply");
}

TEST_F(MeshPropTest, DefaultThenOkLeavesTheFilterAsItWas) {
    open();
    ASSERT_TRUE(user::click(item(mesh::IDC_DEFAULT)));
    EXPECT_EQ(shown_address(), (std::array<int, 4>{127, 0, 0, 1}));
    EXPECT_EQ(get_window_text(item(mesh::IDC_PORT)), "2004");
    EXPECT_TRUE(is_window_enabled(frame_item(IDC_FRAME_APPLY))) << "the page reported itself dirty";
    ASSERT_TRUE(user::click(frame_item(IDOK)));
    EXPECT_FALSE(frame.is_open());
    EXPECT_TRUE(frame.closed_with_ok());
    EXPECT_EQ(filter.set_calls, 0);
    EXPECT_EQ(filter.port, 2010);
    EXPECT_EQ(filter.address[0], 10);
    EXPECT_EQ(filter.refs.load(), 1u) << "the page still holds the filter after the frame closed";
}

TEST_F(MeshPropTest, DefaultThenThePagesApplySetsTheDefaults) {
    open();
    ASSERT_TRUE(user::click(item(mesh::IDC_DEFAULT)));
    ASSERT_TRUE(user::click(item(mesh::IDC_APPLY)));
    EXPECT_EQ(filter.set_calls, 1);
    EXPECT_EQ((std::array<int, 4>{filter.address[0], filter.address[1], filter.address[2], filter.address[3]}),
              (std::array<int, 4>{127, 0, 0, 1}));
    EXPECT_EQ(filter.port, 2004);
    // The frame's Apply and Cancel change nothing more.
    ASSERT_TRUE(user::click(frame_item(IDC_FRAME_APPLY)));
    EXPECT_FALSE(is_window_enabled(frame_item(IDC_FRAME_APPLY)));
    ASSERT_TRUE(user::press_escape(frame.hwnd()));
    pump_messages();
    EXPECT_FALSE(frame.is_open());
    EXPECT_FALSE(frame.closed_with_ok());
    EXPECT_EQ(filter.set_calls, 1);
}

TEST_F(MeshPropTest, TypedValuesReachTheFilterAsTyped) {
    open();
    user::enter_ip_fields(item(mesh::IDC_ADDRESS), {192, 168, 0, -1}); // a blank field reads 0
    user::type_text(item(mesh::IDC_PORT), "70000");                    // above 65535: passed on
    user::click(item(mesh::IDC_APPLY));
    EXPECT_EQ((std::array<int, 4>{filter.address[0], filter.address[1], filter.address[2], filter.address[3]}),
              (std::array<int, 4>{192, 168, 0, 0}));
    EXPECT_EQ(filter.port, 70000);
    user::type_text(item(mesh::IDC_PORT), ""); // no number: port 0
    user::click(item(mesh::IDC_APPLY));
    EXPECT_EQ(filter.port, 0);
    EXPECT_EQ(filter.set_calls, 2);
}

TEST_F(MeshPropTest, AnObjectWithoutIMeshGetsNoPage) {
    Plain plain;
    const auto before = top_level_windows().size();
    EXPECT_EQ(frame.open(Hwnd{}, 0, 0, "Plain", {&plain}, {CLSID_MeshProp}), E_NOINTERFACE);
    EXPECT_FALSE(frame.is_open());
    EXPECT_EQ(top_level_windows().size(), before);
    EXPECT_EQ(plain.refs.load(), 1u);
}

TEST_F(MeshPropTest, ModalFrameFromTheFiltersPageListReturnsWhenClosed) {
    // The operator works from another thread while the frame's own loop runs here.
    std::thread operator_thread([] {
        Hwnd page;
        for (int i = 0; i < 3000 && !page; ++i) {
            for (Hwnd top : top_level_windows())
                if (get_window_text(top) == "Mesh Properties")
                    for (Hwnd c : get_children(top))  // activated (shows the filter's server) and shown
                        if (template_id(c) == mesh::IDD_MESHPROP &&
                            get_window_text(get_dlg_item(c, mesh::IDC_PORT)) == "2010" && is_window_visible(c))
                            page = c;
            if (!page) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(page);
        EXPECT_TRUE(user::click(get_dlg_item(page, mesh::IDC_DEFAULT)));
        EXPECT_TRUE(user::click(get_dlg_item(page, mesh::IDC_APPLY)));
        // An OK that comes before the frame's loop has started (a loaded machine) is given again until the
        // frame has gone, so the test ends instead of waiting for a click that was spent too early.
        const Hwnd frame = get_parent(page);
        for (int i = 0; i < 300 && is_window(frame); ++i) {
            user::click(get_dlg_item(frame, IDOK));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    EXPECT_EQ(show_property_pages(Hwnd{}, static_cast<IMesh*>(&filter), "Mesh"), S_OK);
    operator_thread.join();
    EXPECT_EQ(filter.set_calls, 1);
    EXPECT_EQ(filter.port, 2004);
    EXPECT_EQ(filter.refs.load(), 1u);
    Plain plain;
    EXPECT_EQ(show_property_pages(Hwnd{}, &plain, "Plain"), E_NOINTERFACE);
}

TEST_F(MeshPropTest, BasePageContract) {
    ComPtr<IPropertyPage> p;
    ASSERT_EQ(CoCreateInstance(CLSID_MeshProp, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, p.put_void()),
              S_OK);
    PROPPAGEINFO info{};
    ASSERT_EQ(p->GetPageInfo(&info), S_OK);
    EXPECT_STREQ(info.pszTitle, "JPEG_Receiver");
    EXPECT_EQ(info.size.cx, map_dialog_rect({0, 0, 224, 177}).w);
    CoTaskMemFree(info.pszTitle);
    EXPECT_EQ(p->GetPageInfo(nullptr), E_POINTER);
    EXPECT_EQ(p->Apply(), E_UNEXPECTED) << "no object, no site";
    EXPECT_EQ(p->SetPageSite(nullptr), E_UNEXPECTED);
    IUnknown* two[2] = {static_cast<IMesh*>(&filter), static_cast<IMesh*>(&filter)};
    EXPECT_EQ(p->SetObjects(2, two), E_UNEXPECTED);
    EXPECT_EQ(p->SetObjects(1, two), S_OK);
    const Rect where{0, 0, 100, 100};
    EXPECT_EQ(p->Deactivate(), E_UNEXPECTED);
    EXPECT_EQ(p->Show(SW_SHOW), E_UNEXPECTED);
    EXPECT_EQ(p->Activate(Hwnd{}, nullptr, TRUE), E_POINTER);
    ASSERT_EQ(p->Activate(Hwnd{}, &where, TRUE), S_OK);
    EXPECT_EQ(p->Activate(Hwnd{}, &where, TRUE), E_UNEXPECTED);
    EXPECT_EQ(p->Show(SW_MINIMIZE), E_INVALIDARG);
    EXPECT_EQ(p->IsPageDirty(), S_FALSE);
    EXPECT_EQ(p->Deactivate(), S_OK);
    EXPECT_EQ(p->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(filter.refs.load(), 1u);
}

} // namespace
