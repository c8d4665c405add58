#include "com/activation.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "com/categories.h"
#include "com/malloc.h"
#include "com/registry.h"
#include "com/unicode.h"

namespace {

constexpr DWORD kTableContexts = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;

struct ClassEntry {
    DWORD cookie = 0;
    CLSID clsid{};
    ComPtr<IUnknown> classObject;
    DWORD contexts = 0;
    bool singleUse = false;
    bool used = false;
    // Set for RegisterInProcessClass: what it wrote into the registry.
    bool registered = false;
    std::string progId;
    std::vector<CATID> categories;
};

std::string ClassKey(REFCLSID clsid) {
    return "CLSID\\" + GuidToString(clsid);
}

// The registry entries of a class of the table.
void WriteRegistration(const ClassEntry& entry) {
    const std::string clsidKey = ClassKey(entry.clsid);
    RegCreateKeyInMemory(HKEY_CLASSES_ROOT, clsidKey.c_str());
    if (!entry.progId.empty()) {
        RegSetStringInMemory(HKEY_CLASSES_ROOT, entry.progId + "\\Clsid", "",
                             GuidToString(entry.clsid));
        RegSetStringInMemory(HKEY_CLASSES_ROOT, clsidKey + "\\ProgID", "", entry.progId);
    }
    for (const CATID& catid : entry.categories) {
        const std::string key = clsidKey + "\\Implemented Categories\\" + GuidToString(catid);
        RegCreateKeyInMemory(HKEY_CLASSES_ROOT, key.c_str());
    }
}

void EraseRegistration(const ClassEntry& entry) {
    RegDeleteTreeInMemory(HKEY_CLASSES_ROOT, ClassKey(entry.clsid).c_str());
    if (!entry.progId.empty()) {
        RegDeleteTreeInMemory(HKEY_CLASSES_ROOT, entry.progId.c_str());
    }
}

class ClassTable {
  public:
    HRESULT Add(ClassEntry entry, DWORD* cookie) {
        const std::lock_guard lock(mutex_);
        entry.cookie = nextCookie_++;
        if (entry.cookie == 0) {
            entry.cookie = nextCookie_++;
        }
        *cookie = entry.cookie;
        if (entry.registered) {
            WriteRegistration(entry);
        }
        entries_.push_back(std::move(entry));
        return S_OK;
    }

    HRESULT Remove(DWORD cookie) {
        std::optional<ClassEntry> removed;
        {
            const std::lock_guard lock(mutex_);
            const auto it = std::find_if(entries_.begin(), entries_.end(),
                                         [&](const ClassEntry& e) { return e.cookie == cookie; });
            if (it == entries_.end()) {
                return E_INVALIDARG;
            }
            removed = std::move(*it);
            entries_.erase(it);
            if (removed->registered) {
                EraseRegistration(*removed);
                // Another registration of the same class or ProgID keeps its keys.
                for (const ClassEntry& e : entries_) {
                    if (e.registered) {
                        WriteRegistration(e);
                    }
                }
            }
        }
        // The class object goes here, outside the lock: its destructor may call back.
        removed.reset();
        return S_OK;
    }

    // The newest entry for the class that answers one of the contexts.
    ComPtr<IUnknown> Find(REFCLSID clsid, DWORD contexts) {
        const std::lock_guard lock(mutex_);
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            if (it->clsid == clsid && (it->contexts & contexts) != 0 && !it->used) {
                if (it->singleUse) {
                    it->used = true;
                }
                return it->classObject;
            }
        }
        return nullptr;
    }

  private:
    std::mutex mutex_;
    std::vector<ClassEntry> entries_;
    DWORD nextCookie_ = 1;
};

ClassTable& Table() {
    // Kept until the process ends: class objects may be revoked from code that runs at exit.
    alignas(ClassTable) static unsigned char storage[sizeof(ClassTable)];
    static ClassTable* const table = ::new (static_cast<void*>(storage)) ClassTable();
    return *table;
}

struct Providers {
    std::mutex mutex;
    std::shared_ptr<ILocalServerProvider> local;
    std::shared_ptr<IRemoteActivationProvider> remote;
};

Providers& TheProviders() {
    static Providers providers;
    return providers;
}

std::shared_ptr<ILocalServerProvider> LocalProvider() {
    Providers& p = TheProviders();
    const std::lock_guard lock(p.mutex);
    return p.local;
}

std::shared_ptr<IRemoteActivationProvider> RemoteProvider() {
    Providers& p = TheProviders();
    const std::lock_guard lock(p.mutex);
    return p.remote;
}

// The node a request names; "" for this machine.
std::string NodeName(const COSERVERINFO* info) {
    if (info == nullptr || info->pwszName == nullptr) {
        return {};
    }
    return Utf16ToUtf8(info->pwszName);
}

bool IsRemoteRequest(DWORD contexts, const std::string& node) {
    return !node.empty() && (contexts & CLSCTX_REMOTE_SERVER) != 0;
}

