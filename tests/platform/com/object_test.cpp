// ComObject's IUnknown (identity rules, reference counting across threads) and EnumSnapshot's position rules.
#include "platform/com/enum_snapshot.h"
#include "platform/com/object.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

inline constexpr IID IID_IFirst = make_guid("5C1B0A51-0000-4000-8000-000000000001");
inline constexpr IID IID_ISecond = make_guid("5C1B0A51-0000-4000-8000-000000000002");
inline constexpr IID IID_IEnumFirst = make_guid("5C1B0A51-0000-4000-8000-000000000003");
inline constexpr IID IID_IAbsent = make_guid("5C1B0A51-0000-4000-8000-000000000004");

struct IFirst : IUnknown {
    virtual int First() = 0;

protected:
    ~IFirst() = default;
};
struct ISecond : IUnknown {
    virtual int Second() = 0;

protected:
    ~ISecond() = default;
};
struct IEnumFirst : IUnknown {
    virtual HRESULT Next(ULONG count, IFirst** out, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFirst** copy) = 0;

protected:
    ~IEnumFirst() = default;
};

using kavro::com::ComObject;
using kavro::com::Implements;

// Counts its destructions; `marks` are written by the threads before their last Release.
class Both final : public ComObject<Implements<IFirst, IID_IFirst>, Implements<ISecond, IID_ISecond>> {
public:
    Both(int value, std::atomic<int>* destroyed, std::size_t threads = 0)
        : marks(threads, 0), value_(value), destroyed_(destroyed) {}
    int First() override { return value_; }
    int Second() override { return -value_; }
    std::vector<int> marks; // one slot a thread, written without a lock

private:
    ~Both() override {
        int sum = 0;
        for (int m : marks) sum += m; // must see every thread's write (the last Release orders them)
        destroyed_->fetch_add(sum == int(marks.size()) ? 1 : 1000);
    }
    int value_;
    std::atomic<int>* destroyed_;
};

TEST(ComObject, QueryInterfaceFollowsTheIdentityRules) {
    std::atomic<int> destroyed{0};
    ComPtr<IFirst> first(new Both(7, &destroyed));
    ComPtr<ISecond> second;
    ASSERT_EQ(first.as(IID_ISecond, second), S_OK);
    EXPECT_EQ(second->Second(), -7);

    // One IUnknown, whichever interface it is asked from.
    ComPtr<IUnknown> unknown1, unknown2;
    ASSERT_EQ(first.as(IID_IUnknown, unknown1), S_OK);
    ASSERT_EQ(second.as(IID_IUnknown, unknown2), S_OK);
    EXPECT_EQ(unknown1.get(), unknown2.get());
    // Symmetric and transitive: back to the same interface pointers.
    ComPtr<IFirst> again;
    ASSERT_EQ(unknown2.as(IID_IFirst, again), S_OK);
    EXPECT_EQ(again.get(), first.get());
    ComPtr<ISecond> second2;
    ASSERT_EQ(again.as(IID_ISecond, second2), S_OK);
    EXPECT_EQ(second2.get(), second.get());

    void* out = &destroyed; // any non-null value: it must be cleared
    EXPECT_EQ(first->QueryInterface(IID_IAbsent, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(first->QueryInterface(IID_IFirst, nullptr), E_POINTER);

    // Each success above added exactly one reference: these are the only ones left.
    EXPECT_EQ(first->AddRef(), 7u);
    EXPECT_EQ(first->Release(), 6u);
    for (auto* p : {&unknown1, &unknown2}) p->reset();
    again.reset();
    second.reset();
    second2.reset();
    EXPECT_EQ(destroyed.load(), 0);
    first.reset();
    EXPECT_EQ(destroyed.load(), 1);
}

TEST(ComObject, ReferencesTakenAndDroppedOnManyThreadsDeleteItOnceAfterTheLast) {
    constexpr std::size_t kThreads = 8;
    std::atomic<int> destroyed{0};
    auto* object = new Both(1, &destroyed, kThreads);
    for (std::size_t i = 0; i < kThreads; ++i) static_cast<IFirst*>(object)->AddRef(); // one for each thread
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            IFirst* mine = object;
            for (int i = 0; i < 20000; ++i) {
                IUnknown* u = nullptr;
                const IID& iid = i % 2 ? IID_IUnknown : IID_ISecond;
                ASSERT_EQ(mine->QueryInterface(iid, reinterpret_cast<void**>(&u)), S_OK);
                u->Release();
            }
            object->marks[t] = 1;
            mine->Release();
        });
    }
    go = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(destroyed.load(), 1); // 1000 and more: the destructor missed a thread's write
}

