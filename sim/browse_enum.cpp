#include "sim/browse_enum.h"

#include <algorithm>
#include <new>

#include "sim/task_memory.h"

HRESULT SimBrowseEnum::Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) {
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
    const std::size_t count = std::min<std::size_t>(celt, names_->size() - position_);
    if (failAfter_ != 0 && count != 0 && position_ + count > failAfter_) {
        position_ = std::max(position_, failAfter_);
        return failure_;
    }
    for (std::size_t i = 0; i < count; ++i) {
        rgelt[i] = TaskString((*names_)[position_ + i]);
        if (rgelt[i] == nullptr) {
            for (std::size_t j = 0; j < i; ++j) {
                CoTaskMemFree(rgelt[j]);
                rgelt[j] = nullptr;
            }
            return E_OUTOFMEMORY;
        }
    }
    position_ += count;
    if (pceltFetched != nullptr) {
        *pceltFetched = static_cast<ULONG>(count);
    }
    return count == celt ? S_OK : S_FALSE;
}

HRESULT SimBrowseEnum::Skip(ULONG celt) {
    const std::lock_guard lock(mutex_);
    const std::size_t left = names_->size() - position_;
    if (celt > left) {
        position_ = names_->size();
        return S_FALSE;
    }
    position_ += celt;
    return S_OK;
}

HRESULT SimBrowseEnum::Reset() {
    const std::lock_guard lock(mutex_);
    position_ = 0;
    return S_OK;
}

HRESULT SimBrowseEnum::Clone(IEnumString** ppenum) {
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
        *ppenum = MakeComObject<SimBrowseEnum>(names_, position, failAfter_, failure_).Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
