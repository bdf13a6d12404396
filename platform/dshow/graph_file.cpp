#include "platform/dshow/graph_file.h"

#include "platform/com/com_ptr.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace kavro::dshow {

namespace {

std::string subtype_name(const GUID& g) {
    if (g == MEDIASUBTYPE_RGB565) return "RGB565";
    if (g == MEDIASUBTYPE_RGB555) return "RGB555";
    if (g == MEDIASUBTYPE_RGB24) return "RGB24";
    if (g == MEDIASUBTYPE_RGB32) return "RGB32";
    return guid_to_string(g);
}

std::string type_text(const AM_MEDIA_TYPE& mt) {
    std::ostringstream s;
    s << (mt.majortype == MEDIATYPE_Video ? std::string("video") : guid_to_string(mt.majortype)) << "/"
      << subtype_name(mt.subtype);
    if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto* v = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        s << " " << v->bmiHeader.biWidth << "x" << v->bmiHeader.biHeight << "x" << v->bmiHeader.biBitCount;
    }
    return s.str();
}

std::string pin_name(IPin* p) {
    PIN_INFO info{};
    if (FAILED(p->QueryPinInfo(&info))) return "?";
    std::string filter = "?";
    if (info.pFilter) {
        FILTER_INFO fi{};
        if (SUCCEEDED(info.pFilter->QueryFilterInfo(&fi))) {
            filter = fi.achName;
            if (fi.pGraph) fi.pGraph->Release();
        }
        info.pFilter->Release();
    }
    return "\"" + filter + "\".\"" + info.achName + "\"";
}

} // namespace

std::string describe_graph(IFilterGraph* graph) {
    if (!graph) return {};
    std::ostringstream filters, links;
    ComPtr<IEnumFilters> e;
    if (FAILED(graph->EnumFilters(e.put())) || !e) return {};
    for (;;) {
        IBaseFilter* f = nullptr;
        ULONG got = 0;
        if (e->Next(1, &f, &got) != S_OK || got != 1) break;
        ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::adopt(f);
        FILTER_INFO fi{};
        filter->QueryFilterInfo(&fi);
        if (fi.pGraph) fi.pGraph->Release();
        CLSID clsid{};
        filter->GetClassID(&clsid);
        filters << "filter \"" << fi.achName << "\" " << guid_to_string(clsid) << "\n";
        ComPtr<IEnumPins> pins;
        if (FAILED(filter->EnumPins(pins.put())) || !pins) continue;
        for (;;) {
            IPin* p = nullptr;
            if (pins->Next(1, &p, &got) != S_OK || got != 1) break;
            ComPtr<IPin> pin = ComPtr<IPin>::adopt(p);
            PIN_DIRECTION d;
            pin->QueryDirection(&d);
            ComPtr<IPin> other;
            if (d != PINDIR_OUTPUT || FAILED(pin->ConnectedTo(other.put()))) continue;
            AM_MEDIA_TYPE mt{};
            std::string type = "?";
            if (SUCCEEDED(pin->ConnectionMediaType(&mt))) {
                type = type_text(mt);
                FreeMediaType(mt);
            }
            links << "connect " << pin_name(pin.get()) << " -> " << pin_name(other.get()) << " " << type << "\n";
        }
    }
    return filters.str() + links.str();
}

HRESULT write_graph_file(IFilterGraph* graph, const std::string& path) {
    if (!graph) return E_POINTER;
    const std::string text = describe_graph(graph);
    std::error_code ec;
    const auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    const std::string tmp = path + ".tmp." + std::to_string(::getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return E_FAIL;
        out << text;
        out.flush();
        if (!out) {
            std::remove(tmp.c_str());
            return E_FAIL;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return E_FAIL;
    }
    return S_OK;
}

} // namespace kavro::dshow
