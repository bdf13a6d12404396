// CBasePropertyPage: a property page whose window is a dialog of the plug-in's resources, shown as a child of
// the property frame (platform/ui/property_frame.h). A page class derives from it and overrides the hooks.
//
// A plug-in with pages describes its resources, as a resource script would, by defining ModuleResources():
// the dialog templates and strings its pages name by identifier.
//
// Threads and order: every call (IPropertyPage methods and the hooks) comes on the thread that runs the
// property frame, which also owns the page's dialog. The frame calls SetPageSite, SetObjects(1) -> OnConnect,
// GetPageInfo, Activate -> dialog created (WM_INITDIALOG reaches OnReceiveMessage) -> OnActivate, then
// messages of the dialog -> OnReceiveMessage; Apply -> OnApplyChanges (only while dirty); Deactivate ->
// OnDeactivate -> dialog destroyed; SetObjects(0) -> OnDisconnect; SetPageSite(null). No lock is taken: the
// page belongs to that one thread.
#pragma once

#include "platform/dshow/base/unknown.h"
#include "platform/ui/property_frame.h"

#include <map>
#include <string>
#include <vector>

// The resources of a plug-in's pages.
struct CModuleResources {
    std::vector<kavro::ui::DialogTemplate> dialogs; // found by DialogTemplate::id
    std::map<int, std::string> strings;
};
// Defined by each plug-in that has property pages.
const CModuleResources& ModuleResources();

class CBasePropertyPage : public IPropertyPage, public CUnknown {
public:
    // dialogId and titleId name the page's dialog template and its title string in ModuleResources().
    CBasePropertyPage(const char* name, IUnknown* outer, int dialogId, int titleId);
    ~CBasePropertyPage() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override; // IPropertyPage, IUnknown

    // IPropertyPage.
    // A site when none is held: kept (S_OK); null when one is held: released (S_OK); otherwise E_UNEXPECTED.
    HRESULT SetPageSite(IPropertyPageSite* site) override;
    // Creates the dialog as a child of parent (E_UNEXPECTED when it exists, E_POINTER without rect, E_FAIL
    // when the template is missing), then OnActivate (its failure destroys the dialog and is returned), then
    // moves it to rect and shows it.
    HRESULT Activate(kavro::ui::Hwnd parent, const kavro::ui::Rect* rect, BOOL modal) override;
    // OnDeactivate (its failure is returned and the dialog stays), then destroys the dialog. E_UNEXPECTED
    // when there is none.
    HRESULT Deactivate() override;
    // Title (CoTaskMemAlloc'ed copy of the title string) and the dialog's size in pixels. E_POINTER on null,
    // E_OUTOFMEMORY when the copy cannot be made.
    HRESULT GetPageInfo(PROPPAGEINFO* info) override;
    // count 1: OnConnect(objects[0]) and its result; count 0: OnDisconnect; other counts: E_UNEXPECTED.
    HRESULT SetObjects(ULONG count, IUnknown** objects) override;
    // SW_SHOW, SW_SHOWNORMAL or SW_HIDE only (else E_INVALIDARG); E_UNEXPECTED without a dialog.
    HRESULT Show(unsigned show_command) override;
    HRESULT Move(const kavro::ui::Rect* rect) override;
    HRESULT IsPageDirty() override { return m_bDirty ? S_OK : S_FALSE; }
    // Not connected or no site: E_UNEXPECTED. Not dirty: S_OK at once. Otherwise OnApplyChanges; on success
    // the page is clean again.
    HRESULT Apply() override;
    HRESULT Help(const char*) override { return E_NOTIMPL; }
    HRESULT TranslateAccelerator(kavro::ui::Msg*) override { return E_NOTIMPL; }

protected:
    // Hooks (see the order above). Each returns S_OK by default.
    // OnConnect: the object the page is to show; a failure makes the frame leave the page out.
    virtual HRESULT OnConnect(IUnknown*) { return S_OK; }
    // OnDisconnect: release whatever OnConnect took.
    virtual HRESULT OnDisconnect() { return S_OK; }
    // OnActivate: the dialog exists (m_Dlg); fill its controls. A failure ends the activation.
    virtual HRESULT OnActivate() { return S_OK; }
    // OnDeactivate: the dialog is about to go; read back what must survive it. A failure keeps it.
    virtual HRESULT OnDeactivate() { return S_OK; }
    // OnApplyChanges: write the page's values to the object (the frame's OK and Apply, while dirty).
    virtual HRESULT OnApplyChanges() { return S_OK; }
    // OnReceiveMessage: every message of the page's dialog, WM_INITDIALOG included; nonzero when handled
    // (the default dialog handling is then skipped). The default handles nothing.
    virtual kavro::ui::LRESULT OnReceiveMessage(kavro::ui::Hwnd, unsigned, kavro::ui::WPARAM, kavro::ui::LPARAM) {
        return 0;
    }

    // Marks the page dirty and tells the site (PROPPAGESTATUS_DIRTY).
    void SetDirty();

    kavro::ui::Hwnd m_Dlg;               // the page's dialog while active
    kavro::ui::Hwnd m_hwnd;              // same as m_Dlg (the platform's two names for it)
    IPropertyPageSite* m_pPageSite = nullptr;
    bool m_bDirty = false;
    bool m_bObjectSet = false;

private:
    const kavro::ui::DialogTemplate* Template() const;

    int m_DialogId;
    int m_TitleId;
};
