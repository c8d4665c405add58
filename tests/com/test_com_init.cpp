#include <gtest/gtest.h>

#include <thread>

#include "com/com_init.h"

namespace {

// Codes built from Win32 errors and fields match their published values.
static_assert(RPC_S_SERVER_UNAVAILABLE == MAKE_HRESULT_VALUE(0x800706BA));
static_assert(HRESULT_FROM_WIN32(0) == S_OK);
static_assert(HRESULT_FROM_WIN32(E_FAIL) == E_FAIL);
static_assert(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x200) == CONNECT_E_NOCONNECTION);
static_assert(HRESULT_CODE(E_OUTOFMEMORY) == 14 && HRESULT_FACILITY(E_OUTOFMEMORY) == 7);

class ComInit : public ::testing::Test {
  protected:
    void SetUp() override { GetComTestHooks().Reset(); }
    void TearDown() override { GetComTestHooks().Reset(); }

    static HRESULT InitSecurity() {
        return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    }
    static bool Initialised() {
        APTTYPE type{};
        APTTYPEQUALIFIER qualifier{};
        return CoGetApartmentType(&type, &qualifier) == S_OK;
    }
};

TEST_F(ComInit, CountsPerThread) {
    EXPECT_FALSE(Initialised());
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    ASSERT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
    EXPECT_EQ(type, APTTYPE_STA);

    // The other model is refused and does not count.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);

    // Another thread has its own count.
    std::thread([] {
        EXPECT_FALSE(Initialised());
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        APTTYPE t{};
        APTTYPEQUALIFIER q{};
        ASSERT_EQ(CoGetApartmentType(&t, &q), S_OK);
        EXPECT_EQ(t, APTTYPE_MTA);
        CoUninitialize();
        EXPECT_FALSE(Initialised());
    }).join();

    CoUninitialize();
    CoUninitialize();
    EXPECT_TRUE(Initialised());  // three successes need three CoUninitialize calls
    CoUninitialize();
    EXPECT_FALSE(Initialised());
    CoUninitialize();                        // one too many does nothing
    EXPECT_EQ(CoInitialize(nullptr), S_OK);  // and the thread starts afresh

    const ComTestHooks& hooks = GetComTestHooks();
    EXPECT_EQ(hooks.coInitializeCalls.load(), 6);
    EXPECT_EQ(hooks.coUninitializeCalls.load(), 5);
    EXPECT_EQ(CoGetApartmentType(nullptr, &qualifier), E_INVALIDARG);
}

TEST_F(ComInit, RefusesBadArguments) {
    int reserved = 0;
    EXPECT_EQ(CoInitialize(&reserved), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
    EXPECT_FALSE(Initialised());
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE), S_OK);

    EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 7, 3, nullptr, 0, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 1, 5, nullptr, 0, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(CoInitializeSecurity(nullptr, 2, nullptr, nullptr, 1, 3, nullptr, 0, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, &reserved, 1, 3, nullptr, 0, nullptr),
              E_INVALIDARG);
    EXPECT_FALSE(CoGetProcessSecurity());
}

TEST_F(ComInit, SecurityOncePerProcessOnAnInitialisedThread) {
    EXPECT_EQ(InitSecurity(), CO_E_NOTINITIALIZED);
    EXPECT_FALSE(CoGetProcessSecurity());

    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(InitSecurity(), S_OK);
    const auto settings = CoGetProcessSecurity();
    ASSERT_TRUE(settings);
    EXPECT_FALSE(settings->hasSecurityDescriptor);
    EXPECT_EQ(settings->cAuthSvc, -1);
    EXPECT_EQ(settings->dwAuthnLevel, RPC_C_AUTHN_LEVEL_NONE);
    EXPECT_EQ(settings->dwImpLevel, RPC_C_IMP_LEVEL_IMPERSONATE);
    EXPECT_EQ(settings->dwCapabilities, EOAC_NONE);

    EXPECT_EQ(InitSecurity(), RPC_E_TOO_LATE);
    // Also from another thread: the setting belongs to the process.
    std::thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(InitSecurity(), RPC_E_TOO_LATE);
        CoUninitialize();
    }).join();
    EXPECT_EQ(GetComTestHooks().coInitializeSecurityCalls.load(), 4);
    CoUninitialize();
}

TEST_F(ComInit, InjectedFailuresHaveNoEffectUntilCleared) {
    ComTestHooks& hooks = GetComTestHooks();
    hooks.failCoInitialize = E_OUTOFMEMORY;
    EXPECT_EQ(CoInitialize(nullptr), E_OUTOFMEMORY);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), E_OUTOFMEMORY);
    EXPECT_FALSE(Initialised());
    hooks.failCoInitialize = S_OK;
    ASSERT_EQ(CoInitialize(nullptr), S_OK);

    hooks.failCoInitializeSecurity = E_ACCESSDENIED;
    EXPECT_EQ(InitSecurity(), E_ACCESSDENIED);
    EXPECT_FALSE(CoGetProcessSecurity());
    hooks.failCoInitializeSecurity = S_OK;
    EXPECT_EQ(InitSecurity(), S_OK);  // a failed call did not use up the one chance

    EXPECT_EQ(hooks.coInitializeCalls.load(), 3);
    EXPECT_EQ(hooks.coInitializeSecurityCalls.load(), 2);

    // Reset forgets everything, including this thread's initialisation and the security.
    hooks.failCoGetMalloc = E_FAIL;
    hooks.Reset();
    EXPECT_EQ(hooks.failCoGetMalloc.load(), S_OK);
    EXPECT_EQ(hooks.coInitializeCalls.load(), 0);
    EXPECT_FALSE(Initialised());
    EXPECT_FALSE(CoGetProcessSecurity());
}

}  // namespace
