#pragma once
// Component categories: which classes implement which categories, as the registry records it
// (HKEY_CLASSES_ROOT\CLSID\{...}\Implemented Categories\{CATID} and Required Categories).
// The component categories manager is a built-in in-process class:
//
//   CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
//                    IID_ICatInformation, ...)

#include "com/enum.h"
#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"
#include "com/unknown.h"

inline constexpr CLSID CLSID_StdComponentCategoriesMgr{
    0x0002E005, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumCATEGORYINFO{
    0x0002E011, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_ICatInformation{
    0x0002E013, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

using REFCATID = const CATID&;

struct CATEGORYINFO {
    CATID catid;
    LCID lcid;
    OLECHAR szDescription[128];
};

class IEnumCATEGORYINFO : public IUnknown {
  public:
    static constexpr IID iid = IID_IEnumCATEGORYINFO;
    virtual HRESULT Next(ULONG celt, CATEGORYINFO* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumCATEGORYINFO** ppenum) = 0;

  protected:
    ~IEnumCATEGORYINFO() = default;
};

class ICatInformation : public IUnknown {
  public:
    static constexpr IID iid = IID_ICatInformation;

    // Not offered here: E_NOTIMPL.
    virtual HRESULT EnumCategories(LCID lcid, IEnumCATEGORYINFO** ppenumCategoryInfo) = 0;
    // Not offered here: E_NOTIMPL.
    virtual HRESULT GetCategoryDesc(REFCATID rcatid, LCID lcid, LPWSTR* pszDesc) = 0;
    // The classes that implement at least one of rgcatidImpl and require nothing outside
    // rgcatidReq, in the registry's key order. A count of (ULONG)-1 drops that condition;
    // cImplemented 0 is E_INVALIDARG.
    virtual HRESULT EnumClassesOfCategories(ULONG cImplemented, const CATID rgcatidImpl[],
                                            ULONG cRequired, const CATID rgcatidReq[],
                                            IEnumGUID** ppenumClsid) = 0;
    // S_OK when the class meets the same conditions, S_FALSE when not.
    virtual HRESULT IsClassOfCategories(REFCLSID rclsid, ULONG cImplemented,
                                        const CATID rgcatidImpl[], ULONG cRequired,
                                        const CATID rgcatidReq[]) = 0;
    virtual HRESULT EnumImplCategoriesOfClass(REFCLSID rclsid, IEnumGUID** ppenumCatid) = 0;
    virtual HRESULT EnumReqCategoriesOfClass(REFCLSID rclsid, IEnumGUID** ppenumCatid) = 0;

  protected:
    ~ICatInformation() = default;
};

// The class object (IClassFactory) of the component categories manager; activation hands it out.
HRESULT GetStdComponentCategoriesMgrClassObject(REFIID riid, void** ppv);
