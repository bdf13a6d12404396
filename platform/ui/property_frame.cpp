#include "platform/ui/property_frame.h"

#include "platform/com/com_ptr.h"
#include "platform/com/property_pages.h"
#include "platform/com/runtime.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <utility>

namespace kavro::ui {
namespace {

// Frame geometry in pixels.
constexpr int kMargin = 7;
constexpr int kTabHeight = 23;
constexpr int kGroupTop = 16; // room for the group box's caption above the page
constexpr int kGroupPad = 6;
constexpr int kButtonW = 75, kButtonH = 23, kButtonGap = 6;

} // namespace

struct PageSite;

struct PropertyFrame::State {
    struct Slot {
        ComPtr<IPropertyPage> page;
        PageSite* site = nullptr;
        std::string title;
        SIZE size{};
        bool active = false;
    };
    Hwnd frame;
    std::vector<Slot> slots;
    std::vector<ComPtr<IUnknown>> objects;
    std::size_t current = 0;
    Rect page_rect;
    bool* ok = nullptr;
    Hwnd wake; // told when the frame closes

    void enable_apply(bool on) const { enable_window(get_dlg_item(frame, IDC_FRAME_APPLY), on); }
    void show_page(std::size_t index);
    void apply_all();
    void close(bool with_ok);
    LRESULT on_message(Hwnd, unsigned msg, WPARAM wp, LPARAM);
};

// The frame's side of one page: dirty reports make Apply available.
struct PageSite final : IPropertyPageSite {
    std::atomic<ULONG> refs{1};
    PropertyFrame::State* state; // null once the frame has let go of the page

    explicit PageSite(PropertyFrame::State* s) : state(s) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!(iid == IID_IUnknown || iid == IID_IPropertyPageSite)) return E_NOINTERFACE;
        AddRef();
        *object = static_cast<IPropertyPageSite*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        ULONG n = --refs;
        if (n == 0) delete this;
        return n;
    }
    HRESULT OnStatusChange(DWORD flags) override {
        if (state && (flags & PROPPAGESTATUS_DIRTY)) state->enable_apply(true);
        return S_OK;
    }
    HRESULT GetLocaleID(DWORD* locale) override {
        if (!locale) return E_POINTER;
        *locale = 0x0409;
        return S_OK;
    }
    HRESULT GetPageContainer(IUnknown** container) override {
        if (container) *container = nullptr;
        return E_NOTIMPL;
    }
    HRESULT TranslateAccelerator(Msg*) override { return S_FALSE; }
};

void PropertyFrame::State::show_page(std::size_t index) {
    if (index >= slots.size()) return;
    if (slots[current].active && index != current) {
        slots[current].page->Deactivate();
        slots[current].active = false;
    }
    current = index;
    Slot& s = slots[current];
    set_dlg_item_text(frame, IDC_FRAME_PAGE_AREA, s.title);
    for (std::size_t i = 0; i < slots.size() && slots.size() > 1; ++i)
        enable_window(get_dlg_item(frame, IDC_FRAME_FIRST_TAB + int(i)), i != current);
    if (!s.active) {
        const HRESULT hr = s.page->Activate(frame, &page_rect, TRUE);
        s.active = SUCCEEDED(hr);
        if (FAILED(hr))
            std::fprintf(stderr, "property frame: page \"%s\" could not be shown (%s)\n", s.title.c_str(),
                         hresult_name(hr).c_str());
    }
}

void PropertyFrame::State::apply_all() {
    for (Slot& s : slots)
        if (s.page->IsPageDirty() == S_OK) {
            const HRESULT hr = s.page->Apply();
            if (FAILED(hr))
                std::fprintf(stderr, "property frame: page \"%s\" could not apply its changes (%s)\n",
                             s.title.c_str(), hresult_name(hr).c_str());
        }
    enable_apply(false);
}

void PropertyFrame::State::close(bool with_ok) {
    if (ok) *ok = with_ok;
    for (Slot& s : slots) {
        if (s.active) s.page->Deactivate();
        s.active = false;
        s.page->SetObjects(0, nullptr);
        s.page->SetPageSite(nullptr);
        s.site->state = nullptr;
        s.site->Release();
        s.site = nullptr;
        s.page.reset();
    }
    slots.clear();
    objects.clear();
    const Hwnd h = std::exchange(frame, Hwnd{});
    destroy_window(h);
    if (wake) post_message(wake, WM_NULL);
}

