#include "com/com_init.h"

#include <mutex>

namespace {

// The calling thread's initialisation: how many successful CoInitialize(Ex) calls are not yet
// balanced, and the threading model the first one chose.
struct ThreadInit {
    int count = 0;
    bool multithreaded = false;
};
thread_local ThreadInit t_init;

struct ProcessSecurity {
    std::mutex mutex;
    std::optional<ComSecuritySettings> settings;
};
ProcessSecurity& Security() {
    static ProcessSecurity security;
    return security;
}

constexpr DWORD kKnownCoInitFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

}  // namespace

HRESULT CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    ComTestHooks& hooks = GetComTestHooks();
    hooks.coInitializeCalls.fetch_add(1);
    if (const HRESULT injected = hooks.failCoInitialize.load(); FAILED(injected)) {
        return injected;
    }
    if (pvReserved != nullptr || (dwCoInit & ~kKnownCoInitFlags) != 0) {
        return E_INVALIDARG;
    }
    const bool multithreaded = (dwCoInit & COINIT_APARTMENTTHREADED) == 0;
    if (t_init.count > 0) {
        if (t_init.multithreaded != multithreaded) {
            return RPC_E_CHANGED_MODE;
        }
        ++t_init.count;
        return S_FALSE;
    }
    t_init.count = 1;
    t_init.multithreaded = multithreaded;
    return S_OK;
}

void CoUninitialize() {
    GetComTestHooks().coUninitializeCalls.fetch_add(1);
    if (t_init.count > 0) {
        --t_init.count;
    }
}

HRESULT CoGetApartmentType(APTTYPE* pAptType, APTTYPEQUALIFIER* pAptQualifier) {
    if (pAptType == nullptr || pAptQualifier == nullptr) {
        return E_INVALIDARG;
    }
    *pAptQualifier = APTTYPEQUALIFIER_NONE;
    if (t_init.count == 0) {
        *pAptType = APTTYPE_CURRENT;
        return CO_E_NOTINITIALIZED;
    }
    *pAptType = t_init.multithreaded ? APTTYPE_MTA : APTTYPE_STA;
    return S_OK;
}

HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR pSecDesc, LONG cAuthSvc,
                             SOLE_AUTHENTICATION_SERVICE* asAuthSvc, void* pReserved1,
                             DWORD dwAuthnLevel, DWORD dwImpLevel, void* pAuthList,
                             DWORD dwCapabilities, void* pReserved3) {
    ComTestHooks& hooks = GetComTestHooks();
    hooks.coInitializeSecurityCalls.fetch_add(1);
    if (const HRESULT injected = hooks.failCoInitializeSecurity.load(); FAILED(injected)) {
        return injected;
    }
    if (t_init.count == 0) {
        return CO_E_NOTINITIALIZED;
    }
    if (pReserved1 != nullptr || pReserved3 != nullptr || cAuthSvc < -1 ||
        (cAuthSvc > 0 && asAuthSvc == nullptr) || dwAuthnLevel > RPC_C_AUTHN_LEVEL_PKT_PRIVACY ||
        dwImpLevel > RPC_C_IMP_LEVEL_DELEGATE) {
        return E_INVALIDARG;
    }
    ProcessSecurity& security = Security();
    const std::lock_guard lock(security.mutex);
    if (security.settings) {
        return RPC_E_TOO_LATE;
    }
    security.settings = ComSecuritySettings{
        .hasSecurityDescriptor = pSecDesc != nullptr,
        .cAuthSvc = cAuthSvc,
        .hasAuthServices = asAuthSvc != nullptr,
        .dwAuthnLevel = dwAuthnLevel,
        .dwImpLevel = dwImpLevel,
        .hasAuthList = pAuthList != nullptr,
        .dwCapabilities = dwCapabilities,
    };
    return S_OK;
}

std::optional<ComSecuritySettings> CoGetProcessSecurity() {
    ProcessSecurity& security = Security();
    const std::lock_guard lock(security.mutex);
    return security.settings;
}

void ComTestHooks::Reset() {
    failCoInitialize = S_OK;
    failCoInitializeSecurity = S_OK;
    failCoGetMalloc = S_OK;
    coInitializeCalls = 0;
    coInitializeSecurityCalls = 0;
    coGetMallocCalls = 0;
    coUninitializeCalls = 0;
    {
        ProcessSecurity& security = Security();
        const std::lock_guard lock(security.mutex);
        security.settings.reset();
    }
    t_init = ThreadInit{};
}

ComTestHooks& GetComTestHooks() {
    static ComTestHooks hooks;
    return hooks;
}
