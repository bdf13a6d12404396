#include "platform/com/runtime.h"

#include <algorithm>
#include <iterator>
#include <string>
#include "platform/dshow/builder.h"
#include "platform/dshow/grabber.h"
#include "platform/dshow/internal.h"
#include "platform/dshow/jpeg_decoder.h"
#include "platform/dshow/video_window.h"
#include "platform/registry/registry.h"

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

bool register_builtin_filters() {
    struct Entry {
        const char* name;
        CLSID clsid;
    };
    static const Entry entries[] = {{"SampleGrabber", CLSID_SampleGrabber}, {"Null Renderer", CLSID_NullRenderer}};
    const std::string base =
        "SOFTWARE\\Classes\\CLSID\\" + guid_to_string(CLSID_LegacyAmFilterCategory) + "\\Instance\\";
    return kavro::registry::transaction([&](kavro::registry::Editor& reg) {
        bool changed = false;
        for (const Entry& e : entries) {
            const std::string key = base + guid_to_string(e.clsid);
            if (reg.get_string(key, "FriendlyName") == std::string(e.name)) continue;
            reg.set_string(key, "FriendlyName", e.name);
            reg.set_string(key, "CLSID", guid_to_string(e.clsid));
            reg.set_number(key, "Merit", MERIT_DO_NOT_USE);
            changed = true;
        }
        return changed;
    }) || std::all_of(std::begin(entries), std::end(entries), [&](const Entry& e) {
        return kavro::registry::get_string(base + guid_to_string(e.clsid), "FriendlyName") == std::string(e.name);
    });
}

namespace {
[[maybe_unused]] const bool registered = (register_builtin_classes(), true);
}

} // namespace kavro::dshow
