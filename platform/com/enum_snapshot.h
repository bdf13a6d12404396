// EnumSnapshot: the COM enumerator (Next, Skip, Reset, Clone) over a snapshot taken when it is made: the pins of
// a filter, the filters of a graph, the media types of a pin, the registered filters of a category. Later
// changes to the source do not disturb an enumeration in progress; clones share the snapshot. One enumerator is
// used by one thread at a time (its position is not locked); clones are independent of each other.
//
// The copy policy says what the snapshot keeps and what Next hands out:
//     struct Policy {
//         using Stored = ...;                   // one element of the snapshot
//         using Item = ...;                     // what Next writes: an interface pointer, AM_MEDIA_TYPE*, ...
//         static Item copy(const Stored& s);    // a new item the caller owns; null when it cannot be made
//     };
// CopyInterface<I> is the policy for interface pointers (Next hands out a new reference).
#pragma once

#include "platform/com/com_ptr.h"
#include "platform/com/object.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace kavro::com {

template <class I>
struct CopyInterface {
    using Stored = ComPtr<I>;
    using Item = I*;
    static I* copy(const ComPtr<I>& p) {
        p->AddRef();
        return p.get();
    }
};

template <class IEnum, const IID& EnumIid, class Policy>
class EnumSnapshot final : public ComObject<Implements<IEnum, EnumIid>> {
public:
    using Stored = typename Policy::Stored;
    using Item = typename Policy::Item;

    explicit EnumSnapshot(std::vector<Stored> items)
        : items_(std::make_shared<const std::vector<Stored>>(std::move(items))) {}

    // Up to `count` items from the position on. S_OK when all `count` were written, else S_FALSE (the end
    // was reached, or an item could not be made); `fetched` may be null only when `count` is 1.
    HRESULT Next(ULONG count, Item* out, ULONG* fetched) override {
        if (!out) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < count && pos_ < items_->size()) {
            Item item = Policy::copy((*items_)[pos_]);
            if (!item) break;
            out[n++] = item;
            ++pos_;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    // Moves the position on, at most to the end. S_FALSE when fewer than `count` items were left.
    HRESULT Skip(ULONG count) override {
        const std::size_t left = items_->size() - pos_;
        pos_ += std::min<std::size_t>(left, count);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }
    // A new enumerator over the same snapshot, at the same position.
    HRESULT Clone(IEnum** copy) override {
        if (!copy) return E_POINTER;
        auto* clone = new EnumSnapshot(items_, pos_);
        clone->AddRef();
        *copy = clone;
        return S_OK;
    }

private:
    EnumSnapshot(std::shared_ptr<const std::vector<Stored>> items, std::size_t pos)
        : items_(std::move(items)), pos_(pos) {}

    std::shared_ptr<const std::vector<Stored>> items_;
    std::size_t pos_ = 0;
};

} // namespace kavro::com
