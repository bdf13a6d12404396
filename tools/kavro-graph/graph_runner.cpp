#include "tools/kavro-graph/graph_runner.h"

#include "platform/jpeg/jpeg.h"
#include "platform/ui/ui.h"

#include <QImage>

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace kavro::graph {
namespace {

bool ends_with(std::string s, const std::string& tail) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// One registered filter: its friendly name and the moniker that creates it.
struct Registered {
    std::string name;
    ComPtr<IMoniker> moniker;
};

std::vector<Registered> registered_filters() {
    std::vector<Registered> out;
    ComPtr<ICreateDevEnum> devenum;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                devenum.put_void())))
        return out;
    ComPtr<IEnumMoniker> e;
    if (devenum->CreateClassEnumerator(CLSID_LegacyAmFilterCategory, e.put(), 0) != S_OK) return out;
    for (;;) {
        IMoniker* m = nullptr;
        ULONG got = 0;
        if (e->Next(1, &m, &got) != S_OK) break;
        ComPtr<IMoniker> mon = ComPtr<IMoniker>::adopt(m);
        ComPtr<IPropertyBag> bag;
        char name[256];
        if (FAILED(mon->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.put_void())) ||
            FAILED(bag->Read("FriendlyName", name, sizeof name)))
            continue;
        out.push_back({name, mon});
    }
    return out;
}

} // namespace

bool find_filter(const std::string& text, ComPtr<IBaseFilter>& filter, std::string& found_name, std::string& error) {
    if (auto clsid = guid_from_string(text)) {
        const HRESULT hr =
            CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.put_void());
        if (FAILED(hr)) error = "cannot create " + guid_to_string(*clsid) + ": " + hresult_name(hr);
        found_name = guid_to_string(*clsid);
        return SUCCEEDED(hr);
    }
    const auto filters = registered_filters();
    auto it = std::find_if(filters.begin(), filters.end(), [&](const Registered& r) { return r.name == text; });
    if (it == filters.end())
        it = std::find_if(filters.begin(), filters.end(),
                          [&](const Registered& r) { return r.name.compare(0, text.size(), text) == 0; });
    if (it == filters.end()) {
        error = "no registered filter is called \"" + text + "\"";
        if (!filters.empty()) {
            error += " (registered:";
            for (const auto& r : filters) error += " \"" + r.name + "\"";
            error += ")";
        }
        return false;
    }
    found_name = it->name;
    const HRESULT hr = it->moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.put_void());
    if (FAILED(hr)) error = "cannot create \"" + it->name + "\": " + hresult_name(hr);
    return SUCCEEDED(hr);
}

bool register_plugin(const std::string& path, std::string& error) {
    void* lib = kavro::com::load_library(path, &error);
    if (!lib) return false;
    auto fn = reinterpret_cast<DllRegisterServerFn>(dlsym(lib, "DllRegisterServer"));
    if (!fn) {
        error = path + " has no DllRegisterServer";
        return false;
    }
    const HRESULT hr = fn();
    if (FAILED(hr)) error = path + ": DllRegisterServer failed: " + hresult_name(hr);
    return SUCCEEDED(hr);
}

void FrameLog::add(const FrameTime& t, const BYTE* data, std::size_t length) {
    std::lock_guard g(m_);
    ++frames_;
    if (times_.size() < kMaxTimes) times_.push_back(t);
    last_.assign(data, data + length);
}

void FrameLog::set_format(const AM_MEDIA_TYPE& mt) {
    std::lock_guard g(m_);
    subtype_ = mt.subtype;
    header_ = {};
    if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
        std::memcpy(&header_, mt.pbFormat + offsetof(VIDEOINFOHEADER, bmiHeader), sizeof header_);
}

std::uint64_t FrameLog::frames() const {
    std::lock_guard g(m_);
    return frames_;
}

std::vector<FrameTime> FrameLog::times() const {
    std::lock_guard g(m_);
    return times_;
}