// The contexts served on this machine: a remote request without a node means this machine.
DWORD LocalContexts(DWORD contexts) {
    if ((contexts & CLSCTX_REMOTE_SERVER) != 0) {
        contexts |= CLSCTX_LOCAL_SERVER;
    }
    return contexts & (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER);
}

HRESULT GetLocalClassObject(REFCLSID clsid, DWORD contexts, REFIID riid, void** ppv) {
    if (const ComPtr<IUnknown> found = Table().Find(clsid, contexts & kTableContexts)) {
        return found->QueryInterface(riid, ppv);
    }
    if ((contexts & CLSCTX_INPROC_SERVER) != 0 && clsid == CLSID_StdComponentCategoriesMgr) {
        return GetStdComponentCategoriesMgrClassObject(riid, ppv);
    }
    if ((contexts & CLSCTX_LOCAL_SERVER) == 0) {
        return REGDB_E_CLASSNOTREG;
    }
    const std::string serverKey = ClassKey(clsid) + "\\LocalServer32";
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, serverKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return REGDB_E_CLASSNOTREG;
    }
    RegCloseKey(key);
    const std::optional<std::string> command = RegReadString(HKEY_CLASSES_ROOT, serverKey, "");
    const std::shared_ptr<ILocalServerProvider> provider = LocalProvider();
    if (!provider || !command || command->empty()) {
        return CO_E_SERVER_EXEC_FAILURE;
    }
    return provider->GetClassObject(clsid, *command, riid, ppv);
}

void FailAll(DWORD count, MULTI_QI* results, HRESULT hr) {
    for (DWORD i = 0; i < count; ++i) {
        if (results[i].pItf != nullptr) {
            results[i].pItf->Release();
            results[i].pItf = nullptr;
        }
        results[i].hr = hr;
    }
}

// The overall result of a creation that succeeded, from its entries.
HRESULT Summarise(DWORD count, MULTI_QI* results) {
    DWORD found = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (results[i].pItf == nullptr && SUCCEEDED(results[i].hr)) {
            results[i].hr = E_NOINTERFACE;
        }
        if (results[i].pItf != nullptr && FAILED(results[i].hr)) {
            results[i].pItf->Release();
            results[i].pItf = nullptr;
        }
        if (SUCCEEDED(results[i].hr)) {
            ++found;
        }
    }
    if (found == 0) {
        return E_NOINTERFACE;
    }
    return found == count ? S_OK : CO_S_NOTALLINTERFACES;
}

}  // namespace

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (lpszProgID == nullptr || lpclsid == nullptr) {
        return E_INVALIDARG;
    }
    *lpclsid = GUID_NULL;
    const std::string progId = Utf16ToUtf8(lpszProgID);
    // A backslash would reach into other keys.
    if (progId.empty() || progId.find('\\') != std::string::npos) {
        return CO_E_CLASSSTRING;
    }
    const std::optional<std::string> text =
        RegReadString(HKEY_CLASSES_ROOT, progId + "\\Clsid", "");
    const std::optional<GUID> clsid = text ? GuidFromString(*text) : std::nullopt;
    if (!clsid) {
        return CO_E_CLASSSTRING;
    }
    *lpclsid = *clsid;
    return S_OK;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    if (lplpszProgID == nullptr) {
        return E_INVALIDARG;
    }
    *lplpszProgID = nullptr;
    const std::optional<std::string> progId =
        RegReadString(HKEY_CLASSES_ROOT, ClassKey(clsid) + "\\ProgID", "");
    if (!progId || progId->empty()) {
        return REGDB_E_CLASSNOTREG;
    }
    const std::u16string wide = Utf8ToUtf16(*progId);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
    if (out == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
    *lplpszProgID = out;
    return S_OK;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo,
                         REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) {
        return E_INVALIDARG;
    }
    *ppv = nullptr;
    if ((dwClsContext & CLSCTX_ALL) == 0) {
        return E_INVALIDARG;
    }
    const std::string node = NodeName(pServerInfo);
    if (IsRemoteRequest(dwClsContext, node)) {
        const std::shared_ptr<IRemoteActivationProvider> provider = RemoteProvider();
        if (!provider) {
            return RPC_S_SERVER_UNAVAILABLE;
        }
        return provider->GetClassObject(node, rclsid, riid, ppv);
    }
    return GetLocalClassObject(rclsid, LocalContexts(dwClsContext), riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
    if (ppv == nullptr) {
        return E_INVALIDARG;
    }
    *ppv = nullptr;
    MULTI_QI result{&riid, nullptr, S_OK};
    const HRESULT hr = CoCreateInstanceEx(rclsid, pUnkOuter, dwClsContext, nullptr, 1, &result);
    if (FAILED(hr)) {
        return FAILED(result.hr) ? result.hr : hr;
    }
    *ppv = result.pItf;
    return result.hr;
}

