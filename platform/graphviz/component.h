// The layout component's COM classes: CGraphLayout (IGraphLayout, created by CLSID_WinGraphviz) hands each
// drawing to its worker process and returns it as a CLayoutPicture (ILayoutPicture).
#pragma once

#include "platform/dshow/base/unknown.h"
#include "platform/graphviz/graph_layout.h"
#include "platform/graphviz/layout_process.h"

#include <memory>
#include <string>

namespace kavro::graphviz {

// Wide text to UTF-8 (code points above U+10FFFF and surrogates become '?').
std::string to_utf8(const wchar_t* text);

} // namespace kavro::graphviz

class CLayoutPicture : public ILayoutPicture, public CUnknown {
public:
    explicit CLayoutPicture(std::string jpeg);
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;

    HRESULT Save(const wchar_t* path) override;
    HRESULT GetBytes(BYTE* data, ULONG capacity, ULONG* bytes) override;

private:
    const std::string m_jpeg;
};

class CGraphLayout : public IGraphLayout, public CUnknown {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    // With another worker or limits, for tests and benchmarks.
    CGraphLayout(IUnknown* outer, std::string worker, kavro::graphviz::LayoutLimits limits);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;

    HRESULT ToJPEG(const wchar_t* dot, ILayoutPicture** picture) override;

    kavro::graphviz::LayoutProcess& Process() { return m_process; }

private:
    kavro::graphviz::LayoutProcess m_process;
};
