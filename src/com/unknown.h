#pragma once
// IUnknown, its reference-counted implementation base and the smart pointer that holds
// interface references.

#include <atomic>
#include <concepts>
#include <cstddef>
#include <utility>

#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"

inline constexpr IID IID_IUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IUnknown {
  public:
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

  protected:
    ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

// Binds an interface type to its IID: specialise for every interface, or give the interface a
// static member `iid`.
template <class I>
inline const IID& IidOf() {
    return I::iid;
}
template <>
inline const IID& IidOf<IUnknown>() {
    return IID_IUnknown;
}

// A counted reference to an interface. Adopts on Attach, adds a reference on copy.
template <class I>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Adds a reference to p.
    explicit ComPtr(I* p) : p_(p) {
        if (p_) {
            p_->AddRef();
        }
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    // From a pointer to a derived class or interface (an implementation class to one of its
    // interfaces, for example).
    template <class U>
    requires(!std::same_as<U, I> && std::convertible_to<U*, I*>) ComPtr(const ComPtr<U>& o)
        : ComPtr(static_cast<I*>(o.Get())) {}
    template <class U>
    requires(!std::same_as<U, I> && std::convertible_to<U*, I*>) ComPtr(ComPtr<U>&& o)
    noexcept : p_(o.Detach()) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }

    // Takes over a reference the caller already owns.
    static ComPtr Attach(I* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    I* Detach() { return std::exchange(p_, nullptr); }
    void Reset() {
        if (I* p = std::exchange(p_, nullptr)) {
            p->Release();
        }
    }
    I* Get() const { return p_; }
    I* operator->() const { return p_; }
    I& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out parameters: releases the current reference and hands out the slot.
    I** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    // Hands out a new reference through an out parameter, as interface methods do.
    HRESULT CopyTo(I** out) const {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = p_;
        if (p_) {
            p_->AddRef();
        }
        return S_OK;
    }

    // QueryInterface into another smart pointer.
    template <class J>
    HRESULT As(ComPtr<J>& out) const {
        if (!p_) {
            return E_POINTER;
        }
        return p_->QueryInterface(IidOf<J>(), out.PutVoid());
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

  private:
    I* p_ = nullptr;
};
