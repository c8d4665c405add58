#include "sim/item_enum.h"

#include <algorithm>
#include <new>

#include "sim/task_memory.h"

namespace {

void FreeAttributes(OPCITEMATTRIBUTES& a) {
    CoTaskMemFree(a.szAccessPath);
    CoTaskMemFree(a.szItemID);
    CoTaskMemFree(a.pBlob);
    VariantClear(&a.vEUInfo);
}

HRESULT FillAttributes(const ItemAttributes& from, OPCITEMATTRIBUTES& to) {
    VariantInit(&to.vEUInfo);
    to.szAccessPath = TaskString(u"");
    to.szItemID = TaskString(from.itemId);
    if (to.szAccessPath == nullptr || to.szItemID == nullptr) {
        return E_OUTOFMEMORY;
    }
    to.bActive = from.active ? TRUE : FALSE;
    to.hClient = from.clientHandle;
    to.hServer = from.serverHandle;
    to.dwAccessRights = from.accessRights;
    to.dwBlobSize = 0;
    to.pBlob = nullptr;
    to.vtRequestedDataType = from.requestedType;
    to.vtCanonicalDataType = from.canonicalType;
    to.dwEUType = from.analog ? OPC_ANALOG : OPC_NOENUM;
    if (from.analog) {
        SAFEARRAY* range = SafeArrayCreateVector(VT_R8, 0, 2);
        if (range == nullptr) {
            return E_OUTOFMEMORY;
        }
        LONG index = 0;
        SafeArrayPutElement(range, &index, &from.low);
        index = 1;
        SafeArrayPutElement(range, &index, &from.high);
        to.vEUInfo.vt = VT_ARRAY | VT_R8;
        to.vEUInfo.parray = range;
    }
    return S_OK;
}

}  // namespace

HRESULT SimItemEnum::Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) {
    if (pceltFetched != nullptr) {
        *pceltFetched = 0;
    }
    if (ppItemArray == nullptr || (celt > 1 && pceltFetched == nullptr)) {
        return E_POINTER;
    }
    *ppItemArray = nullptr;
    const std::lock_guard lock(mutex_);
    const std::size_t count = std::min<std::size_t>(celt, items_->size() - position_);
    if (count == 0) {
        return celt == 0 ? S_OK : S_FALSE;
    }
    TaskArray<OPCITEMATTRIBUTES> array(count);
    if (!array) {
        return E_OUTOFMEMORY;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (FAILED(FillAttributes((*items_)[position_ + i], array[i]))) {
            for (std::size_t j = 0; j <= i; ++j) {
                FreeAttributes(array[j]);
            }
            return E_OUTOFMEMORY;
        }
    }
    position_ += count;
    *ppItemArray = array.Release();
    if (pceltFetched != nullptr) {
        *pceltFetched = static_cast<ULONG>(count);
    }
    return count == celt ? S_OK : S_FALSE;
}

HRESULT SimItemEnum::Skip(ULONG celt) {
    const std::lock_guard lock(mutex_);
    const std::size_t left = items_->size() - position_;
    if (celt > left) {
        position_ = items_->size();
        return S_FALSE;
    }
    position_ += celt;
    return S_OK;
}

HRESULT SimItemEnum::Reset() {
    const std::lock_guard lock(mutex_);
    position_ = 0;
    return S_OK;
}

HRESULT SimItemEnum::Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) {
    if (ppEnumItemAttributes == nullptr) {
        return E_POINTER;
    }
    *ppEnumItemAttributes = nullptr;
    std::size_t position = 0;
    {
        const std::lock_guard lock(mutex_);
        position = position_;
    }
    try {
        *ppEnumItemAttributes = MakeComObject<SimItemEnum>(items_, position).Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
