#include "platform/ui/error_trace.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "platform/ui/message_box.h"

namespace kavro::ui {

namespace {

struct Names {
    std::mutex lock;
    std::map<std::uint32_t, std::string> names{
        {0x00000000u, "S_OK"},
        {0x00000001u, "S_FALSE"},
        {0x80004001u, "E_NOTIMPL"},
        {0x80004002u, "E_NOINTERFACE"},
        {0x80004003u, "E_POINTER"},
        {0x80004004u, "E_ABORT"},
        {0x80004005u, "E_FAIL"},
        {0x8000FFFFu, "E_UNEXPECTED"},
        {0x80070005u, "E_ACCESSDENIED"},
        {0x80070006u, "E_HANDLE"},
        {0x8007000Eu, "E_OUTOFMEMORY"},
        {0x80070057u, "E_INVALIDARG"},
        {0x80040110u, "CLASS_E_NOAGGREGATION"},
        {0x80040111u, "CLASS_E_CLASSNOTAVAILABLE"},
        {0x80040154u, "REGDB_E_CLASSNOTREG"},
        {0x800401F0u, "CO_E_NOTINITIALIZED"},
        {0x80040200u, "VFW_E_INVALIDMEDIATYPE"},
        {0x80040201u, "VFW_E_INVALIDSUBTYPE"},
        {0x80040202u, "VFW_E_NEED_OWNER"},
        {0x80040203u, "VFW_E_ENUM_OUT_OF_SYNC"},
        {0x80040204u, "VFW_E_ALREADY_CONNECTED"},
        {0x80040205u, "VFW_E_FILTER_ACTIVE"},
        {0x80040206u, "VFW_E_NO_TYPES"},
        {0x80040207u, "VFW_E_NO_ACCEPTABLE_TYPES"},
        {0x80040208u, "VFW_E_INVALID_DIRECTION"},
        {0x80040209u, "VFW_E_NOT_CONNECTED"},
        {0x8004020Au, "VFW_E_NO_ALLOCATOR"},
        {0x8004020Bu, "VFW_E_RUNTIME_ERROR"},
        {0x8004020Cu, "VFW_E_BUFFER_NOTSET"},
        {0x8004020Du, "VFW_E_BUFFER_OVERFLOW"},
        {0x8004020Eu, "VFW_E_BADALIGN"},
        {0x8004020Fu, "VFW_E_ALREADY_COMMITTED"},
        {0x80040210u, "VFW_E_BUFFERS_OUTSTANDING"},
        {0x80040211u, "VFW_E_NOT_COMMITTED"},
        {0x80040212u, "VFW_E_SIZENOTSET"},
        {0x80040213u, "VFW_E_NO_CLOCK"},
        {0x80040214u, "VFW_E_NO_SINK"},
        {0x80040215u, "VFW_E_NO_INTERFACE"},
        {0x80040216u, "VFW_E_NOT_FOUND"},
        {0x80040217u, "VFW_E_CANNOT_CONNECT"},
        {0x80040218u, "VFW_E_CANNOT_RENDER"},
        {0x80040219u, "VFW_E_CHANGING_FORMAT"},
        {0x80040224u, "VFW_E_NOT_STOPPED"},
        {0x80040225u, "VFW_E_NOT_PAUSED"},
        {0x80040226u, "VFW_E_NOT_RUNNING"},
        {0x80040227u, "VFW_E_WRONG_STATE"},
        {0x80040229u, "VFW_E_INVALID_RECT"},
        {0x8004022Au, "VFW_E_TYPE_NOT_ACCEPTED"},
        {0x8004022Du, "VFW_E_DUPLICATE_NAME"},
        {0x8004022Eu, "VFW_E_TIMEOUT"},
    };
};

Names& names() {
    static Names n;
    return n;
}

} // namespace

std::string result_text(HRESULT hr) {
    std::lock_guard g(names().lock);
    auto it = names().names.find(std::uint32_t(hr));
    return it == names().names.end() ? std::string("Unknown") : it->second;
}

void register_result_text(HRESULT hr, std::string name) {
    std::lock_guard g(names().lock);
    names().names[std::uint32_t(hr)] = std::move(name);
}

std::string error_trace_text(std::string_view source, unsigned location, HRESULT hr, std::string_view call) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08x", unsigned(hr));
    std::string s = "File: " + std::string(source) + "\nLine: " + std::to_string(location) +
                    "\nError Code: " + result_text(hr) + " (" + code + ")";
    if (!call.empty()) s += "\nCalling: " + std::string(call);
    return s;
}

HRESULT error_trace(std::string_view source, unsigned location, HRESULT hr, std::string_view call, bool show_box) {
    const std::string text = error_trace_text(source, location, hr, call);
    std::fprintf(stderr, "error trace: %s\n", text.c_str());
    if (show_box) message_box(text, "Unexpected error encountered", MB_OK | MB_ICONERROR);
    return hr;
}

} // namespace kavro::ui
