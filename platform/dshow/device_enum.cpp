// The system device enumerator: the filters registered in a category, each as a moniker whose property
// bag reads the registration's values and which binds to the filter by its CLSID.
#include "platform/com/com_ptr.h"
#include "platform/com/runtime.h"
#include "platform/dshow/base/unknown.h"
#include "platform/dshow/builder.h"
#include "platform/dshow/internal.h"
#include "platform/registry/registry.h"

#include <cstring>
#include <vector>

namespace kavro::dshow {

namespace {

class CPropertyBag final : public IPropertyBag {
public:
    explicit CPropertyBag(std::string key) : key_(std::move(key)) {}
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IPropertyBag) {
            *object = static_cast<IPropertyBag*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++ref_; }
    ULONG Release() override {
        const ULONG r = --ref_;
        if (r == 0) delete this;
        return r;
    }
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
    std::atomic<ULONG> ref_{0};
};

class CMoniker final : public IMoniker {
public:
    explicit CMoniker(std::string key) : key_(std::move(key)) {}
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMoniker) {
            *object = static_cast<IMoniker*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++ref_; }
    ULONG Release() override {
        const ULONG r = --ref_;
        if (r == 0) delete this;
        return r;
    }
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
        auto* bag = new CPropertyBag(key_);
        bag->AddRef();
        const HRESULT hr = bag->QueryInterface(iid, object);
        bag->Release();
        return hr;
    }

private:
    std::string key_;
    std::atomic<ULONG> ref_{0};
};

class CEnumMoniker final : public IEnumMoniker {
public:
    explicit CEnumMoniker(std::vector<std::string> keys, std::size_t pos = 0) : keys_(std::move(keys)), pos_(pos) {}
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IEnumMoniker) {
            *object = static_cast<IEnumMoniker*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++ref_; }
    ULONG Release() override {
        const ULONG r = --ref_;
        if (r == 0) delete this;
        return r;
    }
    HRESULT Next(ULONG count, IMoniker** out, ULONG* fetched) override {
        if (!out) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < count && pos_ < keys_.size()) {
            out[n] = new CMoniker(keys_[pos_++]);
            out[n]->AddRef();
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        pos_ += count;
        if (pos_ > keys_.size()) {
            pos_ = keys_.size();
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumMoniker** copy) override {
        if (!copy) return E_POINTER;
        *copy = new CEnumMoniker(keys_, pos_);
        (*copy)->AddRef();
        return S_OK;
    }

private:
    std::vector<std::string> keys_;
    std::size_t pos_;
    std::atomic<ULONG> ref_{0};
};

class CDeviceEnum final : public CUnknown, public ICreateDevEnum {
public:
    CDeviceEnum(IUnknown* outer, HRESULT* phr) : CUnknown("device enumerator", outer) { *phr = S_OK; }
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IID_ICreateDevEnum) return GetInterface(static_cast<ICreateDevEnum*>(this), object);
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }
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
