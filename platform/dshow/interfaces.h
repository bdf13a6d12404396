// The filter interfaces, methods in table order (places 0 to 2 are IUnknown's).
// Only interfaces and plain records from types.h cross filter boundaries.
#pragma once

#include "platform/com/com.h"
#include "platform/dshow/types.h"

inline constexpr IID IID_IPersist = make_guid("0000010C-0000-0000-C000-000000000046");
inline constexpr IID IID_IMediaFilter = make_guid("56A86899-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IBaseFilter = make_guid("56A86895-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IPin = make_guid("56A86891-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IEnumPins = make_guid("56A86892-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IEnumFilters = make_guid("56A86893-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IEnumMediaTypes = make_guid("89C31040-846B-11CE-97D3-00AA0055595A");
inline constexpr IID IID_IReferenceClock = make_guid("56A86897-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaSample = make_guid("56A8689A-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMemAllocator = make_guid("56A8689C-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMemInputPin = make_guid("56A8689D-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IQualityControl = make_guid("56A868A5-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IFilterGraph = make_guid("56A8689F-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IGraphBuilder = make_guid("56A868A9-0AD4-11CE-B03A-0020AF0BA770");

struct IPin;
struct IBaseFilter;
struct IMediaSample;
struct IMemAllocator;

struct IPersist : IUnknown {
    virtual HRESULT GetClassID(CLSID* clsid) = 0; // 3

protected:
    ~IPersist() = default;
};

struct IReferenceClock : IUnknown {
    virtual HRESULT GetTime(REFERENCE_TIME* time) = 0; // 3: monotonic, 100-ns units

protected:
    ~IReferenceClock() = default;
};

struct IMediaFilter : IPersist {
    virtual HRESULT Stop() = 0;                                        // 4
    virtual HRESULT Pause() = 0;                                       // 5
    virtual HRESULT Run(REFERENCE_TIME tStart) = 0;                    // 6: stream time 0 = clock time tStart
    virtual HRESULT GetState(DWORD msTimeout, FILTER_STATE* state) = 0; // 7
    virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;         // 8
    virtual HRESULT GetSyncSource(IReferenceClock** clock) = 0;        // 9

protected:
    ~IMediaFilter() = default;
};

struct IEnumPins : IUnknown {
    virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0; // 3: S_FALSE when fewer
    virtual HRESULT Skip(ULONG count) = 0;                             // 4
    virtual HRESULT Reset() = 0;                                       // 5
    virtual HRESULT Clone(IEnumPins** copy) = 0;                       // 6

protected:
    ~IEnumPins() = default;
};

struct IEnumMediaTypes : IUnknown {
    // Each returned type is CoTaskMemAlloc'ed: free it with DeleteMediaType.
    virtual HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0; // 3
    virtual HRESULT Skip(ULONG count) = 0;                                       // 4
    virtual HRESULT Reset() = 0;                                                 // 5
    virtual HRESULT Clone(IEnumMediaTypes** copy) = 0;                           // 6

protected:
    ~IEnumMediaTypes() = default;
};

struct IFilterGraph;

struct IBaseFilter : IMediaFilter {
    virtual HRESULT EnumPins(IEnumPins** pins) = 0;                               // 10
    virtual HRESULT FindPin(const char* id, IPin** pin) = 0;                      // 11
    virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;                       // 12
    virtual HRESULT JoinFilterGraph(IFilterGraph* graph, const char* name) = 0;   // 13
    virtual HRESULT QueryVendorInfo(char** info) = 0;                             // 14

protected:
    ~IBaseFilter() = default;
};

struct IPin : IUnknown {
    virtual HRESULT Connect(IPin* receive, const AM_MEDIA_TYPE* mt) = 0;          // 3: output pins
    virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) = 0; // 4: input pins
    virtual HRESULT Disconnect() = 0;                                             // 5: this side only
    virtual HRESULT ConnectedTo(IPin** pin) = 0;                                  // 6: VFW_E_NOT_CONNECTED
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) = 0;                   // 7
    virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;                             // 8
    virtual HRESULT QueryDirection(PIN_DIRECTION* dir) = 0;                       // 9
    virtual HRESULT QueryId(char** id) = 0;                                       // 10: CoTaskMemAlloc'ed
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* mt) = 0;                     // 11
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** types) = 0;                  // 12
    virtual HRESULT QueryInternalConnections(IPin** pins, ULONG* count) = 0;      // 13
    virtual HRESULT EndOfStream() = 0;                                            // 14
    virtual HRESULT BeginFlush() = 0;                                             // 15
    virtual HRESULT EndFlush() = 0;                                               // 16
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0; // 17

protected:
    ~IPin() = default;
};

struct IMediaSample : IUnknown {
    virtual HRESULT GetPointer(BYTE** buffer) = 0;                               // 3
    virtual LONG GetSize() = 0;                                                  // 4: the buffer's size
    // S_OK, VFW_S_NO_STOP_TIME (stop = start + 1), or VFW_E_SAMPLE_TIME_NOT_SET.
    virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;   // 5
    virtual HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;   // 6: null start clears
    virtual HRESULT IsSyncPoint() = 0;                                           // 7: S_OK / S_FALSE
    virtual HRESULT SetSyncPoint(BOOL sync) = 0;                                 // 8
    virtual HRESULT IsPreroll() = 0;                                             // 9
    virtual HRESULT SetPreroll(BOOL preroll) = 0;                                // 10
    virtual LONG GetActualDataLength() = 0;                                      // 11
    virtual HRESULT SetActualDataLength(LONG length) = 0;                        // 12
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE** mt) = 0;                        // 13: S_FALSE when unchanged
    virtual HRESULT SetMediaType(AM_MEDIA_TYPE* mt) = 0;                         // 14
    virtual HRESULT IsDiscontinuity() = 0;                                       // 15
    virtual HRESULT SetDiscontinuity(BOOL discontinuity) = 0;                    // 16
    virtual HRESULT GetMediaTime(std::int64_t* start, std::int64_t* end) = 0;    // 17
    virtual HRESULT SetMediaTime(std::int64_t* start, std::int64_t* end) = 0;    // 18

protected:
    ~IMediaSample() = default;
};

struct IMemAllocator : IUnknown {
    virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0; // 3
    virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) = 0;                                // 4
    virtual HRESULT Commit() = 0;                                                                   // 5
    virtual HRESULT Decommit() = 0; // 6: wakes GetBuffer waiters with VFW_E_NOT_COMMITTED
    // Blocks until a buffer is free (flags bit 1 = AM_GBF_NOWAIT: fail at once instead).
    virtual HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                              DWORD flags) = 0;           // 7
    virtual HRESULT ReleaseBuffer(IMediaSample* sample) = 0; // 8

