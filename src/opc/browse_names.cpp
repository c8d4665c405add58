#include "opc/browse_names.h"

#include "com/unicode.h"
#include "framework/ui_services.h"
#include "opc/com_environment.h"

HRESULT ReadBrowseNames(IEnumString& names, const std::function<void(std::string name)>& take) {
    HRESULT hr = S_FALSE;
    for (std::size_t count = 0; count < kMaxBrowseNames; ++count) {
        LPOLESTR name = nullptr;
        ULONG fetched = 0;
        hr = names.Next(1, &name, &fetched);
        if (hr != S_OK) {
            FreeTaskMemory(name);
            break;
        }
        if (name != nullptr) {
            take(Utf16ToUtf8(name));
            FreeTaskMemory(name);
        }
    }
    return hr;
}

void ReportBrowseNamesEnd(HRESULT lastNext) {
    if (FAILED(lastNext)) {
        AfxMessageBox(Format("Erorr from Next(%lx)", HrArg(lastNext)));
    }
}
