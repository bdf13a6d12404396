// The layout component (library WinGraphviz.dll): lays out a graph given as DOT text and draws it as a JPEG
// picture. A COM class created by CLSID; only these interfaces cross its boundary.
#pragma once

#include "platform/com/com.h"

inline constexpr CLSID CLSID_WinGraphviz = make_guid("55811839-47B0-4854-81B5-0A0031B8ACEC");
inline constexpr IID IID_IGraphLayout = make_guid("A1080582-D33F-486E-BD5F-581989A3C7E9");
inline constexpr IID IID_ILayoutPicture = make_guid("AC3D7B0F-1450-4829-98B3-F159EB0668A3");

// A drawing held as JPEG bytes. Methods in table order.
struct ILayoutPicture : IUnknown {
    // Writes the JPEG file at path (wide text). Null path: E_POINTER; the file cannot be written: E_FAIL.
    virtual HRESULT Save(const wchar_t* path) = 0; // place 3
    // The JPEG bytes: *bytes is set to their count; data may be null to ask only the count; with a buffer
    // smaller than the count nothing is copied and the result is E_NOT_SUFFICIENT_BUFFER.
    virtual HRESULT GetBytes(BYTE* data, ULONG capacity, ULONG* bytes) = 0; // place 4

protected:
    ~ILayoutPicture() = default;
};

struct IGraphLayout : IUnknown {
    // Lays out the DOT text (wide text) with the hierarchical layout and draws it as a JPEG picture.
    // S_OK with *picture set (the caller releases it). Null argument: E_POINTER; text that is not a DOT
    // graph: E_INVALIDARG; a drawing that fails, takes too long or needs too much memory: E_FAIL. On
    // failure *picture is null. Never takes its caller down: the layout runs apart from the caller.
    virtual HRESULT ToJPEG(const wchar_t* dot, ILayoutPicture** picture) = 0; // place 3

protected:
    ~IGraphLayout() = default;
};
