#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "com/activation.h"
#include "com/categories.h"
#include "com/class_factory.h"
#include "com/com_object.h"
#include "com/malloc.h"
#include "com/registry.h"
#include "registry_fixture.h"

namespace {

constexpr CLSID kClsid{0x5A1E0001, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr CLSID kFileClsid{0x5A1E0002, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr CLSID kNoServerClsid{0x5A1E0003, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr CATID kCategory{0x5A1E00CA, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

class ITestThing : public IUnknown {
  public:
    static constexpr IID iid{0x5A1E1001, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 1}};
    virtual int Tag() = 0;

  protected:
    ~ITestThing() = default;
};

class ITestMissing : public IUnknown {
  public:
    static constexpr IID iid{0x5A1E1002, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 2}};

  protected:
    ~ITestMissing() = default;
};

class CThing final : public ComObject<ITestThing> {
  public:
    explicit CThing(int tag) : tag_(tag) {}
    int Tag() override { return tag_; }

  private:
    int tag_;
};

class CThingFactory final : public ComObject<IClassFactory> {
  public:
    explicit CThingFactory(int tag, HRESULT fail = S_OK) : tag_(tag), fail_(fail) {}

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        ++created;
        *ppv = nullptr;
        if (FAILED(fail_)) {
            return fail_;
        }
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return MakeComObject<CThing>(tag_)->QueryInterface(riid, ppv);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
    ULONG Refs() const { return RefCount(); }

    std::atomic<int> created{0};

  private:
    int tag_;
    HRESULT fail_;
};

int TagOf(IUnknown* unknown) {
    ComPtr<ITestThing> thing;
    if (unknown == nullptr || FAILED(ComPtr<IUnknown>(unknown).As(thing))) {
        return -1;
    }
    return thing->Tag();
}

class ActivationTest : public RegistryTest {};

TEST_F(ActivationTest, FindsProgIDsAndClassesInRegistrationFiles) {
    WriteText("server.reg",
              "REGEDIT4\n"
              "[HKEY_CLASSES_ROOT\\File.Server.1\\Clsid]\n"
              "@=\"{5a1e0002-1111-2222-0102-030405060708}\"\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{5A1E0002-1111-2222-0102-030405060708}\\ProgID]\n"
              "@=\"File.Server.1\"\n"
              "[HKEY_CLASSES_ROOT\\Broken.Server.1\\Clsid]\n"
              "@=\"not a guid\"\n");
    CLSID clsid = kClsid;
    EXPECT_EQ(CLSIDFromProgID(u"file.server.1", &clsid), S_OK);
    EXPECT_EQ(clsid, kFileClsid);
    EXPECT_EQ(CLSIDFromProgID(u"Unknown.Server.1", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(clsid, GUID_NULL);
    EXPECT_EQ(CLSIDFromProgID(u"Broken.Server.1", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(u"CLSID\\{5A1E0002-1111-2222-0102-030405060708}", &clsid),
              CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(u"", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);

    const std::size_t blocks = CoTaskMemLiveBlocks();
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(kFileClsid, &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"File.Server.1");
    CoTaskMemFree(progId);
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks);
    progId = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(ProgIDFromCLSID(kNoServerClsid, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, nullptr);
}

TEST_F(ActivationTest, InProcessClassStandsInForALocalServer) {
    const auto factory = MakeComObject<CThingFactory>(7);
    const ULONG baseRefs = factory->Refs();
    {
        const CATID categories[] = {kCategory};
        const ScopedClassRegistration reg(kClsid, factory->GetUnknown(), "Test.Server.1",
                                          categories);
        ASSERT_EQ(reg.hr(), S_OK);
        EXPECT_TRUE(
            KeyExists(HKEY_CLASSES_ROOT, ("CLSID\\" + GuidToString(kClsid) +
                                          "\\Implemented Categories\\" + GuidToString(kCategory))
                                             .c_str()));

        // The runtime's local path: ProgID, class object in a local server, instance.
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(u"Test.Server.1", &clsid), S_OK);
        EXPECT_EQ(clsid, kClsid);
        ComPtr<IClassFactory> cf;
        ASSERT_EQ(
            CoGetClassObject(clsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, cf.PutVoid()),
            S_OK);
        ComPtr<IUnknown> object;
        ASSERT_EQ(cf->CreateInstance(nullptr, IID_IUnknown, object.PutVoid()), S_OK);
        EXPECT_EQ(TagOf(object.Get()), 7);

        LPOLESTR progId = nullptr;
        ASSERT_EQ(ProgIDFromCLSID(kClsid, &progId), S_OK);
        EXPECT_EQ(std::u16string(progId), u"Test.Server.1");
        CoTaskMemFree(progId);

        ComPtr<ITestThing> direct;
        EXPECT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, ITestThing::iid,
                                   direct.PutVoid()),
                  S_OK);
        EXPECT_EQ(direct->Tag(), 7);
    }
    // Revoked: gone from the table and from the registry, and the table let go of it.
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Test.Server.1", &clsid), CO_E_CLASSSTRING);
    ComPtr<IClassFactory> cf;
    EXPECT_EQ(
        CoGetClassObject(kClsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, cf.PutVoid()),
        REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ("CLSID\\" + GuidToString(kClsid)).c_str()));
    EXPECT_EQ(factory->Refs(), baseRefs);
}

TEST_F(ActivationTest, ClassTableHonoursContextsOrderAndSingleUse) {
    const auto older = MakeComObject<CThingFactory>(1);
    const auto newer = MakeComObject<CThingFactory>(2);
    DWORD olderCookie = 0;
    DWORD newerCookie = 0;
    ASSERT_EQ(CoRegisterClassObject(kClsid, older->GetUnknown(), CLSCTX_LOCAL_SERVER,
                                    REGCLS_MULTIPLEUSE, &olderCookie),
              S_OK);
    ComPtr<IUnknown> object;
    EXPECT_EQ(
        CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.PutVoid()),
        REGDB_E_CLASSNOTREG);
    ASSERT_EQ(CoRegisterClassObject(kClsid, newer->GetUnknown(),
                                    CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER, REGCLS_SINGLEUSE,
                                    &newerCookie),
              S_OK);
    EXPECT_NE(olderCookie, newerCookie);
    // No registry entries come with the plain call.
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ("CLSID\\" + GuidToString(kClsid)).c_str()));

