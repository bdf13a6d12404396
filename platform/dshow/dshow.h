// The video platform: what each header offers.
//
//   platform/com/com.h              GUID, make_guid, guid_to_string/guid_from_string, HRESULTs, IUnknown,
//                                   IClassFactory, BOOL/DWORD/BYTE
//   platform/com/com_ptr.h          ComPtr<T>
//   platform/com/runtime.h          CoCreateInstance, CoTaskMemAlloc/Free, the built-in class table
//                                   (kavro::com::register_builtin_class, KAVRO_BUILTIN_CLASS)
//   platform/com/rect.h             RECT
//   platform/registry/registry.h    the registry (keys, string and number values)
//
//   platform/dshow/types.h          AM_MEDIA_TYPE, VIDEOINFOHEADER/VIDEOINFO, BITMAPINFOHEADER, media type and
//                                   format GUIDs, PIN_INFO/FILTER_INFO, Quality, ALLOCATOR_PROPERTIES,
//                                   VFW_* results, merits, FreeMediaType/CreateMediaType/GetBitmapSize
//   platform/dshow/interfaces.h     IBaseFilter, IMediaFilter, IPin, IEnumPins, IEnumMediaTypes, IMediaSample,
//                                   IMemAllocator, IMemInputPin, IReferenceClock, IQualityControl,
//                                   IFilterGraph, IGraphBuilder, IEnumFilters
//   platform/dshow/builder.h        IMediaControl, ICaptureGraphBuilder2, ICreateDevEnum, IEnumMoniker,
//                                   IMoniker, IPropertyBag; CLSIDs of graph, builder, enumerator, clock
//   platform/dshow/grabber.h        ISampleGrabber, ISampleGrabberCB; CLSIDs of grabber and null renderer
//   platform/dshow/video_window.h   IVideoWindow, the "Video Renderer" CLSID, the video frame sink
//   platform/dshow/graph_file.h     the graph file writer
//
//   Base classes (static library kavro_dshow_base, linked into each plug-in):
//   platform/dshow/base/unknown.h   CUnknown (aggregation), CBaseObject, DECLARE_IUNKNOWN, CCritSec, CAutoLock
//   platform/dshow/base/mtype.h     CMediaType
//   platform/dshow/base/allocator.h CMediaSample, CMemAllocator
//   platform/dshow/base/pins.h      CBasePin, CBaseOutputPin, CBaseInputPin
//   platform/dshow/base/filter.h    CBaseFilter
//   platform/dshow/base/source.h    CSource, CSourceStream (worker thread)
//   platform/dshow/base/renderer.h  CBaseRendererInputPin (display pacing), CBaseRenderer
//   platform/dshow/base/factory.h   CClassFactory, CFactoryTemplate, AMOVIESETUP_*, AMovieDllRegisterServer2,
//                                   KAVRO_DSHOW_PLUGIN_EXPORTS
//
// Libraries: kavro_com and kavro_registry (shared, once per process), kavro_dshow (shared: graph, builders,
// enumerator, renderers, grabber; registers them as built-in classes), kavro_dshow_base (static).
#pragma once

#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/dshow/builder.h"
#include "platform/dshow/grabber.h"
#include "platform/dshow/graph_file.h"
#include "platform/dshow/interfaces.h"
#include "platform/dshow/types.h"
#include "platform/dshow/video_window.h"
