#include "com/categories.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "com/class_factory.h"
#include "com/com_object.h"
#include "com/registry.h"

namespace {

constexpr ULONG kAny = static_cast<ULONG>(-1);

// The sub-keys of a key whose names are GUIDs, in key order; others are passed over.
std::vector<GUID> GuidSubKeys(HKEY root, const std::string& path) {
    std::vector<GUID> guids;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return guids;
    }
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD size = sizeof name;
        const LSTATUS status =
            RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) {
            continue;  // too long to be a GUID
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        if (const std::optional<GUID> guid = GuidFromString(std::string_view(name, size))) {
            guids.push_back(*guid);
        }
    }
    RegCloseKey(key);
    return guids;
}

struct Conditions {
    ULONG cImplemented;
    const CATID* implemented;
    ULONG cRequired;
    const CATID* required;

    HRESULT Check() const {
        if (cImplemented == 0 || (cImplemented != kAny && implemented == nullptr) ||
            (cRequired != kAny && cRequired != 0 && required == nullptr)) {
            return E_INVALIDARG;
        }
        return S_OK;
    }

    static bool Contains(const CATID* list, ULONG count, const CATID& id) {
        return std::find(list, list + count, id) != list + count;
    }

    bool Met(HKEY classes, const std::string& classKey) const {
        if (cImplemented != kAny) {
            const std::vector<GUID> impl =
                GuidSubKeys(classes, classKey + "\\Implemented Categories");
            const bool any = std::any_of(impl.begin(), impl.end(), [&](const CATID& id) {
                return Contains(implemented, cImplemented, id);
            });
            if (!any) {
                return false;
            }
        }
        if (cRequired != kAny) {
            const std::vector<GUID> req = GuidSubKeys(classes, classKey + "\\Required Categories");
            return std::all_of(req.begin(), req.end(), [&](const CATID& id) {
                return cRequired != 0 && Contains(required, cRequired, id);
            });
        }
        return true;
    }
};

std::string ClassKey(REFCLSID clsid) {
    return GuidToString(clsid);
}

class CStdComponentCategoriesMgr final : public ComObject<ICatInformation> {
  public:
    HRESULT EnumCategories(LCID /*lcid*/, IEnumCATEGORYINFO** ppenumCategoryInfo) override {
        if (ppenumCategoryInfo != nullptr) {
            *ppenumCategoryInfo = nullptr;
        }
        return E_NOTIMPL;
    }

    HRESULT GetCategoryDesc(REFCATID /*rcatid*/, LCID /*lcid*/, LPWSTR* pszDesc) override {
        if (pszDesc != nullptr) {
            *pszDesc = nullptr;
        }
        return E_NOTIMPL;
    }

    HRESULT EnumClassesOfCategories(ULONG cImplemented, const CATID rgcatidImpl[], ULONG cRequired,
                                    const CATID rgcatidReq[], IEnumGUID** ppenumClsid) override {
        if (ppenumClsid == nullptr) {
            return E_POINTER;
        }
        *ppenumClsid = nullptr;
        const Conditions conditions{cImplemented, rgcatidImpl, cRequired, rgcatidReq};
        if (const HRESULT hr = conditions.Check(); FAILED(hr)) {
            return hr;
        }
        try {
            HKEY classes = nullptr;
            std::vector<GUID> found;
            if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &classes) == ERROR_SUCCESS) {
                for (const GUID& clsid : GuidSubKeys(classes, "")) {
                    if (conditions.Met(classes, ClassKey(clsid))) {
                        found.push_back(clsid);
                    }
                }
                RegCloseKey(classes);
            }
            return CreateEnumGUID(std::move(found), ppenumClsid);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT IsClassOfCategories(REFCLSID rclsid, ULONG cImplemented, const CATID rgcatidImpl[],
                                ULONG cRequired, const CATID rgcatidReq[]) override {
        const Conditions conditions{cImplemented, rgcatidImpl, cRequired, rgcatidReq};
        if (const HRESULT hr = conditions.Check(); FAILED(hr)) {
            return hr;
        }
        try {
            return conditions.Met(HKEY_CLASSES_ROOT, "CLSID\\" + ClassKey(rclsid)) ? S_OK : S_FALSE;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT EnumImplCategoriesOfClass(REFCLSID rclsid, IEnumGUID** ppenumCatid) override {
        return EnumCategoriesOf(rclsid, "\\Implemented Categories", ppenumCatid);
    }

    HRESULT EnumReqCategoriesOfClass(REFCLSID rclsid, IEnumGUID** ppenumCatid) override {
        return EnumCategoriesOf(rclsid, "\\Required Categories", ppenumCatid);
    }

  private:
    static HRESULT EnumCategoriesOf(REFCLSID clsid, const char* subKey, IEnumGUID** ppenum) {
        if (ppenum == nullptr) {
            return E_POINTER;
        }
        *ppenum = nullptr;
        try {
            return CreateEnumGUID(
                GuidSubKeys(HKEY_CLASSES_ROOT, "CLSID\\" + ClassKey(clsid) + subKey), ppenum);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
};

class CStdComponentCategoriesMgrFactory final : public ComObject<IClassFactory> {
  public:
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        *ppvObject = nullptr;
        if (pUnkOuter != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        try {
            return MakeComObject<CStdComponentCategoriesMgr>()->QueryInterface(riid, ppvObject);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT LockServer(BOOL /*fLock*/) override { return S_OK; }
};

}  // namespace

HRESULT GetStdComponentCategoriesMgrClassObject(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    try {
        return MakeComObject<CStdComponentCategoriesMgrFactory>()->QueryInterface(riid, ppv);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