protected:
    ~IMemAllocator() = default;
};
inline constexpr DWORD AM_GBF_NOWAIT = 4;

struct IMemInputPin : IUnknown {
    virtual HRESULT GetAllocator(IMemAllocator** allocator) = 0;                     // 3
    virtual HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) = 0;    // 4
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) = 0;       // 5: E_NOTIMPL = none
    // Takes the sample; a renderer may block here until the sample's time (this is what paces sources).
    virtual HRESULT Receive(IMediaSample* sample) = 0;                               // 6
    virtual HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) = 0; // 7
    virtual HRESULT ReceiveCanBlock() = 0;                                           // 8

protected:
    ~IMemInputPin() = default;
};

// Output pins answer it: downstream sends quality messages upstream through the connected pin.
struct IQualityControl : IUnknown {
    virtual HRESULT Notify(IBaseFilter* self, Quality q) = 0; // 3
    virtual HRESULT SetSink(IQualityControl* sink) = 0;       // 4

protected:
    ~IQualityControl() = default;
};

struct IEnumFilters : IUnknown {
    virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0; // 3
    virtual HRESULT Skip(ULONG count) = 0;                                       // 4
    virtual HRESULT Reset() = 0;                                                 // 5
    virtual HRESULT Clone(IEnumFilters** copy) = 0;                              // 6

protected:
    ~IEnumFilters() = default;
};

struct IFilterGraph : IUnknown {
    // A name already in the graph gets " 0001", " 0002"... appended (VFW_S_DUPLICATE_NAME).
    virtual HRESULT AddFilter(IBaseFilter* filter, const char* name) = 0;                     // 3
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;                                    // 4
    virtual HRESULT EnumFilters(IEnumFilters** filters) = 0;                                  // 5
    virtual HRESULT FindFilterByName(const char* name, IBaseFilter** filter) = 0;             // 6
    virtual HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) = 0;          // 7
    virtual HRESULT Reconnect(IPin* pin) = 0;                                                 // 8
    virtual HRESULT Disconnect(IPin* pin) = 0;                                                // 9
    virtual HRESULT SetDefaultSyncSource() = 0;                                               // 10

protected:
    ~IFilterGraph() = default;
};

struct IGraphBuilder : IFilterGraph {
    // Direct connection first; failing that, through one registered intermediate filter (merit above
    // MERIT_DO_NOT_USE) that accepts the output's types.
    virtual HRESULT Connect(IPin* out, IPin* in) = 0; // 11
    // Connects the output pin to the graph's renderer, adding a "Video Renderer" when none has a free input.
    virtual HRESULT Render(IPin* out) = 0; // 12

protected:
    ~IGraphBuilder() = default;
};