    ASSERT_EQ(
        CoCreateInstance(kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, object.PutVoid()),
        S_OK);
    EXPECT_EQ(TagOf(object.Get()), 2);
    // Single use: the next request goes to the older registration.
    ASSERT_EQ(
        CoCreateInstance(kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, object.PutVoid()),
        S_OK);
    EXPECT_EQ(TagOf(object.Get()), 1);

    EXPECT_EQ(CoRevokeClassObject(newerCookie), S_OK);
    EXPECT_EQ(CoRevokeClassObject(newerCookie), E_INVALIDARG);
    EXPECT_EQ(CoRevokeClassObject(olderCookie), S_OK);
    EXPECT_EQ(
        CoCreateInstance(kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, object.PutVoid()),
        REGDB_E_CLASSNOTREG);

    DWORD cookie = 0;
    EXPECT_EQ(CoRegisterClassObject(kClsid, nullptr, CLSCTX_LOCAL_SERVER, 1, &cookie),
              E_INVALIDARG);
    EXPECT_EQ(CoRegisterClassObject(kClsid, older->GetUnknown(), CLSCTX_REMOTE_SERVER, 1, &cookie),
              E_INVALIDARG);
    EXPECT_EQ(RegisterInProcessClass(kClsid, older->GetUnknown(), "Bad\\ProgID", {}, &cookie),
              E_INVALIDARG);
}

TEST_F(ActivationTest, TwoRegistrationsOfOneProgIDKeepTheRegistryRight) {
    const auto first = MakeComObject<CThingFactory>(1);
    const auto second = MakeComObject<CThingFactory>(2);
    ScopedClassRegistration a(kClsid, first->GetUnknown(), "Shared.Server.1");
    {
        const ScopedClassRegistration b(kFileClsid, second->GetUnknown(), "Shared.Server.1");
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(u"Shared.Server.1", &clsid), S_OK);
        EXPECT_EQ(clsid, kFileClsid);
    }
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Shared.Server.1", &clsid), S_OK);
    EXPECT_EQ(clsid, kClsid);
    a.Revoke();
    EXPECT_EQ(CLSIDFromProgID(u"Shared.Server.1", &clsid), CO_E_CLASSSTRING);
}

class FakeLocalServers final : public ILocalServerProvider {
  public:
    HRESULT GetClassObject(REFCLSID clsid, const std::string& commandLine, REFIID riid,
                           void** ppv) override {
        started.push_back(commandLine);
        if (clsid != kFileClsid) {
            return CO_E_SERVER_EXEC_FAILURE;
        }
        return factory->QueryInterface(riid, ppv);
    }
    std::vector<std::string> started;
    ComPtr<CThingFactory> factory = MakeComObject<CThingFactory>(5);
};

