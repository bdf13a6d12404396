// Property pages: how an object names the pages that show its settings. The pages themselves
// (IPropertyPage and the property frame) live with the window system's dialogs.
#pragma once

#include "platform/com/com.h"

inline constexpr IID IID_ISpecifyPropertyPages = make_guid("B196B28B-BAB4-101A-B69C-00AA00341D07");

// A counted array of GUIDs; pElems is a CoTaskMemAlloc'ed block that the caller frees with CoTaskMemFree.
struct CAUUID {
    ULONG cElems;
    GUID* pElems;
};

struct ISpecifyPropertyPages : IUnknown {
    // Fills pages with the CLSIDs of the object's property pages. Null: E_POINTER; no memory: E_OUTOFMEMORY.
    virtual HRESULT GetPages(CAUUID* pages) = 0; // place 3

protected:
    ~ISpecifyPropertyPages() = default;
};