struct CopyFirst {
    using Stored = ComPtr<IFirst>;
    using Item = IFirst*;
    // Items with a negative value cannot be handed out.
    static IFirst* copy(const ComPtr<IFirst>& p) {
        return p->First() < 0 ? nullptr : kavro::com::CopyInterface<IFirst>::copy(p);
    }
};
using EnumFirst = kavro::com::EnumSnapshot<IEnumFirst, IID_IEnumFirst, CopyFirst>;

class Enumerator : public ::testing::Test {
protected:
    // Values of the next `count` items (fewer at the end); the references handed out are released.
    std::vector<int> next(IEnumFirst* e, ULONG count, HRESULT expect) {
        std::vector<IFirst*> out(count, nullptr);
        ULONG fetched = 99;
        EXPECT_EQ(e->Next(count, out.data(), &fetched), expect);
        std::vector<int> values;
        for (ULONG i = 0; i < fetched; ++i) {
            values.push_back(out[i]->First());
            out[i]->Release();
        }
        return values;
    }
    ComPtr<IEnumFirst> make(std::vector<int> values) {
        std::vector<ComPtr<IFirst>> items;
        for (int v : values) items.emplace_back(new Both(v, &destroyed));
        return ComPtr<IEnumFirst>(new EnumFirst(std::move(items)));
    }
    std::atomic<int> destroyed{0};
};

TEST_F(Enumerator, NextAndSkipStopAtTheEnd) {
    auto e = make({1, 2, 3});
    EXPECT_EQ(next(e.get(), 2, S_OK), (std::vector<int>{1, 2}));
    EXPECT_EQ(next(e.get(), 5, S_FALSE), (std::vector<int>{3}));
    EXPECT_EQ(next(e.get(), 1, S_FALSE), (std::vector<int>{}));

    IFirst* two[2];
    EXPECT_EQ(e->Next(2, two, nullptr), E_INVALIDARG); // more than one needs the count back
    EXPECT_EQ(e->Next(1, nullptr, nullptr), E_POINTER);

    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(3), S_OK); // exactly to the end
    EXPECT_EQ(e->Skip(1), S_FALSE);
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(1), S_OK);
    EXPECT_EQ(e->Skip(0xFFFFFFFFu), S_FALSE); // past the end: held at the end, no wrap-around
    EXPECT_EQ(next(e.get(), 1, S_FALSE), (std::vector<int>{}));
    e->Reset();
    IFirst* one = nullptr;
    ASSERT_EQ(e->Next(1, &one, nullptr), S_OK); // one item needs no count
    EXPECT_EQ(one->First(), 1);
    one->Release();

    e.reset();
    EXPECT_EQ(destroyed.load(), 3); // every reference handed out or held was given back
}

TEST_F(Enumerator, ACloneStartsAtTheSamePlaceAndMovesOnAlone) {
    auto e = make({1, 2, 3, 4});
    e->Skip(1);
    ComPtr<IEnumFirst> c;
    ASSERT_EQ(e->Clone(c.put()), S_OK);
    EXPECT_EQ(e->Clone(nullptr), E_POINTER);
    EXPECT_EQ(next(c.get(), 2, S_OK), (std::vector<int>{2, 3}));
    EXPECT_EQ(next(e.get(), 1, S_OK), (std::vector<int>{2}));
    ComPtr<IEnumFirst> cc;
    ASSERT_EQ(c->Clone(cc.put()), S_OK);
    e.reset(); // the clones keep the snapshot
    EXPECT_EQ(next(cc.get(), 4, S_FALSE), (std::vector<int>{4}));
    c->Reset();
    EXPECT_EQ(next(c.get(), 4, S_OK), (std::vector<int>{1, 2, 3, 4}));
    c.reset();
    cc.reset();
    EXPECT_EQ(destroyed.load(), 4);
}

TEST_F(Enumerator, AnItemThatCannotBeMadeEndsNextThere) {
    auto e = make({1, -2, 3});
    EXPECT_EQ(next(e.get(), 3, S_FALSE), (std::vector<int>{1}));
    EXPECT_EQ(next(e.get(), 1, S_FALSE), (std::vector<int>{})); // still at the item that failed
    EXPECT_EQ(e->Skip(1), S_OK);
    EXPECT_EQ(next(e.get(), 1, S_OK), (std::vector<int>{3}));
}

} // namespace