LRESULT PropertyFrame::State::on_message(Hwnd, unsigned msg, WPARAM wp, LPARAM) {
    if (msg != WM_COMMAND || !frame) return 0;
    const int id = int(loword(wp));
    if (id == IDOK) {
        apply_all();
        close(true);
    } else if (id == IDCANCEL) {
        close(false);
    } else if (id == IDC_FRAME_APPLY) {
        apply_all();
    } else if (id >= IDC_FRAME_FIRST_TAB && id < IDC_FRAME_FIRST_TAB + int(slots.size())) {
        show_page(std::size_t(id - IDC_FRAME_FIRST_TAB));
    } else {
        return 0;
    }
    return 1;
}

PropertyFrame::~PropertyFrame() {
    if (state_ && state_->frame) state_->close(false);
    delete state_;
}

void PropertyFrame::wake_on_close(Hwnd w) {
    if (state_) state_->wake = w;
}

Hwnd PropertyFrame::hwnd() const { return state_ ? state_->frame : Hwnd{}; }
bool PropertyFrame::is_open() const { return state_ && state_->frame && is_window(state_->frame); }
std::size_t PropertyFrame::page_count() const { return state_ ? state_->slots.size() : 0; }

Hwnd PropertyFrame::page_window() const {
    if (!is_open()) return {};
    for (Hwnd c : get_children(state_->frame))
        if (is_dialog(c)) return c;
    return {};
}

HRESULT PropertyFrame::open(Hwnd owner, int x, int y, const std::string& caption, std::vector<IUnknown*> objects,
                            std::vector<CLSID> pages) {
    if (is_open()) return E_UNEXPECTED;
    if (objects.empty() || pages.empty()) return E_INVALIDARG;
    for (IUnknown* o : objects)
        if (!o) return E_POINTER;
    delete state_;
    state_ = new State;
    State& st = *state_;
    st.ok = &ok_;
    ok_ = false;
    for (IUnknown* o : objects) st.objects.emplace_back(o);

    HRESULT last = E_FAIL;
    for (const CLSID& clsid : pages) {
        State::Slot s;
        HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, s.page.put_void());
        if (SUCCEEDED(hr)) {
            s.site = new PageSite(&st);
            s.page->SetPageSite(s.site);
            hr = s.page->SetObjects(ULONG(objects.size()), objects.data());
        }
        PROPPAGEINFO info{};
        info.cb = sizeof info;
        if (SUCCEEDED(hr)) hr = s.page->GetPageInfo(&info);
        if (FAILED(hr)) {
            std::fprintf(stderr, "property frame: page %s left out (%s)\n", guid_to_string(clsid).c_str(),
                         hresult_name(hr).c_str());
            if (s.page) {
                s.page->SetObjects(0, nullptr);
                s.page->SetPageSite(nullptr);
            }
            if (s.site) s.site->Release();
            last = hr;
            continue;
        }
        s.title = info.pszTitle ? info.pszTitle : "";
        s.size = info.size;
        CoTaskMemFree(info.pszTitle);
        CoTaskMemFree(info.pszDocString);
        CoTaskMemFree(info.pszHelpFile);
        st.slots.push_back(std::move(s));
    }
    if (st.slots.empty()) {
        st.objects.clear();
        return last;
    }

    // Layout: page tabs (several pages), a group box captioned with the page's title around the page, buttons.
    int page_w = 0, page_h = 0;
    for (const auto& s : st.slots) {
        page_w = std::max<int>(page_w, s.size.cx);
        page_h = std::max<int>(page_h, s.size.cy);
    }
    const int tabs = st.slots.size() > 1 ? kTabHeight + kMargin : 0;
    const int client_w = std::max(page_w + 2 * (kGroupPad + kMargin), 3 * kButtonW + 2 * kButtonGap + 2 * kMargin);
    const Rect group{kMargin, kMargin + tabs, client_w - 2 * kMargin, kGroupTop + page_h + kGroupPad};
    st.page_rect = Rect{group.x + kGroupPad, group.y + kGroupTop, page_w, page_h};
    const int buttons_y = group.bottom() + kMargin;
    const int client_h = buttons_y + kButtonH + kMargin;

    DialogTemplate t;
    t.caption = caption + " Properties";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    State* self = &st;
    st.frame = create_dialog(t, [self](Hwnd h, unsigned m, WPARAM wp, LPARAM lp) { return self->on_message(h, m, wp, lp); },
                             owner);
    const FrameInsets in = frame_insets(st.frame);
    move_window(st.frame, x, y, client_w + in.left + in.right, client_h + in.top + in.bottom);

    for (std::size_t i = 0; i < st.slots.size() && st.slots.size() > 1; ++i)
        create_control(st.frame, {IDC_FRAME_FIRST_TAB + int(i), WindowClass::Button, st.slots[i].title,
                                  Rect{kMargin + int(i) * (kButtonW + 2), kMargin, kButtonW, kTabHeight},
                                  WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON});
    create_control(st.frame, {IDC_FRAME_PAGE_AREA, WindowClass::Button, "", group, WS_VISIBLE | BS_GROUPBOX});
    const int right = client_w - kMargin;
    const struct {
        int id;
        const char* text;
        unsigned style;
    } buttons[] = {{IDOK, "OK", BS_DEFPUSHBUTTON}, {IDCANCEL, "Cancel", BS_PUSHBUTTON},
                   {IDC_FRAME_APPLY, "&Apply", BS_PUSHBUTTON | WS_DISABLED}};
    for (int i = 0; i < 3; ++i)
        create_control(st.frame, {buttons[i].id, WindowClass::Button, buttons[i].text,
                                  Rect{right - (3 - i) * kButtonW - (2 - i) * kButtonGap, buttons_y, kButtonW, kButtonH},
                                  WS_VISIBLE | WS_TABSTOP | buttons[i].style});
    st.show_page(0);
    show_window(st.frame, SW_SHOW);
    set_foreground_window(st.frame);
    return S_OK;
}

