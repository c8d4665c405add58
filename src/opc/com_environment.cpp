#include "opc/com_environment.h"

#include <cstdlib>
#include <utility>

#include "com/activation.h"
#include "com/com_init.h"
#include "com/unicode.h"
#include "framework/ui_services.h"

namespace {

IMalloc* g_taskAllocator = nullptr;

ProcessExitFunction& ExitFunction() {
    static ProcessExitFunction exitFunction = [](int exitCode) { std::exit(exitCode); };
    return exitFunction;
}

void EndProcess(int exitCode) {
    const ProcessExitFunction exitFunction = ExitFunction();
    if (exitFunction) {
        exitFunction(exitCode);
    } else {
        std::exit(exitCode);
    }
}

}  // namespace

ProcessExitFunction SetProcessExitFunction(ProcessExitFunction exitFunction) {
    return std::exchange(ExitFunction(), std::move(exitFunction));
}

void InitComEnvironment() {
    if (FAILED(CoInitialize(nullptr))) {
        AfxMessageBox("Error from CoInitialize");
        EndProcess(1);
        return;
    }
    // No security descriptor and no authentication: every server callback, local or from
    // another node, is accepted, and servers may impersonate this client.
    const HRESULT hr =
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr)) {
        AfxMessageBox(Format("Error from CoInitializeSecurity: %lx", HrArg(hr)));
    }
    IMalloc* allocator = nullptr;
    if (FAILED(CoGetMalloc(MEMCTX_TASK, &allocator)) || allocator == nullptr) {
        AfxMessageBox("GetMalloc failed");
        CoUninitialize();
        EndProcess(1);
        return;
    }
    if (g_taskAllocator != nullptr) {
        g_taskAllocator->Release();
    }
    g_taskAllocator = allocator;
}

void ExitComEnvironment() {
    if (g_taskAllocator != nullptr) {
        g_taskAllocator->Release();
        g_taskAllocator = nullptr;
    }
    CoUninitialize();
}

IMalloc* TaskAllocator() {
    return g_taskAllocator;
}

void FreeTaskMemory(void* block) {
    if (block == nullptr) {
        return;
    }
    if (g_taskAllocator != nullptr) {
        g_taskAllocator->Free(block);
    } else {
        CoTaskMemFree(block);
    }
}

void ListServersOfCategory(REFCATID category, std::vector<std::string>& progIds) {
    ComPtr<ICatInformation> categories;
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICatInformation, categories.PutVoid())) ||
        !categories) {
        AfxMessageBox("CoCreate Failed\n");
        return;
    }
    ComPtr<IEnumGUID> classes;
    const CATID implemented[1] = {category};
    if (FAILED(categories->EnumClassesOfCategories(1, implemented, 0, nullptr, classes.Put())) ||
        !classes) {
        return;
    }
    CLSID clsid{};
    ULONG fetched = 0;
    while (classes->Next(1, &clsid, &fetched) == S_OK) {
        LPOLESTR progId = nullptr;
        if (FAILED(ProgIDFromCLSID(clsid, &progId)) || progId == nullptr) {
            Trace(std::string_view("ProgIDFromCLSID failed\n"));
            continue;
        }
        progIds.push_back(Utf16ToUtf8(progId));
        FreeTaskMemory(progId);
    }
}
