#pragma once
// IClassFactory: the class object through which activation creates instances of a class.

#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"
#include "com/unknown.h"

inline constexpr IID IID_IClassFactory{
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IClassFactory : public IUnknown {
  public:
    static constexpr IID iid = IID_IClassFactory;

    // pUnkOuter is the controlling unknown for aggregation (CLASS_E_NOAGGREGATION when the
    // class does not support it).
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;

  protected:
    ~IClassFactory() = default;
};
using LPCLASSFACTORY = IClassFactory*;
