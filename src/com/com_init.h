#pragma once
// COM start-up and shut-down: per-thread initialisation, process-wide security, and the test
// hooks through which tests make these calls fail and count them.

#include <atomic>
#include <mutex>
#include <optional>

#include "com/hresult.h"
#include "com/types.h"

enum COINIT : DWORD {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8,
};

// Per thread: the first successful call initialises the thread (S_OK), further calls of the
// same kind only count (S_FALSE) and each needs its CoUninitialize. Asking for the other
// threading model on an initialised thread gives RPC_E_CHANGED_MODE; a non-null reserved
// pointer or unknown flags give E_INVALIDARG.
HRESULT CoInitialize(LPVOID pvReserved);
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
// Undoes one successful CoInitialize(Ex) of the calling thread; the last one leaves it
// uninitialised. Does nothing on a thread that is not initialised.
void CoUninitialize();

enum APTTYPE : int {
    APTTYPE_CURRENT = -1,
    APTTYPE_STA = 0,
    APTTYPE_MTA = 1,
    APTTYPE_NA = 2,
    APTTYPE_MAINSTA = 3,
};
enum APTTYPEQUALIFIER : int {
    APTTYPEQUALIFIER_NONE = 0,
};
// The apartment of the calling thread; CO_E_NOTINITIALIZED when it has none.
HRESULT CoGetApartmentType(APTTYPE* pAptType, APTTYPEQUALIFIER* pAptQualifier);

using PSECURITY_DESCRIPTOR = void*;

struct SOLE_AUTHENTICATION_SERVICE {
    DWORD dwAuthnSvc;
    DWORD dwAuthzSvc;
    OLECHAR* pPrincipalName;
    HRESULT hr;
};

inline constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_NONE = 1;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_CONNECT = 2;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_CALL = 3;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_PKT = 4;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_PKT_INTEGRITY = 5;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_PKT_PRIVACY = 6;

inline constexpr DWORD RPC_C_IMP_LEVEL_DEFAULT = 0;
inline constexpr DWORD RPC_C_IMP_LEVEL_ANONYMOUS = 1;
inline constexpr DWORD RPC_C_IMP_LEVEL_IDENTIFY = 2;
inline constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
inline constexpr DWORD RPC_C_IMP_LEVEL_DELEGATE = 4;

inline constexpr DWORD EOAC_NONE = 0;

// Sets the security of the whole process, once: the calling thread must be initialised
// (CO_E_NOTINITIALIZED), and a second successful call gives RPC_E_TOO_LATE. Levels out of range
// and a positive cAuthSvc without asAuthSvc give E_INVALIDARG.
HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR pSecDesc, LONG cAuthSvc,
                             SOLE_AUTHENTICATION_SERVICE* asAuthSvc, void* pReserved1,
                             DWORD dwAuthnLevel, DWORD dwImpLevel, void* pAuthList,
                             DWORD dwCapabilities, void* pReserved3);

// The process's security settings as CoInitializeSecurity left them (the pointers only as
// whether they were given).
struct ComSecuritySettings {
    bool hasSecurityDescriptor = false;
    LONG cAuthSvc = 0;
    bool hasAuthServices = false;
    DWORD dwAuthnLevel = 0;
    DWORD dwImpLevel = 0;
    bool hasAuthList = false;
    DWORD dwCapabilities = 0;
};
// Empty until CoInitializeSecurity has succeeded.
std::optional<ComSecuritySettings> CoGetProcessSecurity();

// For tests of code that starts COM. A failure code set in one of the fail* fields makes every
// following call of that function return it (without any effect) until it is set back to S_OK.
// The counts include failed calls. Reset() clears all of it, forgets the process security and
// leaves the calling thread uninitialised.
struct ComTestHooks {
    std::atomic<HRESULT> failCoInitialize{S_OK};  // CoInitialize and CoInitializeEx
    std::atomic<HRESULT> failCoInitializeSecurity{S_OK};
    std::atomic<HRESULT> failCoGetMalloc{S_OK};

    std::atomic<int> coInitializeCalls{0};  // CoInitialize and CoInitializeEx
    std::atomic<int> coInitializeSecurityCalls{0};
    std::atomic<int> coGetMallocCalls{0};
    std::atomic<int> coUninitializeCalls{0};

    void Reset();
};
ComTestHooks& GetComTestHooks();
