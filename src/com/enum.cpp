#include "com/enum.h"

#include <cstring>

HRESULT EnumCopyString::Copy(LPOLESTR* to, const std::u16string& from) {
    const std::size_t bytes = (from.size() + 1) * sizeof(OLECHAR);
    auto* text = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (text == nullptr) {
        *to = nullptr;
        return E_OUTOFMEMORY;
    }
    std::memcpy(text, from.c_str(), bytes);
    *to = text;
    return S_OK;
}

void EnumCopyString::Destroy(LPOLESTR* to) {
    CoTaskMemFree(*to);
    *to = nullptr;
}

namespace {

template <class Enum, class Interface, class Items>
HRESULT CreateEnum(Items items, Interface** ppEnum) {
    if (ppEnum == nullptr) {
        return E_POINTER;
    }
    *ppEnum = nullptr;
    try {
        *ppEnum = MakeComObject<Enum>(std::move(items)).Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace

HRESULT CreateEnumString(std::vector<std::u16string> items, IEnumString** ppEnum) {
    return CreateEnum<CEnumString>(std::move(items), ppEnum);
}
HRESULT CreateEnumUnknown(std::vector<ComPtr<IUnknown>> items, IEnumUnknown** ppEnum) {
    return CreateEnum<CEnumUnknown>(std::move(items), ppEnum);
}
HRESULT CreateEnumGUID(std::vector<GUID> items, IEnumGUID** ppEnum) {
    return CreateEnum<CEnumGUID>(std::move(items), ppEnum);
}

ComPtr<IEnumString> MakeEnumString(std::vector<std::u16string> items) {
    return MakeComObject<CEnumString>(std::move(items));
}
ComPtr<IEnumUnknown> MakeEnumUnknown(std::vector<ComPtr<IUnknown>> items) {
    return MakeComObject<CEnumUnknown>(std::move(items));
}
ComPtr<IEnumGUID> MakeEnumGUID(std::vector<GUID> items) {
    return MakeComObject<CEnumGUID>(std::move(items));
}
