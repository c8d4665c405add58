#pragma once
// IOPCBrowseServerAddressSpace: walking a server's tree of branches and leaves. The browse
// position lives in the server, one per client connection.

#include "com/enum.h"
#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"
#include "com/unknown.h"
#include "opcda/ids.h"
#include "opcda/types.h"

class IOPCBrowseServerAddressSpace : public IUnknown {
  public:
    static constexpr IID iid = IID_IOPCBrowseServerAddressSpace;

    virtual HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) = 0;
    // Up (szString ignored), down into the branch szString, or to the fully qualified branch
    // szString ("" is the top).
    virtual HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                         LPCWSTR szString) = 0;
    // The branch or leaf names at the position (all item ids for OPC_FLAT) that pass the
    // filters; S_FALSE with an empty enumerator when none does.
    virtual HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                     VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                     LPENUMSTRING* ppIEnumString) = 0;
    // The fully qualified item id of a name at the position.
    virtual HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) = 0;
    virtual HRESULT BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) = 0;

  protected:
    ~IOPCBrowseServerAddressSpace() = default;
};
