#include "platform/com/runtime.h"

#include "platform/com/com_ptr.h"
#include "platform/com/object.h"
#include "platform/registry/registry.h"

#include <charconv>
#include <dlfcn.h>

#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

std::string guid_to_string(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(g.Data1),
                  unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::optional<GUID> guid_from_string(const std::string& text) {
    std::string s = text;
    if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
    if (s.size() != 36) return std::nullopt;
    for (int i = 0; i < 36; ++i) {
        const char c = s[std::size_t(i)];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    }
    auto hex = [&](int at, int digits) {
        std::uint32_t v = 0; // the digits were checked above
        std::from_chars(s.data() + at, s.data() + at + digits, v, 16);
        return v;
    };
    GUID g{hex(0, 8), std::uint16_t(hex(9, 4)), std::uint16_t(hex(14, 4)), {}};
    g.Data4[0] = std::uint8_t(hex(19, 2));
    g.Data4[1] = std::uint8_t(hex(21, 2));
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = std::uint8_t(hex(24 + 2 * i, 2));
    return g;
}

std::string hresult_name(HRESULT hr) {
    static const std::map<std::uint32_t, const char*> names = {
        {0x00000000u, "S_OK"},
        {0x00000001u, "S_FALSE"},
        {0x80004001u, "E_NOTIMPL"},
        {0x80004002u, "E_NOINTERFACE"},
        {0x80004003u, "E_POINTER"},
        {0x80004005u, "E_FAIL"},
        {0x8000FFFFu, "E_UNEXPECTED"},
        {0x8007000Eu, "E_OUTOFMEMORY"},
        {0x80070057u, "E_INVALIDARG"},
        {0x8007007Au, "E_NOT_SUFFICIENT_BUFFER"},
        {0x80040110u, "CLASS_E_NOAGGREGATION"},
        {0x80040111u, "CLASS_E_CLASSNOTAVAILABLE"},
        {0x80040154u, "REGDB_E_CLASSNOTREG"},
        {0x800401F8u, "CO_E_DLLNOTFOUND"},
        {0x800401F9u, "CO_E_ERRORINDLL"},
        {0x00040103u, "VFW_S_NO_MORE_ITEMS"},
        {0x0004022Du, "VFW_S_DUPLICATE_NAME"},
        {0x00040237u, "VFW_S_STATE_INTERMEDIATE"},
        {0x00040270u, "VFW_S_NO_STOP_TIME"},
        {0x80040200u, "VFW_E_INVALIDMEDIATYPE"},
        {0x80040202u, "VFW_E_NEED_OWNER"},
        {0x80040204u, "VFW_E_ALREADY_CONNECTED"},
        {0x80040207u, "VFW_E_NO_ACCEPTABLE_TYPES"},
        {0x80040208u, "VFW_E_INVALID_DIRECTION"},
        {0x80040209u, "VFW_E_NOT_CONNECTED"},
        {0x8004020Au, "VFW_E_NO_ALLOCATOR"},
        {0x8004020Fu, "VFW_E_ALREADY_COMMITTED"},
        {0x80040210u, "VFW_E_BUFFERS_OUTSTANDING"},
        {0x80040211u, "VFW_E_NOT_COMMITTED"},
        {0x80040212u, "VFW_E_SIZENOTSET"},
        {0x80040216u, "VFW_E_NOT_FOUND"},
        {0x80040217u, "VFW_E_CANNOT_CONNECT"},
        {0x80040218u, "VFW_E_CANNOT_RENDER"},
        {0x80040224u, "VFW_E_NOT_STOPPED"},
        {0x80040227u, "VFW_E_WRONG_STATE"},
        {0x8004022Au, "VFW_E_TYPE_NOT_ACCEPTED"},
        {0x80040249u, "VFW_E_SAMPLE_TIME_NOT_SET"},
        {0x8004025Fu, "VFW_E_NOT_IN_GRAPH"},
    };
    auto it = names.find(static_cast<std::uint32_t>(hr));
    if (it != names.end()) return it->second;
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

HRESULT CoInitialize(void*) { return S_OK; }
HRESULT CoInitializeEx(void*, DWORD) { return S_OK; }
void CoUninitialize() {}

void* CoTaskMemAlloc(std::size_t size) { return std::malloc(size ? size : 1); }
void CoTaskMemFree(void* block) { std::free(block); }

namespace kavro::com {

namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

// The process's class table and loaded libraries (the COM runtime is one per process).
struct Runtime {
    std::mutex lock;
    std::map<GUID, CreateFn, GuidLess> builtins;
    std::map<std::string, void*> libraries;
};
Runtime& runtime() {
    static Runtime* r = new Runtime; // never destroyed: plug-ins may outlive static destruction order
    return *r;
}

// A class factory over a built-in creation function.
class BuiltinFactory final : public ComObject<Implements<IClassFactory, IID_IClassFactory>> {
public:
    explicit BuiltinFactory(CreateFn fn) : fn_(fn) {}
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        return fn_(outer, riid, object);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    CreateFn fn_;
};

} // namespace

void register_builtin_class(REFCLSID clsid, CreateFn create) {
    std::lock_guard g(runtime().lock);
    runtime().builtins[clsid] = create;
}

void unregister_builtin_class(REFCLSID clsid) {
    std::lock_guard g(runtime().lock);
    runtime().builtins.erase(clsid);
}

bool is_builtin_class(REFCLSID clsid) {
    std::lock_guard g(runtime().lock);
    return runtime().builtins.count(clsid) != 0;
}

std::string clsid_key(REFCLSID clsid) { return "SOFTWARE\\Classes\\CLSID\\" + guid_to_string(clsid); }

void* load_library(const std::string& path, std::string* error) {
    std::lock_guard g(runtime().lock);
    auto it = runtime().libraries.find(path);
    if (it != runtime().libraries.end()) return it->second;
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* e = dlerror();
        std::string msg = e ? e : "cannot load library";
        std::fprintf(stderr, "com: cannot load %s: %s\n", path.c_str(), msg.c_str());
        if (error) *error = msg;
        return nullptr;
    }
    // Plug-ins stay loaded for the life of the process, like the objects they may have handed out.
    runtime().libraries[path] = h;
    return h;
}

} // namespace kavro::com

HRESULT CoGetClassObject(REFCLSID clsid, DWORD, void*, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    kavro::com::CreateFn fn = nullptr;
    {
        auto& rt = kavro::com::runtime();
        std::lock_guard g(rt.lock);
        auto it = rt.builtins.find(clsid);
        if (it != rt.builtins.end()) fn = it->second;
    }
    if (fn) return ComPtr<IClassFactory>(new kavro::com::BuiltinFactory(fn))->QueryInterface(iid, object);
    const auto path =
        kavro::registry::get_string(kavro::com::clsid_key(clsid) + "\\InprocServer32", "");
    if (!path || path->empty()) return REGDB_E_CLASSNOTREG;
    void* lib = kavro::com::load_library(*path);
    if (!lib) return CO_E_DLLNOTFOUND;
    auto get = reinterpret_cast<DllGetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
    if (!get) {
        std::fprintf(stderr, "com: %s has no DllGetClassObject\n", path->c_str());
        return CO_E_ERRORINDLL;
    }
    return get(clsid, iid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer && !(iid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, iid, object);
    factory->Release();
    return hr;
}
