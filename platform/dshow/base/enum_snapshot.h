// A COM enumerator over a snapshot of interface pointers, each held with a reference (the pins of a filter,
// the filters of a graph). Later changes to the source do not disturb an enumeration in progress.
#pragma once

#include "platform/com/com_ptr.h"

#include <algorithm>
#include <atomic>
#include <vector>

template <class IEnum, class IItem, const IID& EnumIid>
class CEnumSnapshot final : public IEnum {
public:
    explicit CEnumSnapshot(std::vector<ComPtr<IItem>> items, std::size_t pos = 0)
        : items_(std::move(items)), pos_(pos) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == EnumIid) {
            *object = static_cast<IEnum*>(this);
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
    HRESULT Next(ULONG count, IItem** out, ULONG* fetched) override {
        if (!out) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < count && pos_ < items_.size()) {
            out[n] = items_[pos_++].get();
            out[n]->AddRef();
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    // S_FALSE only when fewer than `count` items were left to skip.
    HRESULT Skip(ULONG count) override {
        const bool all = count <= items_.size() - pos_;
        pos_ = std::min(items_.size(), pos_ + count);
        return all ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnum** copy) override {
        if (!copy) return E_POINTER;
        *copy = new CEnumSnapshot(items_, pos_);
        (*copy)->AddRef();
        return S_OK;
    }

private:
    std::vector<ComPtr<IItem>> items_;
    std::size_t pos_;
    std::atomic<ULONG> ref_{0};
};
