// Property pages and the property frame that shows them.
//
// An object that has settings names its pages through ISpecifyPropertyPages (platform/com/property_pages.h);
// each page is a COM class (usually in the object's own plug-in) that implements IPropertyPage. The property
// frame creates the pages by CLSID, hands each one the objects, shows the pages as child dialogs in a dialog
// of its own with the buttons OK, Cancel and Apply, and talks to each page through the page site it gives it.
//
// The frame and its pages run on one thread: the one that opens the frame and owns its window. Every
// IPropertyPage and IPropertyPageSite call is made on that thread.
//
// What the buttons do: Apply calls IPropertyPage::Apply on every page that says it is dirty and is greyed
// again; OK does the same and closes; Cancel (also Esc and the close box) closes without applying. Apply is
// greyed until a page reports PROPPAGESTATUS_DIRTY through its site. With several pages, a row of buttons
// named after the pages' titles switches between them: the shown page is active, the others are not.
#pragma once

#include "platform/com/com.h"
#include "platform/ui/ui.h"

#include <string>
#include <vector>

inline constexpr IID IID_IPropertyPage = make_guid("B196B28D-BAB4-101A-B69C-00AA00341D07");
inline constexpr IID IID_IPropertyPageSite = make_guid("B196B28C-BAB4-101A-B69C-00AA00341D07");

inline constexpr DWORD PROPPAGESTATUS_DIRTY = 0x1;
inline constexpr DWORD PROPPAGESTATUS_VALIDATE = 0x2;
inline constexpr DWORD PROPPAGESTATUS_CLEAN = 0x4;

struct SIZE {
    LONG cx, cy;
};

// What a page tells about itself. pszTitle is CoTaskMemAlloc'ed (the caller frees it); the other texts may be
// null. The size is the page's client size in pixels.
struct PROPPAGEINFO {
    ULONG cb;
    char* pszTitle;
    SIZE size;
    char* pszDocString;
    char* pszHelpFile;
    DWORD dwHelpContext;
};

// The frame's side, one per page.
struct IPropertyPageSite : IUnknown {
    // The page changed: PROPPAGESTATUS_DIRTY makes the frame's Apply available.
    virtual HRESULT OnStatusChange(DWORD flags) = 0;                 // place 3
    virtual HRESULT GetLocaleID(DWORD* locale) = 0;                  // place 4: 0x0409
    virtual HRESULT GetPageContainer(IUnknown** container) = 0;      // place 5: E_NOTIMPL
    virtual HRESULT TranslateAccelerator(kavro::ui::Msg* msg) = 0;   // place 6: S_FALSE (not handled)

protected:
    ~IPropertyPageSite() = default;
};

struct IPropertyPage : IUnknown {
    // The site to report to; null releases it.
    virtual HRESULT SetPageSite(IPropertyPageSite* site) = 0;                                  // place 3
    // Creates the page's window as a child of `parent` at `rect` (pixels, parent client coordinates).
    virtual HRESULT Activate(kavro::ui::Hwnd parent, const kavro::ui::Rect* rect, BOOL modal) = 0; // place 4
    // Destroys the page's window.
    virtual HRESULT Deactivate() = 0;                                                          // place 5
    virtual HRESULT GetPageInfo(PROPPAGEINFO* info) = 0;                                       // place 6
    // The objects the page shows (count 1), or none (count 0: the page lets go of them).
    virtual HRESULT SetObjects(ULONG count, IUnknown** objects) = 0;                           // place 7
    virtual HRESULT Show(unsigned show_command) = 0;                                           // place 8
    virtual HRESULT Move(const kavro::ui::Rect* rect) = 0;                                     // place 9
    // S_OK when the page has changes not yet applied, else S_FALSE.
    virtual HRESULT IsPageDirty() = 0;                                                         // place 10
    // Writes the page's changes to the objects.
    virtual HRESULT Apply() = 0;                                                               // place 11
    virtual HRESULT Help(const char* help_dir) = 0;                                            // place 12
    virtual HRESULT TranslateAccelerator(kavro::ui::Msg* msg) = 0;                             // place 13

protected:
    ~IPropertyPage() = default;
};

namespace kavro::ui {

// A property frame shown without a modal loop (tools and tests drive it through the window model).
class PropertyFrame {
public:
    PropertyFrame() = default;
    ~PropertyFrame(); // closes the frame when it is still open
    PropertyFrame(const PropertyFrame&) = delete;
    PropertyFrame& operator=(const PropertyFrame&) = delete;

    // Creates the pages, gives them the objects and shows the frame at (x, y) on screen with the caption
    // "<caption> Properties". A page that cannot be created or refuses the objects is left out (a line on
    // stderr). Fails with that page's result when no page is left, E_INVALIDARG without objects or pages,
    // E_UNEXPECTED when already open.
    HRESULT open(Hwnd owner, int x, int y, const std::string& caption, std::vector<IUnknown*> objects,
                 std::vector<CLSID> pages);
    // The frame's dialog; null when closed.
    Hwnd hwnd() const;
    // The window of the page shown now, for tests and tools.
    Hwnd page_window() const;
    std::size_t page_count() const;
    // True while the frame is open; the OK and Cancel buttons and the close box close it.
    bool is_open() const;

    // Set by the last OK or Cancel: whether the frame closed with OK.
    bool closed_with_ok() const { return ok_; }
    // When the frame closes, WM_NULL is posted to this window, so that a loop waiting for messages wakes up.
    void wake_on_close(Hwnd w);

    struct State; // the frame's pages and sites (property_frame.cpp)

private:
    State* state_ = nullptr;
    bool ok_ = false;
};

// The counterpart of the platform's OleCreatePropertyFrame: a modal property frame over the objects, with
// the given pages, owned by `owner`; returns when it is closed (S_OK), or the failure of PropertyFrame::open.
HRESULT OleCreatePropertyFrame(Hwnd owner, int x, int y, const char* caption, ULONG object_count,
                               IUnknown** objects, ULONG page_count, const CLSID* pages, DWORD locale = 0);

// The pages an object names through ISpecifyPropertyPages, shown in a modal frame; S_FALSE when it names none,
// E_NOINTERFACE when it has no such interface.
HRESULT show_property_pages(Hwnd owner, IUnknown* object, const std::string& caption);

// Frame control identifiers (IDOK and IDCANCEL are the platform's).
inline constexpr int IDC_FRAME_APPLY = 0x3021;
inline constexpr int IDC_FRAME_PAGE_AREA = 0x3020;
inline constexpr int IDC_FRAME_FIRST_TAB = 0x3030;

} // namespace kavro::ui
