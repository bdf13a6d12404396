// The system device enumerator: the filters registered in a category, each as a moniker whose property
// bag reads the registration's values and which binds to the filter by its CLSID.
#include "platform/com/com_ptr.h"
#include "platform/com/enum_snapshot.h"
#include "platform/com/runtime.h"
#include "platform/dshow/base/unknown.h"
#include "platform/dshow/builder.h"
#include "platform/dshow/internal.h"
#include "platform/registry/registry.h"

#include <cstring>
#include <vector>

namespace kavro::dshow {

namespace {

using kavro::com::ComObject;
using kavro::com::Implements;

class CPropertyBag final : public ComObject<Implements<IPropertyBag, IID_IPropertyBag>> {
public:
    explicit CPropertyBag(std::string key) : key_(std::move(key)) {}
    HRESULT Read(const char* name, char* value, ULONG capacity) override {
        if (!name || !value) return E_POINTER;
        std::string text;
        if (auto s = kavro::registry::get_string(key_, name))
            text = *s;
        else if (auto n = kavro::registry::get_number(key_, name))
            text = std::to_string(*n);
        else
            return E_INVALIDARG;
        if (text.size() + 1 > capacity) return E_NOT_SUFFICIENT_BUFFER;
        std::memcpy(value, text.c_str(), text.size() + 1);
        return S_OK;
    }

private:
    std::string key_;
};

class CMoniker final : public ComObject<Implements<IMoniker, IID_IMoniker>> {
public:
    explicit CMoniker(std::string key) : key_(std::move(key)) {}
    HRESULT BindToObject(void*, IMoniker*, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        const auto text = kavro::registry::get_string(key_, "CLSID");
        const auto clsid = text ? guid_from_string(*text) : std::nullopt;
        if (!clsid) return REGDB_E_CLASSNOTREG;
        return CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object);
    }
    HRESULT BindToStorage(void*, IMoniker*, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        ComPtr<CPropertyBag> bag(new CPropertyBag(key_));
        return bag->QueryInterface(iid, object);
    }

private:
    std::string key_;
};

// The snapshot keeps the registration keys; each Next makes a new moniker over one.
struct CopyMoniker {
    using Stored = std::string;
    using Item = IMoniker*;
    static IMoniker* copy(const std::string& key) {
        IMoniker* m = new CMoniker(key);
        m->AddRef();
        return m;
    }
};
using CEnumMoniker = kavro::com::EnumSnapshot<IEnumMoniker, IID_IEnumMoniker, CopyMoniker>;

class CDeviceEnum final : public CUnknownObject<Implements<ICreateDevEnum, IID_ICreateDevEnum>> {
public:
    CDeviceEnum(IUnknown* outer, HRESULT* phr) : CUnknownObject("device enumerator", outer) { *phr = S_OK; }
    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        const std::string base = "SOFTWARE\\Classes\\CLSID\\" + guid_to_string(category) + "\\Instance";
        std::vector<std::string> keys;
        for (const auto& k : kavro::registry::subkeys(base)) keys.push_back(base + "\\" + k);
        if (keys.empty()) return S_FALSE;
        *out = new CEnumMoniker(std::move(keys));
        (*out)->AddRef();
        return S_OK;
    }
};

} // namespace

HRESULT create_device_enum(IUnknown* outer, REFIID iid, void** object) {
    return create_object<CDeviceEnum>(iid, object, outer);
}

} // namespace kavro::dshow