TEST_F(ActivationTest, LocalServerCodesFollowTheRegistration) {
    WriteText("server.reg",
              "REGEDIT4\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{5A1E0002-1111-2222-0102-030405060708}\\LocalServer32]\n"
              "@=\"/usr/bin/opcsim --flag\"\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{5A1E0003-1111-2222-0102-030405060708}\\InprocServer32]\n"
              "@=\"lib.so\"\n");
    ComPtr<IUnknown> object;
    // No LocalServer32 at all; then a LocalServer32 that nothing can start.
    EXPECT_EQ(CoCreateInstance(kNoServerClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                               object.PutVoid()),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(
        CoCreateInstance(kFileClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, object.PutVoid()),
        CO_E_SERVER_EXEC_FAILURE);
    // In process only: a local server does not qualify.
    EXPECT_EQ(
        CoCreateInstance(kFileClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.PutVoid()),
        REGDB_E_CLASSNOTREG);

    const auto servers = std::make_shared<FakeLocalServers>();
    const auto previous = SetLocalServerProvider(servers);
    ComPtr<IClassFactory> cf;
    ASSERT_EQ(
        CoGetClassObject(kFileClsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, cf.PutVoid()),
        S_OK);
    EXPECT_EQ(servers->started, std::vector<std::string>{"/usr/bin/opcsim --flag"});
    ASSERT_EQ(CoCreateInstance(kFileClsid, nullptr, CLSCTX_ALL, IID_IUnknown, object.PutVoid()),
              S_OK);
    EXPECT_EQ(TagOf(object.Get()), 5);
    EXPECT_EQ(CoCreateInstance(kNoServerClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                               object.PutVoid()),
              REGDB_E_CLASSNOTREG);
    SetLocalServerProvider(previous);

    EXPECT_EQ(CoGetClassObject(kFileClsid, 0, nullptr, IID_IClassFactory, cf.PutVoid()),
              E_INVALIDARG);
    EXPECT_EQ(
        CoGetClassObject(kFileClsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, nullptr),
        E_INVALIDARG);
}

TEST_F(ActivationTest, MultiQiResultsCarryEachInterface) {
    const auto factory = MakeComObject<CThingFactory>(3);
    const ScopedClassRegistration reg(kClsid, factory->GetUnknown(), "Multi.Server.1");

    MULTI_QI results[3] = {{&IID_IUnknown, nullptr, E_FAIL},
                           {&ITestThing::iid, nullptr, E_FAIL},
                           {&ITestMissing::iid, reinterpret_cast<IUnknown*>(1), S_OK}};
    COSERVERINFO here{0, nullptr, nullptr, 0};
    // Some interfaces found, one not: a partial success.
    EXPECT_EQ(CoCreateInstanceEx(kClsid, nullptr, CLSCTX_REMOTE_SERVER, &here, 3, results),
              CO_S_NOTALLINTERFACES);
    EXPECT_EQ(results[0].hr, S_OK);
    EXPECT_EQ(results[1].hr, S_OK);
    EXPECT_EQ(results[2].hr, E_NOINTERFACE);
    EXPECT_EQ(results[2].pItf, nullptr);
    ASSERT_NE(results[0].pItf, nullptr);
    ASSERT_NE(results[1].pItf, nullptr);
    EXPECT_EQ(TagOf(results[0].pItf), 3);
    // One object behind both entries.
    ComPtr<IUnknown> identity;
    ASSERT_EQ(results[1].pItf->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
    EXPECT_EQ(identity.Get(), results[0].pItf);
    results[0].pItf->Release();
    results[1].pItf->Release();
    EXPECT_EQ(factory->created.load(), 1);

    MULTI_QI none[1] = {{&ITestMissing::iid, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(kClsid, nullptr, CLSCTX_LOCAL_SERVER, nullptr, 1, none),
              E_NOINTERFACE);
    EXPECT_EQ(none[0].hr, E_NOINTERFACE);

    MULTI_QI bad[1] = {{nullptr, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(kClsid, nullptr, CLSCTX_LOCAL_SERVER, nullptr, 1, bad),
              E_INVALIDARG);
    EXPECT_EQ(CoCreateInstanceEx(kClsid, nullptr, CLSCTX_LOCAL_SERVER, nullptr, 0, bad),
              E_INVALIDARG);

    // A factory that fails hands its failure to every entry.
    const auto failing = MakeComObject<CThingFactory>(0, E_ACCESSDENIED);
    const ScopedClassRegistration failReg(kFileClsid, failing->GetUnknown());
    MULTI_QI two[2] = {{&IID_IUnknown, nullptr, S_OK}, {&ITestThing::iid, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(kFileClsid, nullptr, CLSCTX_LOCAL_SERVER, nullptr, 2, two),
              E_ACCESSDENIED);
    EXPECT_EQ(two[0].hr, E_ACCESSDENIED);
    EXPECT_EQ(two[1].hr, E_ACCESSDENIED);
    EXPECT_EQ(two[1].pItf, nullptr);
}

// Stands for the node agent: activates on "plant" with the classes of this process.
class LoopbackRemote final : public IRemoteActivationProvider {
  public:
    HRESULT CreateInstance(const std::string& node, REFCLSID clsid, DWORD count,
                           MULTI_QI* results) override {
        nodes.push_back(node);
        if (node != "plant:5135") {
            return RPC_S_SERVER_UNAVAILABLE;
        }
        return CoCreateInstanceEx(clsid, nullptr, CLSCTX_LOCAL_SERVER, nullptr, count, results);
    }
    HRESULT GetClassObject(const std::string& node, REFCLSID clsid, REFIID riid,
                           void** ppv) override {
        nodes.push_back(node);
        return CoGetClassObject(clsid, CLSCTX_LOCAL_SERVER, nullptr, riid, ppv);
    }
    std::vector<std::string> nodes;
};

TEST_F(ActivationTest, RemoteActivationGoesThroughTheProvider) {
    const auto factory = MakeComObject<CThingFactory>(9);
    const ScopedClassRegistration reg(kClsid, factory->GetUnknown(), "Remote.Server.1");
    std::u16string name = u"plant:5135";
    COSERVERINFO info{0, name.data(), nullptr, 0};

    MULTI_QI results[2] = {{&IID_IUnknown, nullptr, S_OK}, {&ITestThing::iid, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(kClsid, nullptr, CLSCTX_REMOTE_SERVER, &info, 2, results),
              RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(static_cast<std::uint32_t>(results[0].hr), 0x800706BAu);
    EXPECT_EQ(results[1].hr, RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(results[0].pItf, nullptr);
    ComPtr<IClassFactory> cf;
    EXPECT_EQ(
        CoGetClassObject(kClsid, CLSCTX_REMOTE_SERVER, &info, IID_IClassFactory, cf.PutVoid()),
        RPC_S_SERVER_UNAVAILABLE);

    const auto remote = std::make_shared<LoopbackRemote>();
    const auto previous = SetRemoteActivationProvider(remote);
    ASSERT_EQ(CoCreateInstanceEx(kClsid, nullptr, CLSCTX_REMOTE_SERVER, &info, 2, results), S_OK);
    EXPECT_EQ(remote->nodes, std::vector<std::string>{"plant:5135"});
    EXPECT_EQ(TagOf(results[1].pItf), 9);
    results[0].pItf->Release();
    results[1].pItf->Release();

    std::u16string other = u"elsewhere";
    COSERVERINFO away{0, other.data(), nullptr, 0};
    MULTI_QI one[1] = {{&IID_IUnknown, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(kClsid, nullptr, CLSCTX_REMOTE_SERVER, &away, 1, one),
              RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(one[0].hr, RPC_S_SERVER_UNAVAILABLE);
    // Objects on another node do not join an aggregate.
    const auto outer = MakeComObject<CThing>(0);
    EXPECT_EQ(CoCreateInstanceEx(kClsid, outer->GetUnknown(), CLSCTX_REMOTE_SERVER, &info, 1, one),
              CLASS_E_NOAGGREGATION);
    // A named node without CLSCTX_REMOTE_SERVER stays on this machine.
    ASSERT_EQ(CoCreateInstanceEx(kClsid, nullptr, CLSCTX_LOCAL_SERVER, &info, 1, one), S_OK);
    one[0].pItf->Release();
    EXPECT_EQ(remote->nodes.size(), 2u);
    SetRemoteActivationProvider(previous);
}

TEST_F(ActivationTest, CategoriesManagerIsThereOutOfTheBox) {
    ComPtr<ICatInformation> info;
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICatInformation, info.PutVoid()),
              S_OK);
    ASSERT_TRUE(info);
    ComPtr<ICatInformation> local;
    EXPECT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_ICatInformation, local.PutVoid()),
              REGDB_E_CLASSNOTREG);
    ComPtr<IClassFactory> cf;
    ASSERT_EQ(GetStdComponentCategoriesMgrClassObject(IID_IClassFactory, cf.PutVoid()), S_OK);
    const auto outer = MakeComObject<CThing>(0);
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(cf->CreateInstance(outer->GetUnknown(), IID_IUnknown, aggregated.PutVoid()),
              CLASS_E_NOAGGREGATION);
}

}  // namespace
