#pragma once
// Enumerators: IEnumString, IEnumUnknown and IEnumGUID, and CEnumOnVector, the implementation
// every enumerator of the program uses (here and for connections, connection points, formats
// and advise connections).
//
// Next(celt, rgelt, pceltFetched) hands out up to celt elements and returns S_OK when it could
// give all of them, S_FALSE when the sequence ended first (pceltFetched tells how many came).
// pceltFetched may be null only when celt is 1. What Next hands out belongs to the caller:
// strings are task-allocator blocks (CoTaskMemFree), interface pointers carry a reference.

#include <algorithm>
#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "com/com_object.h"
#include "com/guid.h"
#include "com/hresult.h"
#include "com/malloc.h"
#include "com/types.h"
#include "com/unknown.h"

inline constexpr IID IID_IEnumUnknown{
    0x00000100, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumString{
    0x00000101, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumGUID{
    0x0002E000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IEnumUnknown : public IUnknown {
  public:
    static constexpr IID iid = IID_IEnumUnknown;
    virtual HRESULT Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumUnknown** ppenum) = 0;

  protected:
    ~IEnumUnknown() = default;
};
using LPENUMUNKNOWN = IEnumUnknown*;

class IEnumString : public IUnknown {
  public:
    static constexpr IID iid = IID_IEnumString;
    virtual HRESULT Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumString** ppenum) = 0;

  protected:
    ~IEnumString() = default;
};
using LPENUMSTRING = IEnumString*;

class IEnumGUID : public IUnknown {
  public:
    static constexpr IID iid = IID_IEnumGUID;
    virtual HRESULT Next(ULONG celt, GUID* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumGUID** ppenum) = 0;

  protected:
    ~IEnumGUID() = default;
};
using IEnumCLSID = IEnumGUID;
using IEnumCATID = IEnumGUID;
using LPENUMGUID = IEnumGUID*;

// How an enumerator hands out an element. Copy fills *to from what the enumerator keeps;
// Destroy undoes one Copy (used when a later copy of the same Next fails).
struct EnumCopyPlain {
    template <class T>
    static HRESULT Copy(T* to, const T& from) {
        *to = from;
        return S_OK;
    }
    template <class T>
    static void Destroy(T* /*to*/) {}
};

struct EnumCopyString {
    static HRESULT Copy(LPOLESTR* to, const std::u16string& from);
    static void Destroy(LPOLESTR* to);
};

struct EnumCopyInterface {
    template <class I>
    static HRESULT Copy(I** to, const ComPtr<I>& from) {
        return from.CopyTo(to);
    }
    template <class I>
    static void Destroy(I** to) {
        if (*to != nullptr) {
            (*to)->Release();
            *to = nullptr;
        }
    }
};

// An enumerator over a fixed sequence. Clones share the sequence and start at the position of
// their original. Safe to call from several threads.
template <class Interface, class Element, class Stored, class Policy>
class CEnumOnVector final : public ComObject<Interface> {
  public:
    using Items = std::vector<Stored>;

    explicit CEnumOnVector(Items items) : items_(std::make_shared<const Items>(std::move(items))) {}
    CEnumOnVector(std::shared_ptr<const Items> items, std::size_t position)
        : items_(std::move(items)), position_(position) {}

    HRESULT Next(ULONG celt, Element* rgelt, ULONG* pceltFetched) override {
        if (pceltFetched != nullptr) {
            *pceltFetched = 0;
        }
        if (celt == 0) {
            return S_OK;
        }
        if (rgelt == nullptr || (celt > 1 && pceltFetched == nullptr)) {
            return E_POINTER;
        }
        const std::lock_guard lock(mutex_);
        const std::size_t count = std::min<std::size_t>(celt, items_->size() - position_);
        for (std::size_t i = 0; i < count; ++i) {
            const HRESULT hr = Policy::Copy(&rgelt[i], (*items_)[position_ + i]);
            if (FAILED(hr)) {
                // Nothing of a failed call stays with the caller.
                for (std::size_t j = 0; j < i; ++j) {
                    Policy::Destroy(&rgelt[j]);
                }
                return hr;
            }
        }
        position_ += count;
        if (pceltFetched != nullptr) {
            *pceltFetched = static_cast<ULONG>(count);
        }
        return count == celt ? S_OK : S_FALSE;
    }

    HRESULT Skip(ULONG celt) override {
        const std::lock_guard lock(mutex_);
        const std::size_t left = items_->size() - position_;
        if (celt > left) {
            position_ = items_->size();
            return S_FALSE;
        }
        position_ += celt;
        return S_OK;
    }

    HRESULT Reset() override {
        const std::lock_guard lock(mutex_);
        position_ = 0;
        return S_OK;
    }

    HRESULT Clone(Interface** ppenum) override {
        if (ppenum == nullptr) {
            return E_POINTER;
        }
        *ppenum = nullptr;
        std::size_t position = 0;
        {
            const std::lock_guard lock(mutex_);
            position = position_;
        }
        try {
            *ppenum = MakeComObject<CEnumOnVector>(items_, position).Detach();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

  private:
    const std::shared_ptr<const Items> items_;
    std::mutex mutex_;
    std::size_t position_ = 0;
};

using CEnumString = CEnumOnVector<IEnumString, LPOLESTR, std::u16string, EnumCopyString>;
using CEnumUnknown = CEnumOnVector<IEnumUnknown, IUnknown*, ComPtr<IUnknown>, EnumCopyInterface>;
using CEnumGUID = CEnumOnVector<IEnumGUID, GUID, GUID, EnumCopyPlain>;

// Creates an enumerator and hands it out through an out parameter, as interface methods do:
// E_POINTER for a null ppEnum, E_OUTOFMEMORY when it cannot be made.
HRESULT CreateEnumString(std::vector<std::u16string> items, IEnumString** ppEnum);
HRESULT CreateEnumUnknown(std::vector<ComPtr<IUnknown>> items, IEnumUnknown** ppEnum);
HRESULT CreateEnumGUID(std::vector<GUID> items, IEnumGUID** ppEnum);

// The same for C++ callers; these throw std::bad_alloc when memory runs out.
ComPtr<IEnumString> MakeEnumString(std::vector<std::u16string> items);
ComPtr<IEnumUnknown> MakeEnumUnknown(std::vector<ComPtr<IUnknown>> items);
ComPtr<IEnumGUID> MakeEnumGUID(std::vector<GUID> items);
