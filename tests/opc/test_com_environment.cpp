// The process's COM environment: start-up with its messages and exit codes, shut-down, and the
// list of servers installed in a category.

#include <algorithm>
#include <string>
#include <vector>

#include "com/activation.h"
#include "com/categories.h"
#include "com/com_init.h"
#include "opc/com_environment.h"
#include "opcda/ids.h"
#include "runtime_fixture.h"

namespace {

class ComEnvironmentTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        GetComTestHooks().Reset();
        refsAtStart = CoGetMallocOutstandingRefs();
        previousExit = SetProcessExitFunction([this](int code) {
            exitCodes.push_back(code);
            uninitializeCallsAtExit = GetComTestHooks().coUninitializeCalls;
        });
    }
    void TearDown() override {
        SetProcessExitFunction(previousExit);
        GetComTestHooks().Reset();
        RuntimeTest::TearDown();
    }

    static bool ThreadInitialised() {
        APTTYPE type{};
        APTTYPEQUALIFIER qualifier{};
        return CoGetApartmentType(&type, &qualifier) == S_OK;
    }

    ProcessExitFunction previousExit;
    std::vector<int> exitCodes;
    int uninitializeCallsAtExit = -1;
    ULONG refsAtStart = 0;
};

TEST_F(ComEnvironmentTest, StartsWithOpenSecurityAndTheTaskAllocatorAndEndsOnce) {
    InitComEnvironment();
    EXPECT_TRUE(ThreadInitialised());
    const auto security = CoGetProcessSecurity();
    ASSERT_TRUE(security.has_value());
    EXPECT_FALSE(security->hasSecurityDescriptor);
    EXPECT_EQ(security->cAuthSvc, -1);
    EXPECT_FALSE(security->hasAuthServices);
    EXPECT_EQ(security->dwAuthnLevel, RPC_C_AUTHN_LEVEL_NONE);
    EXPECT_EQ(security->dwImpLevel, RPC_C_IMP_LEVEL_IMPERSONATE);
    EXPECT_FALSE(security->hasAuthList);
    EXPECT_EQ(security->dwCapabilities, EOAC_NONE);
    ASSERT_NE(TaskAllocator(), nullptr);
    EXPECT_EQ(CoGetMallocOutstandingRefs(), refsAtStart + 1);

    // What a server hands back is freed with it.
    void* block = CoTaskMemAlloc(16);
    FreeTaskMemory(block);
    FreeTaskMemory(nullptr);
    EXPECT_EQ(LeakedTaskBlocks(), 0u);

    ExitComEnvironment();
    EXPECT_EQ(GetComTestHooks().coUninitializeCalls, 1);
    EXPECT_FALSE(ThreadInitialised());
    EXPECT_EQ(TaskAllocator(), nullptr);
    EXPECT_EQ(CoGetMallocOutstandingRefs(), refsAtStart);
    EXPECT_TRUE(exitCodes.empty());
    EXPECT_EQ(ui.MessageCount(), 0u);
}

TEST_F(ComEnvironmentTest, AFailedSecuritySetupIsShownOnceAndStartUpGoesOn) {
    GetComTestHooks().failCoInitializeSecurity = E_ACCESSDENIED;
    InitComEnvironment();
    EXPECT_EQ(ui.MessageTexts(),
              (std::vector<std::string>{"Error from CoInitializeSecurity: 80070005"}));
    EXPECT_NE(TaskAllocator(), nullptr);
    EXPECT_TRUE(exitCodes.empty());
    ExitComEnvironment();
    EXPECT_EQ(GetComTestHooks().coUninitializeCalls, 1);
}

