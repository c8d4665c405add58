#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/enum.h"

namespace {

std::vector<std::u16string> Names() {
    return {u"alpha", u"beta", u"", u"\u00e9t\u00e9", u"omega"};
}

// Takes `count` strings, checks they are task-allocator blocks and frees them.
std::vector<std::u16string> Take(LPOLESTR* items, ULONG count) {
    ComPtr<IMalloc> m;
    EXPECT_EQ(CoGetMalloc(MEMCTX_TASK, m.Put()), S_OK);
    std::vector<std::u16string> out;
    for (ULONG i = 0; i < count; ++i) {
        EXPECT_EQ(m->DidAlloc(items[i]), 1);
        out.emplace_back(items[i]);
        CoTaskMemFree(items[i]);
    }
    return out;
}

TEST(EnumString, NextInBatchesEndsWithSFalse) {
    const std::size_t blocks = CoTaskMemLiveBlocks();
    ComPtr<IEnumString> e;
    ASSERT_EQ(CreateEnumString(Names(), e.Put()), S_OK);

    LPOLESTR items[3] = {};
    ULONG fetched = 99;
    ASSERT_EQ(e->Next(2, items, &fetched), S_OK);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(Take(items, fetched), (std::vector<std::u16string>{u"alpha", u"beta"}));

    ASSERT_EQ(e->Next(3, items, &fetched), S_OK);
    EXPECT_EQ(Take(items, fetched), (std::vector<std::u16string>{u"", u"\u00e9t\u00e9", u"omega"}));

    EXPECT_EQ(e->Next(3, items, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);

    ASSERT_EQ(e->Reset(), S_OK);
    ASSERT_EQ(e->Skip(3), S_OK);
    ASSERT_EQ(e->Next(3, items, &fetched), S_FALSE);  // only two were left
    EXPECT_EQ(Take(items, fetched), (std::vector<std::u16string>{u"\u00e9t\u00e9", u"omega"}));
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks);  // everything handed out was freed above
}

TEST(EnumString, SkipCloneAndArgumentChecks) {
    ComPtr<IEnumString> e = MakeEnumString(Names());
    EXPECT_EQ(e->Skip(1), S_OK);

    // A clone starts where its original stands and moves on its own.
    ComPtr<IEnumString> c;
    ASSERT_EQ(e->Clone(c.Put()), S_OK);
    LPOLESTR item = nullptr;
    ASSERT_EQ(c->Next(1, &item, nullptr), S_OK);  // no count needed for one
    EXPECT_EQ(Take(&item, 1), std::vector<std::u16string>{u"beta"});
    ASSERT_EQ(c->Next(1, &item, nullptr), S_OK);
    EXPECT_EQ(Take(&item, 1), std::vector<std::u16string>{u""});
    ASSERT_EQ(e->Next(1, &item, nullptr), S_OK);
    EXPECT_EQ(Take(&item, 1), std::vector<std::u16string>{u"beta"});

    EXPECT_EQ(e->Skip(10), S_FALSE);  // past the end: stops at the end
    ULONG fetched = 7;
    EXPECT_EQ(e->Next(1, &item, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(e->Skip(0), S_OK);

    LPOLESTR two[2];
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Next(2, two, nullptr), E_POINTER);  // a count of more than one needs fetched
    EXPECT_EQ(e->Next(1, nullptr, &fetched), E_POINTER);
    EXPECT_EQ(e->Next(0, two, &fetched), S_OK);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(e->Clone(nullptr), E_POINTER);
    EXPECT_EQ(CreateEnumString({}, nullptr), E_POINTER);

    ComPtr<IEnumString> empty = MakeEnumString({});
    EXPECT_EQ(empty->Next(1, &item, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(empty->Skip(1), S_FALSE);
}

// An element copy that fails on the third element, to see that a failed Next takes back what
// it had already handed out and does not move.
struct FailingOnThird {
    static inline int copies = 0;
    static inline int destroyed = 0;
    static HRESULT Copy(GUID* to, const GUID& from) {
        if (from.Data1 == 3) {
            return E_OUTOFMEMORY;
        }
        ++copies;
        *to = from;
        return S_OK;
    }
    static void Destroy(GUID* /*to*/) { ++destroyed; }
};

TEST(EnumGUID, FailedNextReturnsNothingAndStaysPut) {
    std::vector<GUID> ids;
    for (std::uint32_t i = 1; i <= 4; ++i) {
        ids.push_back(GUID{i, 0, 0, {}});
    }
    using CFailing = CEnumOnVector<IEnumGUID, GUID, GUID, FailingOnThird>;
    ComPtr<IEnumGUID> e = MakeComObject<CFailing>(ids);
    GUID out[4]{};
    ULONG fetched = 9;
    EXPECT_EQ(e->Next(4, out, &fetched), E_OUTOFMEMORY);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(FailingOnThird::copies, 2);
    EXPECT_EQ(FailingOnThird::destroyed, 2);
    ASSERT_EQ(e->Next(2, out, &fetched), S_OK);  // still at the start
    EXPECT_EQ(out[0].Data1, 1u);
    EXPECT_EQ(out[1].Data1, 2u);

    ComPtr<IEnumGUID> plain = MakeEnumGUID(ids);
    ASSERT_EQ(plain->Next(4, out, &fetched), S_OK);
    EXPECT_EQ(out[3], ids[3]);
}

class CCounted final : public ComObject<IEnumGUID> {
  public:
    explicit CCounted(int* destroyed) : destroyed_(destroyed) {}
    ~CCounted() override { ++*destroyed_; }
    HRESULT Next(ULONG, GUID*, ULONG*) override { return E_NOTIMPL; }
    HRESULT Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT Reset() override { return E_NOTIMPL; }
    HRESULT Clone(IEnumGUID**) override { return E_NOTIMPL; }

  private:
    int* destroyed_;
};

TEST(EnumUnknown, HandsOutReferencesAndHoldsItsOwn) {
    int destroyed = 0;
    ComPtr<IEnumUnknown> e;
    {
        std::vector<ComPtr<IUnknown>> objects;
        for (int i = 0; i < 3; ++i) {
            objects.emplace_back(MakeComObject<CCounted>(&destroyed)->GetUnknown());
        }
        ASSERT_EQ(CreateEnumUnknown(objects, e.Put()), S_OK);
    }
    EXPECT_EQ(destroyed, 0);  // the enumerator keeps them alive

    IUnknown* got[4] = {};
    ULONG fetched = 0;
    ASSERT_EQ(e->Next(4, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 3u);
    ComPtr<IEnumUnknown> clone;
    ASSERT_EQ(e->Clone(clone.Put()), S_OK);
    e.Reset();
    EXPECT_EQ(destroyed, 0);  // the clone shares the sequence
    clone.Reset();
    EXPECT_EQ(destroyed, 0);  // the caller holds the references Next handed out
    for (ULONG i = 0; i < fetched; ++i) {
        got[i]->Release();
    }
    EXPECT_EQ(destroyed, 3);
}

}  // namespace
