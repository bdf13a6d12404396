// Hosting a control in a window: the window keeps the control until it is destroyed or hosts another one,
// and the control is told where it lives and when it must stop drawing there.
#include "platform/ui/control_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace ui = kavro::ui;

namespace {

class FakeControl final : public ui::IPaneControl {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == ui::IID_IPaneControl) {
            AddRef();
            *object = static_cast<ui::IPaneControl*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ULONG(++refs); }
    ULONG Release() override { return ULONG(--refs); }
    HRESULT AttachPane(std::uint32_t pane) override {
        panes.push_back(pane);
        return refuse ? E_FAIL : S_OK;
    }
    HRESULT DetachPane() override {
        panes.push_back(0);
        return S_OK;
    }
    std::atomic<long> refs{1};
    std::vector<std::uint32_t> panes; // attached panes in order, 0 for each detach
    bool refuse = false;
};

struct NotAControl final : IUnknown {
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
};

TEST(ControlHost, TheWindowHoldsItsControlUntilReplacedOrDestroyed) {
    ui::WindowSpec spec;
    const ui::Hwnd window = ui::create_window(spec, ui::def_window_proc);
    const ui::Hwnd pane = ui::create_control(window, ui::ControlTemplate{1001, ui::WindowClass::VideoPane, "", {0, 0, 64, 48}});
    FakeControl a, b;

    IUnknown* host = nullptr;
    ASSERT_EQ(ui::attach_control(&a, pane, &host), S_OK);
    EXPECT_EQ(host, static_cast<IUnknown*>(&a));
    host->Release();
    EXPECT_EQ(a.panes, std::vector<std::uint32_t>{pane.value});
    EXPECT_EQ(a.refs, 2); // ours and the window's
    IUnknown* got = ui::attached_control(pane);
    EXPECT_EQ(got, static_cast<IUnknown*>(&a));
    got->Release();

    // Another control in the same window: the first is told to stop and let go.
    ASSERT_EQ(ui::attach_control(&b, pane), S_OK);
    EXPECT_EQ(a.panes, (std::vector<std::uint32_t>{pane.value, 0}));
    EXPECT_EQ(a.refs, 1);
    EXPECT_EQ(b.refs, 2);

    // A refused attachment keeps nothing; neither does an object that is no control, nor a dead window.
    FakeControl c;
    c.refuse = true;
    EXPECT_EQ(ui::attach_control(&c, window), E_FAIL);
    EXPECT_EQ(c.refs, 1);
    EXPECT_EQ(ui::attached_control(window), nullptr);
    NotAControl plain;
    EXPECT_EQ(ui::attach_control(&plain, window), E_NOINTERFACE);
    EXPECT_EQ(ui::attach_control(nullptr, window), E_POINTER);
    EXPECT_EQ(ui::attach_control(&c, ui::Hwnd{0x7FFFFFF0}), E_INVALIDARG);

    // Destroying the window (here its parent) detaches and releases its control.
    ui::destroy_window(window);
    EXPECT_EQ(b.panes, (std::vector<std::uint32_t>{pane.value, 0}));
    EXPECT_EQ(b.refs, 1);
    EXPECT_EQ(ui::attached_control(pane), nullptr);
    EXPECT_FALSE(ui::detach_control(pane));
}

} // namespace
