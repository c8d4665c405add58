#pragma once
// Activation: finding a class by ProgID and reaching its class object or a new instance, in this
// process, in a local server or on another node.
//
// Where a class object comes from, in this order:
// - the class table of this process (CoRegisterClassObject, RegisterInProcessClass); its entries
//   answer in-process and local-server requests, so a test's class stands in for a local server;
// - built-in classes (the component categories manager), in process only;
// - for CLSCTX_LOCAL_SERVER, the LocalServer32 command line registered under
//   HKEY_CLASSES_ROOT\CLSID\{...}, started through the local-server provider;
// - with a machine name in COSERVERINFO and CLSCTX_REMOTE_SERVER, the remote activation provider
//   for that node ("host" or "host:port"). Without a name, CLSCTX_REMOTE_SERVER means this
//   machine, as a local server.

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "com/class_factory.h"
#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"
#include "com/unknown.h"

enum CLSCTX : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
    CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
    CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER,
};

enum REGCLS : DWORD {
    REGCLS_SINGLEUSE = 0,  // answers one activation request, then is no longer found
    REGCLS_MULTIPLEUSE = 1,
    REGCLS_MULTI_SEPARATE = 2,
};

struct COAUTHIDENTITY;

struct COAUTHINFO {
    DWORD dwAuthnSvc;
    DWORD dwAuthzSvc;
    LPWSTR pwszServerPrincName;
    DWORD dwAuthnLevel;
    DWORD dwImpersonationLevel;
    COAUTHIDENTITY* pAuthIdentityData;
    DWORD dwCapabilities;
};

struct COSERVERINFO {
    DWORD dwReserved1;
    LPWSTR pwszName;  // the node: "host" or "host:port"
    COAUTHINFO* pAuthInfo;
    DWORD dwReserved2;
};

struct MULTI_QI {
    const IID* pIID;
    IUnknown* pItf;
    HRESULT hr;
};

// ProgID -> HKEY_CLASSES_ROOT\<ProgID>\Clsid. CO_E_CLASSSTRING for a ProgID that is not
// registered or whose class id does not parse; *lpclsid is then GUID_NULL.
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
// HKEY_CLASSES_ROOT\CLSID\{...}\ProgID, as a task-allocator string (CoTaskMemFree);
// REGDB_E_CLASSNOTREG when the class has none.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);

// The class object of a class: REGDB_E_CLASSNOTREG when nothing provides it in the contexts
// asked for, CO_E_SERVER_EXEC_FAILURE when a local server is registered but cannot be started,
// RPC_S_SERVER_UNAVAILABLE when the node named cannot be reached.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo,
                         REFIID riid, LPVOID* ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
// Creates one object and asks it for every interface in pResults, each entry's hr telling
// whether it was found. S_OK when at least one was, E_NOINTERFACE when none; on a failure to
// create, every entry's hr carries the failure and the call returns it.
HRESULT CoCreateInstanceEx(REFCLSID Clsid, IUnknown* punkOuter, DWORD dwClsCtx,
                           COSERVERINFO* pServerInfo, DWORD dwCount, MULTI_QI* pResults);

// The class table of this process. The class object answers the contexts it is registered
// for (CLSCTX_INPROC_SERVER and/or CLSCTX_LOCAL_SERVER). A later registration of the same class
// is found first; revoking it brings back the earlier one.
HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags,
                              DWORD* lpdwRegister);
// Also removes what RegisterInProcessClass wrote into the registry. E_INVALIDARG for a cookie
// that is not registered.
HRESULT CoRevokeClassObject(DWORD dwRegister);

// Registers a class of this process as CoRegisterClassObject does (in-process and local-server
// requests, many uses), and writes its registration into the in-memory registry:
// <ProgID>\Clsid, CLSID\{...}\ProgID (both left out when progId is empty) and
// CLSID\{...}\Implemented Categories\{CATID} for each category.
HRESULT RegisterInProcessClass(REFCLSID clsid, IUnknown* classObject, std::string_view progId,
                               std::span<const CATID> categories, DWORD* cookie);

// RegisterInProcessClass for the life of a scope.
class ScopedClassRegistration {
  public:
    ScopedClassRegistration(REFCLSID clsid, IUnknown* classObject, std::string_view progId = {},
                            std::span<const CATID> categories = {});
    ~ScopedClassRegistration();
    ScopedClassRegistration(const ScopedClassRegistration&) = delete;
    ScopedClassRegistration& operator=(const ScopedClassRegistration&) = delete;

    HRESULT hr() const { return hr_; }
    // Revokes now; the destructor then does nothing.
    void Revoke();

  private:
    HRESULT hr_ = E_UNEXPECTED;
    DWORD cookie_ = 0;
};

// Starts (or reaches) the local server of a class from its LocalServer32 command line and
// answers its class object for riid.
class ILocalServerProvider {
  public:
    virtual ~ILocalServerProvider() = default;
    virtual HRESULT GetClassObject(REFCLSID clsid, const std::string& commandLine, REFIID riid,
                                   void** ppv) = 0;
};

// Activation on another node. node is the machine name as the caller gave it (UTF-8).
class IRemoteActivationProvider {
  public:
    virtual ~IRemoteActivationProvider() = default;
    // Creates the object on the node and fills every entry of results (pItf carrying a
    // reference, hr), returning what CoCreateInstanceEx returns.
    virtual HRESULT CreateInstance(const std::string& node, REFCLSID clsid, DWORD count,
                                   MULTI_QI* results) = 0;
    virtual HRESULT GetClassObject(const std::string& node, REFCLSID clsid, REFIID riid,
                                   void** ppv) = 0;
};

// Install the process-wide providers (null removes one); each returns the one before.
std::shared_ptr<ILocalServerProvider> SetLocalServerProvider(
    std::shared_ptr<ILocalServerProvider> provider);
std::shared_ptr<IRemoteActivationProvider> SetRemoteActivationProvider(
    std::shared_ptr<IRemoteActivationProvider> provider);
