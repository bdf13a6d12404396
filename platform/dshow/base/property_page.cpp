#include "platform/dshow/base/property_page.h"

#include "platform/com/runtime.h"

#include <cstring>
#include <utility>

using namespace kavro::ui;

CBasePropertyPage::CBasePropertyPage(const char* name, IUnknown* outer, int dialogId, int titleId)
    : CUnknown(name, outer), m_DialogId(dialogId), m_TitleId(titleId) {}

CBasePropertyPage::~CBasePropertyPage() {
    if (m_Dlg) destroy_window(m_Dlg);
    if (m_pPageSite) m_pPageSite->Release();
}

HRESULT CBasePropertyPage::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (riid == IID_IPropertyPage) return GetInterface(static_cast<IPropertyPage*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

const DialogTemplate* CBasePropertyPage::Template() const {
    for (const DialogTemplate& t : ModuleResources().dialogs)
        if (t.id == m_DialogId) return &t;
    return nullptr;
}

HRESULT CBasePropertyPage::SetPageSite(IPropertyPageSite* site) {
    if (site) {
        if (m_pPageSite) return E_UNEXPECTED;
        m_pPageSite = site;
        m_pPageSite->AddRef();
        return S_OK;
    }
    if (!m_pPageSite) return E_UNEXPECTED;
    std::exchange(m_pPageSite, nullptr)->Release();
    return S_OK;
}

HRESULT CBasePropertyPage::Activate(Hwnd parent, const Rect* rect, BOOL) {
    if (!rect) return E_POINTER;
    if (m_Dlg) return E_UNEXPECTED;
    const DialogTemplate* found = Template();
    if (!found) return E_FAIL;
    DialogTemplate t = *found;
    t.style = (t.style & ~(WS_POPUP | WS_CAPTION | WS_VISIBLE)) | WS_CHILD;
    const Hwnd dlg = create_dialog(
        t,
        [this](Hwnd h, unsigned msg, WPARAM wp, LPARAM lp) -> LRESULT {
            if (msg == WM_INITDIALOG) m_Dlg = m_hwnd = h;
            return m_Dlg == h ? OnReceiveMessage(h, msg, wp, lp) : 0;
        },
        parent);
    if (!dlg) return E_OUTOFMEMORY;
    m_Dlg = m_hwnd = dlg;
    const HRESULT hr = OnActivate();
    if (FAILED(hr)) {
        destroy_window(dlg);
        m_Dlg = m_hwnd = Hwnd{};
        return hr;
    }
    Move(rect);
    return Show(SW_SHOWNORMAL);
}

HRESULT CBasePropertyPage::Deactivate() {
    if (!m_Dlg) return E_UNEXPECTED;
    const HRESULT hr = OnDeactivate();
    if (FAILED(hr)) return hr;
    const Hwnd dlg = std::exchange(m_Dlg, Hwnd{});
    m_hwnd = Hwnd{};
    destroy_window(dlg);
    return S_OK;
}

HRESULT CBasePropertyPage::GetPageInfo(PROPPAGEINFO* info) {
    if (!info) return E_POINTER;
    const auto& strings = ModuleResources().strings;
    const auto it = strings.find(m_TitleId);
    const std::string title = it == strings.end() ? std::string() : it->second;
    auto* copy = static_cast<char*>(CoTaskMemAlloc(title.size() + 1));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, title.c_str(), title.size() + 1);
    const DialogTemplate* t = Template();
    const Rect px = t ? map_dialog_rect(t->rect) : Rect{};
    *info = PROPPAGEINFO{sizeof(PROPPAGEINFO), copy, SIZE{px.w, px.h}, nullptr, nullptr, 0};
    return S_OK;
}

HRESULT CBasePropertyPage::SetObjects(ULONG count, IUnknown** objects) {
    if (count == 1) {
        if (!objects || !objects[0]) return E_POINTER;
        m_bObjectSet = true;
        const HRESULT hr = OnConnect(objects[0]);
        if (FAILED(hr)) m_bObjectSet = false;
        return hr;
    }
    if (count == 0) {
        m_bObjectSet = false;
        return OnDisconnect();
    }
    return E_UNEXPECTED;
}

HRESULT CBasePropertyPage::Show(unsigned show_command) {
    if (!m_Dlg) return E_UNEXPECTED;
    if (show_command != SW_SHOW && show_command != SW_SHOWNORMAL && show_command != SW_HIDE)
        return E_INVALIDARG;
    show_window(m_Dlg, int(show_command));
    invalidate_rect(m_Dlg);
    return S_OK;
}

HRESULT CBasePropertyPage::Move(const Rect* rect) {
    if (!rect) return E_POINTER;
    if (!m_Dlg) return E_UNEXPECTED;
    move_window(m_Dlg, rect->x, rect->y, rect->w, rect->h);
    return S_OK;
}

HRESULT CBasePropertyPage::Apply() {
    if (!m_bObjectSet || !m_pPageSite) return E_UNEXPECTED;
    if (!m_bDirty) return S_OK;
    const HRESULT hr = OnApplyChanges();
    if (SUCCEEDED(hr)) m_bDirty = false;
    return hr;
}

void CBasePropertyPage::SetDirty() {
    m_bDirty = true;
    if (m_pPageSite) m_pPageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
}
