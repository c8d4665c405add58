#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "com/com_object.h"

namespace {

class IFoo : public IUnknown {
  public:
    static constexpr IID iid{0x1A2B3C4D, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};
    virtual int Foo() = 0;

  protected:
    ~IFoo() = default;
};

class IBar : public IUnknown {
  public:
    static constexpr IID iid{0x1A2B3C4D, 0x0001, 0x0003, {1, 2, 3, 4, 5, 6, 7, 8}};
    virtual int Bar() = 0;

  protected:
    ~IBar() = default;
};

constexpr IID kUnknownIid{0x00000003, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kExtraIid{0x1A2B3C4D, 0x0001, 0x0004, {1, 2, 3, 4, 5, 6, 7, 8}};

class CFooBar final : public ComObject<IFoo, IBar> {
  public:
    explicit CFooBar(int* destroyed) : destroyed_(destroyed) {}
    ~CFooBar() override { ++*destroyed_; }
    int Foo() override { return 1; }
    int Bar() override { return 2; }
    ULONG Count() const { return RefCount(); }

  protected:
    // The extra IID answers with the IBar part, as a derived interface would.
    void* QueryExtraInterface(REFIID riid) override {
        return riid == kExtraIid ? static_cast<IBar*>(this) : nullptr;
    }

  private:
    int* destroyed_;
};

TEST(ComObject, QueryInterfaceFollowsTheIdentityRules) {
    int destroyed = 0;
    {
        ComPtr<CFooBar> obj = MakeComObject<CFooBar>(&destroyed);
        EXPECT_EQ(obj->Count(), 1u);

        void* p = nullptr;
        ASSERT_EQ(obj->QueryInterface(IFoo::iid, &p), S_OK);
        ComPtr<IFoo> foo = ComPtr<IFoo>::Attach(static_cast<IFoo*>(p));
        EXPECT_EQ(foo->Foo(), 1);
        ASSERT_EQ(foo->QueryInterface(IBar::iid, &p), S_OK);
        ComPtr<IBar> bar = ComPtr<IBar>::Attach(static_cast<IBar*>(p));
        EXPECT_EQ(bar->Bar(), 2);
        EXPECT_EQ(obj->Count(), 3u);

        // IUnknown is the same pointer whichever interface is asked.
        ComPtr<IUnknown> u1, u2;
        ASSERT_EQ(foo.As(u1), S_OK);
        ASSERT_EQ(bar.As(u2), S_OK);
        EXPECT_EQ(u1.Get(), u2.Get());
        EXPECT_EQ(u1.Get(), obj->GetUnknown());

        // The derived class's hook answers its own IID.
        ASSERT_EQ(u1->QueryInterface(kExtraIid, &p), S_OK);
        EXPECT_EQ(p, static_cast<void*>(bar.Get()));
        static_cast<IBar*>(p)->Release();

        p = &destroyed;
        EXPECT_EQ(obj->QueryInterface(kUnknownIid, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(obj->QueryInterface(IFoo::iid, nullptr), E_POINTER);
        EXPECT_EQ(obj->Count(), 5u);
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(ComObject, ReleaseReturnsTheCountAndDestroysAtZeroOnce) {
    int destroyed = 0;
    CFooBar* raw = MakeComObject<CFooBar>(&destroyed).Detach();
    EXPECT_EQ(raw->AddRef(), 2u);
    EXPECT_EQ(static_cast<IBar*>(raw)->AddRef(), 3u);
    EXPECT_EQ(static_cast<IFoo*>(raw)->Release(), 2u);
    EXPECT_EQ(raw->Release(), 1u);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(raw->Release(), 0u);
    EXPECT_EQ(destroyed, 1);
}

// A constructor that takes and drops a reference to the object it builds.
class CSelfReferencing final : public ComObject<IFoo> {
  public:
    explicit CSelfReferencing(int* destroyed) : destroyed_(destroyed) {
        ComPtr<IUnknown> self(GetUnknown());
    }
    ~CSelfReferencing() override { ++*destroyed_; }
    int Foo() override { return 3; }

  private:
    int* destroyed_;
};

TEST(ComObject, ConstructorMayReferenceItself) {
    int destroyed = 0;
    ComPtr<IFoo> foo = MakeComObject<CSelfReferencing>(&destroyed);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(foo->Foo(), 3);
    EXPECT_EQ(foo->AddRef(), 2u);
    EXPECT_EQ(foo->Release(), 1u);
    foo.Reset();
    EXPECT_EQ(destroyed, 1);
}

TEST(ComObject, ConcurrentReferencesDestroyExactlyOnce) {
    int destroyed = 0;
    ComPtr<CFooBar> obj = MakeComObject<CFooBar>(&destroyed);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([copy = obj] {
            for (int i = 0; i < 20000; ++i) {
                ComPtr<CFooBar> again = copy;
                ComPtr<IFoo> foo;
                ASSERT_EQ(again.As(foo), S_OK);
            }
        });
    }
    obj.Reset();
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(ComPtr, CopyMoveAttachDetachAndPut) {
    int destroyed = 0;
    CFooBar* raw = MakeComObject<CFooBar>(&destroyed).Detach();  // count 1, owned by `raw`
    {
        ComPtr<CFooBar> a(raw);  // adds
        EXPECT_EQ(raw->Count(), 2u);
        ComPtr<CFooBar> b = a;  // copy adds
        EXPECT_EQ(raw->Count(), 3u);
        ComPtr<CFooBar> c = std::move(b);  // move does not
        EXPECT_EQ(raw->Count(), 3u);
        EXPECT_FALSE(b);
        EXPECT_TRUE(b == nullptr);
        a = c;  // self-value assignment keeps the count right
        EXPECT_EQ(raw->Count(), 3u);
        a = nullptr;
        EXPECT_EQ(raw->Count(), 2u);

        // A pointer to the class converts to one of its interfaces.
        ComPtr<IFoo> foo = c;
        EXPECT_EQ(raw->Count(), 3u);
        ComPtr<IFoo> moved = std::move(c);
        EXPECT_EQ(raw->Count(), 3u);
        EXPECT_FALSE(c);

        IFoo* out = nullptr;
        ASSERT_EQ(moved.CopyTo(&out), S_OK);
        EXPECT_EQ(raw->Count(), 4u);
        ComPtr<IFoo> adopted = ComPtr<IFoo>::Attach(out);  // takes that reference over
        EXPECT_EQ(raw->Count(), 4u);
        EXPECT_EQ(ComPtr<IFoo>().CopyTo(&out), S_OK);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(moved.CopyTo(nullptr), E_POINTER);

        // Put releases what the pointer held before handing out its slot.
        ASSERT_EQ(raw->QueryInterface(IFoo::iid, adopted.PutVoid()), S_OK);
        EXPECT_EQ(raw->Count(), 4u);
        IFoo* detached = adopted.Detach();
        EXPECT_FALSE(adopted);
        detached->Release();
        EXPECT_EQ(raw->Count(), 3u);
    }
    EXPECT_EQ(raw->Count(), 1u);
    EXPECT_EQ(destroyed, 0);
    raw->Release();
    EXPECT_EQ(destroyed, 1);
}

class IOther : public IUnknown {
  public:
    static constexpr IID iid{0x0BADF00D, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};

  protected:
    ~IOther() = default;
};

TEST(ComPtr, AsReportsFailureAndEmptiness) {
    int destroyed = 0;
    ComPtr<IFoo> foo = MakeComObject<CFooBar>(&destroyed);
    ComPtr<IBar> bar;
    ASSERT_EQ(foo.As(bar), S_OK);
    EXPECT_EQ(bar->Bar(), 2);

    ComPtr<IOther> other;
    EXPECT_EQ(foo.As(other), E_NOINTERFACE);
    EXPECT_FALSE(other);
    EXPECT_EQ(ComPtr<IFoo>().As(bar), E_POINTER);
}

}  // namespace
