// Building and running graphs: the filter graph manager (IGraphBuilder, IMediaControl), the capture graph
// builder, the system device enumerator, and the reference clock. All are built-in classes of kavro_dshow,
// created with CoCreateInstance.
#pragma once

#include "platform/dshow/interfaces.h"

inline constexpr CLSID CLSID_FilterGraph = make_guid("E436EBB3-524F-11CE-9F53-0020AF0BA770");
inline constexpr CLSID CLSID_CaptureGraphBuilder2 = make_guid("BF87B6E1-8C27-11D0-B3F0-00AA003761C5");
inline constexpr CLSID CLSID_SystemDeviceEnum = make_guid("62BE5D10-60EB-11D0-BD3B-00A0C911CE86");
inline constexpr CLSID CLSID_SystemClock = make_guid("E436EBB1-524F-11CE-9F53-0020AF0BA770");

inline constexpr IID IID_IMediaControl = make_guid("56A868B1-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_ICaptureGraphBuilder2 = make_guid("93E5A4E0-2D50-11D2-ABFA-00A0C9C6E38D");
inline constexpr IID IID_ICreateDevEnum = make_guid("29840822-5B84-11D0-BD3B-00A0C911CE86");
inline constexpr IID IID_IEnumMoniker = make_guid("00000102-0000-0000-C000-000000000046");
inline constexpr IID IID_IMoniker = make_guid("0000000F-0000-0000-C000-000000000046");
inline constexpr IID IID_IPropertyBag = make_guid("55272A00-42CB-11CE-8135-00AA004BB851");

// The graph's media control. State changes go from the renderers upstream. Run from stopped pauses first;
// stream time 0 is the clock time at Run (plus a small start-up margin).
struct IMediaControl : IUnknown {
    virtual HRESULT Run() = 0;   // 3
    virtual HRESULT Pause() = 0; // 4
    virtual HRESULT Stop() = 0;  // 5
    // Waits up to msTimeout for the filters to reach the state; VFW_S_STATE_INTERMEDIATE when not yet.
    virtual HRESULT GetState(LONG msTimeout, OAFilterState* state) = 0; // 6
    // Pauses, waits (bounded) until the renderers hold a frame, then stops.
    virtual HRESULT StopWhenReady() = 0; // 7

protected:
    ~IMediaControl() = default;
};

struct ICaptureGraphBuilder2 : IUnknown {
    virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;  // 3
    virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0; // 4
    // Connects an unconnected output pin of the source (of the media type when given; category is not
    // examined) to the intermediate filter and the intermediate to the sink, or the source straight to
    // the sink when there is no intermediate; with no sink, renders into the graph's renderer.
    virtual HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                 IBaseFilter* intermediate, IBaseFilter* sink) = 0; // 5
    // The num-th pin (from 0) of the filter with that direction (and media type when given; category is
    // not examined), unconnected ones only when asked. E_FAIL when there is none.
    virtual HRESULT FindPin(IUnknown* filter, PIN_DIRECTION direction, const GUID* category, const GUID* type,
                            BOOL unconnected, int num, IPin** pin) = 0; // 6

protected:
    ~ICaptureGraphBuilder2() = default;
};

// A property bag holds text properties ("FriendlyName", "CLSID"). Read copies the UTF-8 text with its
// terminating NUL into value; E_NOT_SUFFICIENT_BUFFER when capacity is too small, E_INVALIDARG when absent.
struct IPropertyBag : IUnknown {
    virtual HRESULT Read(const char* name, char* value, ULONG capacity) = 0; // 3

protected:
    ~IPropertyBag() = default;
};

// A registered filter. bindContext and left are not used (pass null).
struct IMoniker : IUnknown {
    virtual HRESULT BindToObject(void* bindContext, IMoniker* left, REFIID iid, void** object) = 0;  // 3
    virtual HRESULT BindToStorage(void* bindContext, IMoniker* left, REFIID iid, void** object) = 0; // 4

protected:
    ~IMoniker() = default;
};

struct IEnumMoniker : IUnknown {
    virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0; // 3
    virtual HRESULT Skip(ULONG count) = 0;                                     // 4
    virtual HRESULT Reset() = 0;                                               // 5
    virtual HRESULT Clone(IEnumMoniker** copy) = 0;                            // 6

protected:
    ~IEnumMoniker() = default;
};

// The system device enumerator. CreateClassEnumerator lists the filters registered in a category
// (CLSID_LegacyAmFilterCategory) in registration order: the order in which they were first registered (a
// filter registered again keeps its place). For an empty category it returns S_FALSE and a null enumerator.
struct ICreateDevEnum : IUnknown {
    virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers, DWORD flags) = 0; // 3

protected:
    ~ICreateDevEnum() = default;
};

namespace kavro::dshow {
// Registers the graph, builders, enumerator, clock, renderers and grabber as built-in classes. Done when
// kavro_dshow is loaded; calling it again does no harm.
KAVRO_DSHOW_API void register_builtin_classes();
// Lists the sample grabber ("SampleGrabber") and the null renderer ("Null Renderer") in the registry's filter
// category, as the system lists its own filters, so that programs find them by friendly name (merit
// "do not use": graph building never inserts them). Entries already there are left as they are. Answers
// whether both are listed afterwards.
KAVRO_DSHOW_API bool register_builtin_filters();
} // namespace kavro::dshow
