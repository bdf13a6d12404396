#include "platform/graphviz/component.h"

#include "platform/dshow/base/factory.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace kavro::graphviz {

std::string to_utf8(const wchar_t* text) {
    std::string out;
    for (const wchar_t* p = text; *p; ++p) {
        auto c = static_cast<std::uint32_t>(*p);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = '?';
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace kavro::graphviz

// ---------------------------------------------------------------------------------------------------------
// CLayoutPicture

CLayoutPicture::CLayoutPicture(std::string jpeg) : CUnknown("layout picture", nullptr), m_jpeg(std::move(jpeg)) {}

HRESULT CLayoutPicture::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_ILayoutPicture) return GetInterface(static_cast<ILayoutPicture*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

HRESULT CLayoutPicture::Save(const wchar_t* path) {
    if (!path) return E_POINTER;
    const std::string name = kavro::graphviz::to_utf8(path);
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return E_FAIL;
    const bool written = std::fwrite(m_jpeg.data(), 1, m_jpeg.size(), f) == m_jpeg.size();
    const bool closed = std::fclose(f) == 0;
    return written && closed ? S_OK : E_FAIL;
}

HRESULT CLayoutPicture::GetBytes(BYTE* data, ULONG capacity, ULONG* bytes) {
    if (!bytes) return E_POINTER;
    *bytes = ULONG(m_jpeg.size());
    if (!data) return S_OK;
    if (capacity < m_jpeg.size()) return E_NOT_SUFFICIENT_BUFFER;
    std::memcpy(data, m_jpeg.data(), m_jpeg.size());
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------------
// CGraphLayout

CUnknown* CGraphLayout::CreateInstance(IUnknown* outer, HRESULT* phr) {
    CUnknown* object = new (std::nothrow)
        CGraphLayout(outer, kavro::graphviz::LayoutProcess::default_worker_path(), kavro::graphviz::LayoutLimits{});
    if (!object && phr) *phr = E_OUTOFMEMORY;
    return object;
}

CGraphLayout::CGraphLayout(IUnknown* outer, std::string worker, kavro::graphviz::LayoutLimits limits)
    : CUnknown("WinGraphviz", outer), m_process(std::move(worker), limits) {
    // Graphviz takes a moment to load: the worker starts now, while its user is still being set up.
    m_process.prestart();
}

HRESULT CGraphLayout::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IGraphLayout) return GetInterface(static_cast<IGraphLayout*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

HRESULT CGraphLayout::ToJPEG(const wchar_t* dot, ILayoutPicture** picture) {
    if (!picture) return E_POINTER;
    *picture = nullptr;
    if (!dot) return E_POINTER;
    std::string jpeg, message;
    const auto result = m_process.draw(kavro::graphviz::to_utf8(dot), &jpeg, &message);
    using kavro::graphviz::LayoutResult;
    if (result != LayoutResult::Ok) {
        std::fprintf(stderr, "WinGraphviz: %s: %s\n", kavro::graphviz::to_string(result), message.c_str());
        return result == LayoutResult::NotDot ? E_INVALIDARG : E_FAIL;
    }
    auto* p = new (std::nothrow) CLayoutPicture(std::move(jpeg));
    if (!p) return E_OUTOFMEMORY;
    return p->NonDelegatingQueryInterface(IID_ILayoutPicture, reinterpret_cast<void**>(picture));
}
