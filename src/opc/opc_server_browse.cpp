// The browse operations of a server connection: the position lives in the server, and the
// browse interface is asked for anew by every operation.

#include "com/unicode.h"
#include "framework/ui_services.h"
#include "opc/browse_names.h"
#include "opc/com_environment.h"
#include "opc/opc_server.h"
#include "opcda/browse.h"

namespace {

ComPtr<IOPCBrowseServerAddressSpace> BrowseInterface(const ComPtr<IUnknown>& server) {
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    if (!server || FAILED(server.As(browse))) {
        return nullptr;
    }
    return browse;
}

}  // namespace

void COPCServer::SetBrowseFilter(std::string newFilterText, VARTYPE newDataTypeFilter,
                                 DWORD newAccessRightsFilter) {
    filterText = std::move(newFilterText);
    dataTypeFilter = newDataTypeFilter;
    accessRightsFilter = newAccessRightsFilter;
}

bool COPCServer::MoveBrowsePosition(OPCBROWSEDIRECTION direction, std::string_view name) {
    const ComPtr<IOPCBrowseServerAddressSpace> browse = BrowseInterface(serverObject_);
    if (!browse) {
        return false;
    }
    const std::u16string wideName = Utf8ToUtf16(name);
    return browse->ChangeBrowsePosition(direction, wideName.c_str()) == S_OK;
}

bool COPCServer::ListBrowseNames(OPCBROWSETYPE type, std::vector<std::string>& names) {
    const ComPtr<IOPCBrowseServerAddressSpace> browse = BrowseInterface(serverObject_);
    if (!browse) {
        return false;
    }
    const std::u16string wideFilter = Utf8ToUtf16(filterText);
    ComPtr<IEnumString> found;
    const HRESULT hr = browse->BrowseOPCItemIDs(type, wideFilter.c_str(), dataTypeFilter,
                                                accessRightsFilter, found.Put());
    if (FAILED(hr)) {
        AfxMessageBox("Error from BrowseItemIDs");
        return false;
    }
    names.clear();
    if (found) {
        ReportBrowseNamesEnd(ReadBrowseNames(
            *found, [&names](std::string name) { names.push_back(std::move(name)); }));
    }
    return true;
}

std::string COPCServer::GetFullItemId(std::string_view leafName) {
    const ComPtr<IOPCBrowseServerAddressSpace> browse = BrowseInterface(serverObject_);
    if (!browse) {
        return {};
    }
    std::u16string wideName = Utf8ToUtf16(leafName);
    LPWSTR itemId = nullptr;
    const HRESULT hr = browse->GetItemID(wideName.data(), &itemId);
    std::string result;
    if (SUCCEEDED(hr) && itemId != nullptr) {
        result = Utf16ToUtf8(itemId);
    }
    FreeTaskMemory(itemId);
    return result;
}
