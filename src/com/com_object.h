#pragma once
// ComObject: the reference-counted implementation base of every COM object in the program.
//
//   class CSink final : public ComObject<IAdviseSink> { ... };
//   ComPtr<CSink> sink = MakeComObject<CSink>(args...);
//
// QueryInterface answers IID_IUnknown and the IID of every listed interface; a derived class
// answers further IIDs (base interfaces of a listed one, tear-offs) by overriding
// QueryExtraInterface. A null out-pointer gives E_POINTER; a class that must answer otherwise
// overrides QueryInterface and calls this one for the rest. The object deletes itself when the
// last reference goes.
//
// Objects are created only through MakeComObject. The count is 1 from construction on and
// that reference goes to the ComPtr MakeComObject returns, so a constructor that hands out and
// takes back references to the object under construction cannot destroy it.

#include <atomic>
#include <type_traits>
#include <utility>

#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"
#include "com/unknown.h"

template <class... Interfaces>
class ComObject : public Interfaces... {
    static_assert(sizeof...(Interfaces) > 0, "a COM object implements at least one interface");
    static_assert((std::is_base_of_v<IUnknown, Interfaces> && ...),
                  "every interface derives from IUnknown");

  public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        *ppvObject = nullptr;
        void* found = nullptr;
        if (riid == IID_IUnknown) {
            found = GetUnknown();
        } else {
            found = FindListed<Interfaces...>(riid);
            if (found == nullptr) {
                found = QueryExtraInterface(riid);
            }
        }
        if (found == nullptr) {
            return E_NOINTERFACE;
        }
        AddRef();
        *ppvObject = found;
        return S_OK;
    }

    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

    ULONG Release() override {
        const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    // The object's identity: the IUnknown every QueryInterface(IID_IUnknown) returns.
    IUnknown* GetUnknown() { return static_cast<FirstInterface*>(this); }

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;

    // Answers an IID beyond the listed interfaces: return the interface pointer without adding
    // a reference (QueryInterface adds it), or nullptr when the object does not have it.
    virtual void* QueryExtraInterface(REFIID /*riid*/) { return nullptr; }

    // The current count, for diagnostics and tests; it may change at any moment.
    ULONG RefCount() const { return refs_.load(std::memory_order_relaxed); }

  private:
    // The first listed interface whose IID matches wins.
    template <class I, class... Rest>
    void* FindListed(REFIID riid) {
        if (riid == IidOf<I>()) {
            return static_cast<I*>(this);
        }
        if constexpr (sizeof...(Rest) > 0) {
            return FindListed<Rest...>(riid);
        } else {
            return nullptr;
        }
    }

    template <class First, class...>
    struct FirstOf {
        using type = First;
    };
    using FirstInterface = typename FirstOf<Interfaces...>::type;

    std::atomic<ULONG> refs_{1};
};

// Creates a COM object on the heap and returns its first reference. A constructor that throws
// leaves nothing behind.
template <class T, class... Args>
ComPtr<T> MakeComObject(Args&&... args) {
    return ComPtr<T>::Attach(new T(std::forward<Args>(args)...));
}