HRESULT OleCreatePropertyFrame(Hwnd owner, int x, int y, const char* caption, ULONG object_count,
                               IUnknown** objects, ULONG page_count, const CLSID* pages, DWORD) {
    if ((object_count && !objects) || (page_count && !pages)) return E_POINTER;
    PropertyFrame frame;
    const HRESULT hr = frame.open(owner, x, y, caption ? caption : "", {objects, objects + object_count},
                                  {pages, pages + page_count});
    if (FAILED(hr)) return hr;
    const bool owner_was_enabled = owner && is_window_enabled(owner);
    if (owner) enable_window(owner, false);
    // The frame closes while a message is handled; a hidden window of this thread then wakes the loop.
    const Hwnd waker = create_window({}, def_window_proc);
    frame.wake_on_close(waker);
    while (frame.is_open()) {
        Msg m;
        if (!get_message(m)) {
            post_quit_message(int(m.wparam)); // for the outer loop; the frame closes as cancelled
            break;
        }
        translate_message(m);
        dispatch_message(m);
    }
    frame.wake_on_close({});
    destroy_window(waker);
    if (owner_was_enabled) enable_window(owner, true);
    return S_OK;
}

HRESULT show_property_pages(Hwnd owner, IUnknown* object, const std::string& caption) {
    if (!object) return E_POINTER;
    ComPtr<ISpecifyPropertyPages> specify;
    HRESULT hr = object->QueryInterface(IID_ISpecifyPropertyPages, specify.put_void());
    if (FAILED(hr)) return hr;
    CAUUID pages{0, nullptr};
    hr = specify->GetPages(&pages);
    if (FAILED(hr)) return hr;
    if (pages.cElems == 0) {
        CoTaskMemFree(pages.pElems);
        return S_FALSE;
    }
    hr = OleCreatePropertyFrame(owner, 100, 100, caption.c_str(), 1, &object, pages.cElems, pages.pElems);
    CoTaskMemFree(pages.pElems);
    return hr;
}

} // namespace kavro::ui
