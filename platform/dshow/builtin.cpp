#include "platform/com/runtime.h"
#include "platform/dshow/builder.h"
#include "platform/dshow/grabber.h"
#include "platform/dshow/internal.h"
#include "platform/dshow/jpeg_decoder.h"
#include "platform/dshow/video_window.h"

namespace kavro::dshow {

void register_builtin_classes() {
    using kavro::com::register_builtin_class;
    register_builtin_class(CLSID_SystemClock, create_system_clock);
    register_builtin_class(CLSID_FilterGraph, create_filter_graph);
    register_builtin_class(CLSID_CaptureGraphBuilder2, create_capture_graph_builder);
    register_builtin_class(CLSID_SystemDeviceEnum, create_device_enum);
    register_builtin_class(CLSID_NullRenderer, create_null_renderer);
    register_builtin_class(CLSID_VideoRenderer, create_video_renderer);
    register_builtin_class(CLSID_SampleGrabber, create_sample_grabber);
    register_builtin_class(CLSID_JpegDecoder, create_jpeg_decoder);
}

std::span<const BuiltinFilterRegistration> builtin_filter_registrations() {
    static const BuiltinFilterRegistration filters[] = {
        {kJpegDecoderName, CLSID_JpegDecoder, MERIT_NORMAL},
    };
    return filters;
}

namespace {
[[maybe_unused]] const bool registered = (register_builtin_classes(), true);
}

} // namespace kavro::dshow