std::string FrameLog::format_text() const {
    std::lock_guard g(m_);
    const char* kind = subtype_ == MEDIASUBTYPE_RGB24   ? "RGB24"
                       : subtype_ == MEDIASUBTYPE_RGB32  ? "RGB32"
                       : subtype_ == MEDIASUBTYPE_RGB565 ? "RGB565"
                       : subtype_ == MEDIASUBTYPE_RGB555 ? "RGB555"
                                                         : "other";
    return std::to_string(header_.biWidth) + "x" + std::to_string(std::abs(header_.biHeight)) + " " + kind + " " +
           (header_.biHeight < 0 ? "top-down" : "bottom-up");
}

bool FrameLog::last_picture(Picture& out, std::string& error) const {
    std::lock_guard g(m_);
    const int bits = header_.biBitCount;
    const long w = header_.biWidth, h = std::labs(header_.biHeight);
    if (frames_ == 0) return error = "no frame arrived", false;
    if ((bits != 16 && bits != 24 && bits != 32) || w <= 0 || h <= 0 || w > 16384 || h > 16384)
        return error = "frames in " + std::to_string(bits) + "-bit " + std::to_string(w) + "x" + std::to_string(h) +
                       " cannot be saved",
               false;
    const std::size_t stride = (std::size_t(w) * std::size_t(bits) / 8 + 3) & ~std::size_t(3);
    if (last_.size() < stride * std::size_t(h)) return error = "the last frame is shorter than its format", false;
    const bool rgb555 = subtype_ == MEDIASUBTYPE_RGB555;
    out.width = int(w);
    out.height = int(h);
    out.pixels.resize(std::size_t(w) * std::size_t(h));
    for (long y = 0; y < h; ++y) {
        const BYTE* row = last_.data() + stride * std::size_t(header_.biHeight < 0 ? y : h - 1 - y);
        std::uint32_t* dst = out.pixels.data() + std::size_t(y) * std::size_t(w);
        for (long x = 0; x < w; ++x) {
            std::uint32_t r, gr, b;
            if (bits == 16) {
                const unsigned v = unsigned(row[2 * x]) | unsigned(row[2 * x + 1]) << 8;
                if (rgb555) r = (v >> 10) & 31, gr = ((v >> 5) & 31) * 255 / 31, b = v & 31;
                else r = (v >> 11) & 31, gr = ((v >> 5) & 63) * 255 / 63, b = v & 31;
                r = r * 255 / 31, b = b * 255 / 31;
            } else {
                const BYTE* p = row + std::size_t(x) * std::size_t(bits / 8);
                b = p[0], gr = p[1], r = p[2];
            }
            dst[x] = 0xFF000000u | r << 16 | gr << 8 | b;
        }
    }
    return true;
}

// Receives every sample on the streaming thread.
struct GraphRun::Callback final : ISampleGrabberCB {
    std::atomic<ULONG> refs{1};
    std::shared_ptr<FrameLog> log;

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!(iid == IID_IUnknown || iid == IID_ISampleGrabberCB)) return E_NOINTERFACE;
        AddRef();
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        const ULONG n = --refs;
        if (n == 0) delete this;
        return n;
    }
    HRESULT SampleCB(double, IMediaSample* sample) override {
        FrameTime t;
        t.stamped = SUCCEEDED(sample->GetTime(&t.start, &t.stop));
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const LONG length = sample->GetActualDataLength();
        log->add(t, data, data && length > 0 ? std::size_t(length) : 0);
        return S_OK;
    }
    HRESULT BufferCB(double, BYTE*, LONG) override { return S_OK; }
};

GraphRun::GraphRun() : log_(std::make_shared<FrameLog>()) {}

GraphRun::~GraphRun() {
    stop();
    if (grabber_) grabber_->SetCallback(nullptr, 0);
    if (callback_) callback_->Release();
}