TEST_F(ComEnvironmentTest, FatalFailuresEndTheProcessWithCodeOne) {
    GetComTestHooks().failCoInitialize = E_OUTOFMEMORY;
    InitComEnvironment();
    EXPECT_EQ(exitCodes, (std::vector<int>{1}));
    EXPECT_EQ(GetComTestHooks().coInitializeSecurityCalls, 0);
    EXPECT_EQ(TaskAllocator(), nullptr);
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Error from CoInitialize"}));

    GetComTestHooks().Reset();
    ui.Clear();
    exitCodes.clear();
    GetComTestHooks().failCoGetMalloc = E_OUTOFMEMORY;
    InitComEnvironment();
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"GetMalloc failed"}));
    EXPECT_EQ(exitCodes, (std::vector<int>{1}));
    EXPECT_EQ(uninitializeCallsAtExit, 1);  // COM was ended before the exit
    EXPECT_FALSE(ThreadInitialised());
    EXPECT_EQ(TaskAllocator(), nullptr);
}

// A categories manager that cannot be made, or whose enumeration fails.
class BrokenCategories final : public ComObject<IClassFactory, ICatInformation> {
  public:
    explicit BrokenCategories(bool canCreate) : canCreate_(canCreate) {}
    HRESULT CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        if (!canCreate_) {
            *ppv = nullptr;
            return E_OUTOFMEMORY;
        }
        return QueryInterface(riid, ppv);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
    HRESULT EnumCategories(LCID, IEnumCATEGORYINFO**) override { return E_NOTIMPL; }
    HRESULT GetCategoryDesc(REFCATID, LCID, LPWSTR*) override { return E_NOTIMPL; }
    HRESULT EnumClassesOfCategories(ULONG, const CATID[], ULONG, const CATID[],
                                    IEnumGUID** ppenumClsid) override {
        *ppenumClsid = nullptr;
        return E_FAIL;
    }
    HRESULT IsClassOfCategories(REFCLSID, ULONG, const CATID[], ULONG, const CATID[]) override {
        return E_NOTIMPL;
    }
    HRESULT EnumImplCategoriesOfClass(REFCLSID, IEnumGUID**) override { return E_NOTIMPL; }
    HRESULT EnumReqCategoriesOfClass(REFCLSID, IEnumGUID**) override { return E_NOTIMPL; }

  private:
    bool canCreate_;
};

TEST_F(ComEnvironmentTest, ListsTheProgIdsOfACategoryAndSkipsClassesWithoutOne) {
    std::vector<std::string> progIds{"already there"};
    ListServersOfCategory(CATID_OPCDAServer20, progIds);
    EXPECT_EQ(progIds, (std::vector<std::string>{"already there", kSimulatorProgId}));

    // Registered in the category without a ProgID: left out, with a trace.
    const CLSID anonymous{0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
    const CATID categories[] = {CATID_OPCDAServer20};
    {
        ScopedClassRegistration registration(anonymous, sim.ClassFactory().Get(), "", categories);
        progIds.clear();
        ListServersOfCategory(CATID_OPCDAServer20, progIds);
    }
    EXPECT_EQ(progIds, (std::vector<std::string>{kSimulatorProgId}));
    EXPECT_EQ(ui.Traces(), (std::vector<std::string>{"ProgIDFromCLSID failed\n"}));

    // No server in the category: an empty list and no message.
    RevokeSimulatorInProcess();
    progIds.clear();
    ListServersOfCategory(CATID_OPCDAServer20, progIds);
    ListServersOfCategory(CATID_OPCDAServer10, progIds);
    EXPECT_TRUE(progIds.empty());
    EXPECT_EQ(ui.MessageCount(), 0u);
    EXPECT_EQ(LeakedTaskBlocks(), 0u);
}

TEST_F(ComEnvironmentTest, ABrokenCategoriesManagerGivesAnEmptyList) {
    std::vector<std::string> progIds;
    for (const bool canCreate : {false, true}) {
        const auto broken = MakeComObject<BrokenCategories>(canCreate);
        DWORD cookie = 0;
        ASSERT_EQ(CoRegisterClassObject(CLSID_StdComponentCategoriesMgr,
                                        static_cast<IClassFactory*>(broken.Get()),
                                        CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
                  S_OK);
        ListServersOfCategory(CATID_OPCDAServer20, progIds);
        CoRevokeClassObject(cookie);
    }
    EXPECT_TRUE(progIds.empty());
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"CoCreate Failed\n"}));
}

}  // namespace