HRESULT CoCreateInstanceEx(REFCLSID Clsid, IUnknown* punkOuter, DWORD dwClsCtx,
                           COSERVERINFO* pServerInfo, DWORD dwCount, MULTI_QI* pResults) {
    if (pResults == nullptr || dwCount == 0) {
        return E_INVALIDARG;
    }
    for (DWORD i = 0; i < dwCount; ++i) {
        if (pResults[i].pIID == nullptr) {
            return E_INVALIDARG;
        }
    }
    for (DWORD i = 0; i < dwCount; ++i) {
        pResults[i].pItf = nullptr;
        pResults[i].hr = E_NOINTERFACE;
    }
    if ((dwClsCtx & CLSCTX_ALL) == 0) {
        FailAll(dwCount, pResults, E_INVALIDARG);
        return E_INVALIDARG;
    }

    const std::string node = NodeName(pServerInfo);
    if (IsRemoteRequest(dwClsCtx, node)) {
        const std::shared_ptr<IRemoteActivationProvider> provider = RemoteProvider();
        // An object on another machine cannot join an aggregate here.
        const HRESULT refused = punkOuter != nullptr ? CLASS_E_NOAGGREGATION
                                : !provider          ? RPC_S_SERVER_UNAVAILABLE
                                                     : S_OK;
        if (FAILED(refused)) {
            FailAll(dwCount, pResults, refused);
            return refused;
        }
        const HRESULT hr = provider->CreateInstance(node, Clsid, dwCount, pResults);
        if (FAILED(hr)) {
            FailAll(dwCount, pResults, hr);
            return hr;
        }
        return Summarise(dwCount, pResults);
    }

    ComPtr<IClassFactory> factory;
    HRESULT hr =
        GetLocalClassObject(Clsid, LocalContexts(dwClsCtx), IID_IClassFactory, factory.PutVoid());
    ComPtr<IUnknown> object;
    if (SUCCEEDED(hr)) {
        hr = factory->CreateInstance(punkOuter, IID_IUnknown, object.PutVoid());
        if (SUCCEEDED(hr) && !object) {
            hr = E_UNEXPECTED;
        }
    }
    if (FAILED(hr)) {
        FailAll(dwCount, pResults, hr);
        return hr;
    }
    for (DWORD i = 0; i < dwCount; ++i) {
        void* itf = nullptr;
        pResults[i].hr = object->QueryInterface(*pResults[i].pIID, &itf);
        pResults[i].pItf = static_cast<IUnknown*>(itf);
    }
    return Summarise(dwCount, pResults);
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags,
                              DWORD* lpdwRegister) {
    if (pUnk == nullptr || lpdwRegister == nullptr || (dwClsContext & kTableContexts) == 0) {
        return E_INVALIDARG;
    }
    *lpdwRegister = 0;
    ClassEntry entry;
    entry.clsid = rclsid;
    entry.classObject = ComPtr<IUnknown>(pUnk);
    entry.contexts = dwClsContext & kTableContexts;
    entry.singleUse = flags == REGCLS_SINGLEUSE;
    try {
        return Table().Add(std::move(entry), lpdwRegister);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
    return Table().Remove(dwRegister);
}

HRESULT RegisterInProcessClass(REFCLSID clsid, IUnknown* classObject, std::string_view progId,
                               std::span<const CATID> categories, DWORD* cookie) {
    if (classObject == nullptr || cookie == nullptr ||
        progId.find('\\') != std::string_view::npos) {
        return E_INVALIDARG;
    }
    *cookie = 0;
    try {
        ClassEntry entry;
        entry.clsid = clsid;
        entry.classObject = ComPtr<IUnknown>(classObject);
        entry.contexts = kTableContexts;
        entry.registered = true;
        entry.progId = std::string(progId);
        entry.categories.assign(categories.begin(), categories.end());
        return Table().Add(std::move(entry), cookie);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

ScopedClassRegistration::ScopedClassRegistration(REFCLSID clsid, IUnknown* classObject,
                                                 std::string_view progId,
                                                 std::span<const CATID> categories) {
    hr_ = RegisterInProcessClass(clsid, classObject, progId, categories, &cookie_);
}

ScopedClassRegistration::~ScopedClassRegistration() {
    Revoke();
}

void ScopedClassRegistration::Revoke() {
    if (cookie_ != 0) {
        CoRevokeClassObject(std::exchange(cookie_, 0));
    }
}

std::shared_ptr<ILocalServerProvider> SetLocalServerProvider(
    std::shared_ptr<ILocalServerProvider> provider) {
    Providers& p = TheProviders();
    const std::lock_guard lock(p.mutex);
    std::swap(provider, p.local);
    return provider;
}

std::shared_ptr<IRemoteActivationProvider> SetRemoteActivationProvider(
    std::shared_ptr<IRemoteActivationProvider> provider) {
    Providers& p = TheProviders();
    const std::lock_guard lock(p.mutex);
    std::swap(provider, p.remote);
    return provider;
}