void GraphRun::stop() {
    if (control_) control_->Stop();
}

bool GraphRun::start(IBaseFilter* source, const std::string& name, const RunOptions& options, std::string& error) {
    auto fail = [&](const char* what, HRESULT hr) {
        error = std::string(what) + ": " + hresult_name(hr);
        return false;
    };
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IBaseFilter> grabber, renderer;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.put_void());
    if (FAILED(hr)) return fail("no filter graph", hr);
    if (FAILED(hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ICaptureGraphBuilder2, builder.put_void())) ||
        FAILED(hr = builder->SetFiltergraph(graph_.get())))
        return fail("no capture graph builder", hr);
    if (FAILED(hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     grabber.put_void())) ||
        FAILED(hr = grabber.as(IID_ISampleGrabber, grabber_)))
        return fail("no sample grabber", hr);
    const CLSID renderer_clsid = options.window ? CLSID_VideoRenderer : CLSID_NullRenderer;
    if (FAILED(hr = CoCreateInstance(renderer_clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     renderer.put_void())))
        return fail("no renderer", hr);
    AM_MEDIA_TYPE want{};
    want.majortype = MEDIATYPE_Video;
    grabber_->SetMediaType(&want);
    callback_ = new Callback;
    callback_->log = log_;
    grabber_->SetCallback(callback_, 0);
    if (FAILED(hr = graph_->AddFilter(source, name.c_str())) ||
        FAILED(hr = graph_->AddFilter(grabber.get(), "Sample Grabber")) ||
        FAILED(hr = graph_->AddFilter(renderer.get(), "Renderer")))
        return fail("cannot add the filters to the graph", hr);
    if (FAILED(hr = builder->RenderStream(nullptr, &MEDIATYPE_Video, source, grabber.get(), renderer.get())))
        return fail("cannot connect the filter to the grabber and renderer", hr);
    AM_MEDIA_TYPE mt{};
    if (SUCCEEDED(grabber_->GetConnectedMediaType(&mt))) {
        log_->set_format(mt);
        FreeMediaType(mt);
    }
    if (options.window) {
        ComPtr<IVideoWindow> video;
        if (SUCCEEDED(renderer.as(IID_IVideoWindow, video))) {
            video->put_Owner(options.window);
            const kavro::ui::Rect c = kavro::ui::get_client_rect(kavro::ui::Hwnd{std::uint32_t(options.window)});
            video->SetWindowPosition(0, 0, c.w, c.h);
            video->put_Visible(OATRUE);
        }
    }
    if (FAILED(hr = graph_.as(IID_IMediaControl, control_)) || FAILED(hr = control_->Run()))
        return fail("the graph does not run", hr);
    return true;
}

bool save_picture(const Picture& p, const std::string& path, int quality, std::string& error) {
    if (p.pixels.empty()) return error = "no picture to save", false;
    if (ends_with(path, ".jpg") || ends_with(path, ".jpeg")) {
        kavro::jpeg::ImageView view{reinterpret_cast<const std::uint8_t*>(p.pixels.data()), p.width, p.height,
                                    std::size_t(p.width) * 4, kavro::jpeg::PixelFormat::bgrx32, false};
        kavro::jpeg::Detail detail;
        const auto st = kavro::jpeg::encode_file(view, {std::clamp(quality, 1, 100), true}, path, &detail);
        if (st != kavro::jpeg::Status::ok) error = path + ": " + kavro::jpeg::status_text(st) + " " + detail;
        return st == kavro::jpeg::Status::ok;
    }
    if (!ends_with(path, ".png")) return error = path + ": the name must end in .png, .jpg or .jpeg", false;
    const QImage image(reinterpret_cast<const uchar*>(p.pixels.data()), p.width, p.height, p.width * 4,
                       QImage::Format_RGB32);
    if (!image.save(QString::fromStdString(path), "PNG")) return error = path + ": cannot be written", false;
    return true;
}

} // namespace kavro::graph
