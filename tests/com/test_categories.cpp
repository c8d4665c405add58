#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/activation.h"
#include "com/categories.h"
#include "com/class_factory.h"
#include "com/com_object.h"
#include "com/malloc.h"
#include "registry_fixture.h"

namespace {

constexpr CATID kDaServer20{
    0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
constexpr CATID kOtherCategory{0xCA7E0002, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
constexpr CATID kRequiredCategory{0xCA7E0003, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};

constexpr CLSID kFileServerA{0xC1A50001, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
constexpr CLSID kFileServerB{0xC1A50002, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
constexpr CLSID kNeedsMore{0xC1A50003, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};
constexpr CLSID kOtherKind{0xC1A50004, 0, 0, {0, 0, 0, 0, 0, 0, 0, 4}};
constexpr CLSID kInMemory{0xC1A50000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 9}};

class CNullFactory final : public ComObject<IClassFactory> {
  public:
    HRESULT CreateInstance(IUnknown*, REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOTIMPL;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
};

std::vector<GUID> Drain(IEnumGUID* e) {
    std::vector<GUID> out;
    GUID batch[2];
    ULONG fetched = 0;
    while (true) {
        const HRESULT hr = e->Next(2, batch, &fetched);
        out.insert(out.end(), batch, batch + fetched);
        if (hr != S_OK) {
            break;
        }
    }
    return out;
}

class CategoriesTest : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        WriteText("servers.reg",
                  "REGEDIT4\n"
                  "[HKEY_CLASSES_ROOT\\CLSID\\{C1A50002-0000-0000-0000-000000000002}]\n"
                  "[HKEY_CLASSES_ROOT\\CLSID\\{C1A50002-0000-0000-0000-000000000002}\\ProgID]\n"
                  "@=\"Vendor.B.1\"\n"
                  "[HKEY_CLASSES_ROOT\\CLSID\\{C1A50002-0000-0000-0000-000000000002}\\"
                  "Implemented Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}]\n"
                  "[HKEY_CLASSES_ROOT\\CLSID\\{c1a50001-0000-0000-0000-000000000001}\\ProgID]\n"
                  "@=\"Vendor.A.1\"\n"
                  "[HKEY_CLASSES_ROOT\\CLSID\\{c1a50001-0000-0000-0000-000000000001}\\"
                  "implemented categories\\{CA7E0002-0000-0000-0000-000000000002}]\n"
                  "[HKEY_CLASSES_ROOT\\CLSID\\{c1a50001-0000-0000-0000-000000000001}\\"
                  "Implemented Categories\\{63d5f432-cfe4-11d1-b2c8-0060083ba1fb}]\n"
                  "[HKEY_CLASSES_ROOT\\CLSID\\{C1A50003-0000-0000-0000-000000000003}\\"
                  "Implemented Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}]\n"
                  "[HKEY_CLASSES_ROOT\\CLSID\\{C1A50003-0000-0000-0000-000000000003}\\"
                  "Required Categories\\{CA7E0003-0000-0000-0000-000000000003}]\n"
                  "[HKEY_CLASSES_ROOT\\CLSID\\{C1A50004-0000-0000-0000-000000000004}\\"
                  "Implemented Categories\\{CA7E0002-0000-0000-0000-000000000002}]\n"
                  "[HKEY_CLASSES_ROOT\\CLSID\\not-a-guid\\"
                  "Implemented Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}]\n"
                  "[HKEY_CLASSES_ROOT\\CLSID\\{C1A50002-0000-0000-0000-000000000002}\\"
                  "Implemented Categories\\junk]\n");
        ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICatInformation, info_.PutVoid()),
                  S_OK);
    }

    std::vector<GUID> Classes(ULONG cImpl, const CATID* impl, ULONG cReq, const CATID* req) {
        ComPtr<IEnumGUID> e;
        EXPECT_EQ(info_->EnumClassesOfCategories(cImpl, impl, cReq, req, e.Put()), S_OK);
        return e ? Drain(e.Get()) : std::vector<GUID>{};
    }

    ComPtr<ICatInformation> info_;
};

TEST_F(CategoriesTest, ListsServersOfACategoryFromFilesAndMemory) {
    EXPECT_EQ(Classes(1, &kDaServer20, 0, nullptr),
              (std::vector<GUID>{kFileServerA, kFileServerB}));

    const auto factory = MakeComObject<CNullFactory>();
    const CATID cats[] = {kDaServer20};
    const ScopedClassRegistration reg(kInMemory, factory->GetUnknown(), "Memory.Server.1", cats);
    ASSERT_EQ(reg.hr(), S_OK);
    const std::vector<GUID> found = Classes(1, &kDaServer20, 0, nullptr);
    EXPECT_EQ(found, (std::vector<GUID>{kInMemory, kFileServerA, kFileServerB}));

    // What the server dialog does with them.
    std::vector<std::u16string> progIds;
    const std::size_t blocks = CoTaskMemLiveBlocks();
    for (const GUID& clsid : found) {
        LPOLESTR progId = nullptr;
        if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId))) {
            progIds.emplace_back(progId);
            CoTaskMemFree(progId);
        }
    }
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks);
    EXPECT_EQ(progIds,
              (std::vector<std::u16string>{u"Memory.Server.1", u"Vendor.A.1", u"Vendor.B.1"}));
}

TEST_F(CategoriesTest, AppliesImplementedAndRequiredConditions) {
    const CATID either[] = {kOtherCategory, kDaServer20};
    EXPECT_EQ(Classes(2, either, 0, nullptr),
              (std::vector<GUID>{kFileServerA, kFileServerB, kOtherKind}));
    EXPECT_EQ(Classes(1, &kDaServer20, static_cast<ULONG>(-1), nullptr),
              (std::vector<GUID>{kFileServerA, kFileServerB, kNeedsMore}));
    EXPECT_EQ(Classes(1, &kDaServer20, 1, &kRequiredCategory),
              (std::vector<GUID>{kFileServerA, kFileServerB, kNeedsMore}));
    EXPECT_EQ(Classes(static_cast<ULONG>(-1), nullptr, 1, &kRequiredCategory),
              (std::vector<GUID>{kFileServerA, kFileServerB, kNeedsMore, kOtherKind}));
    const CATID unknown{0xFFFF, 0, 0, {}};
    EXPECT_TRUE(Classes(1, &unknown, 0, nullptr).empty());

    ComPtr<IEnumGUID> e;
    EXPECT_EQ(info_->EnumClassesOfCategories(0, &kDaServer20, 0, nullptr, e.Put()), E_INVALIDARG);
    EXPECT_EQ(info_->EnumClassesOfCategories(1, nullptr, 0, nullptr, e.Put()), E_INVALIDARG);
    EXPECT_EQ(info_->EnumClassesOfCategories(1, &kDaServer20, 0, nullptr, nullptr), E_POINTER);

    EXPECT_EQ(info_->IsClassOfCategories(kFileServerA, 1, &kOtherCategory, 0, nullptr), S_OK);
    EXPECT_EQ(info_->IsClassOfCategories(kOtherKind, 1, &kDaServer20, 0, nullptr), S_FALSE);
    EXPECT_EQ(info_->IsClassOfCategories(kNeedsMore, 1, &kDaServer20, 0, nullptr), S_FALSE);
    EXPECT_EQ(info_->IsClassOfCategories(kNeedsMore, 1, &kDaServer20, 1, &kRequiredCategory), S_OK);
}

TEST_F(CategoriesTest, EnumeratesTheCategoriesOfAClass) {
    ComPtr<IEnumGUID> e;
    ASSERT_EQ(info_->EnumImplCategoriesOfClass(kFileServerA, e.Put()), S_OK);
    EXPECT_EQ(Drain(e.Get()), (std::vector<GUID>{kDaServer20, kOtherCategory}));
    ASSERT_EQ(info_->EnumReqCategoriesOfClass(kNeedsMore, e.Put()), S_OK);
    EXPECT_EQ(Drain(e.Get()), (std::vector<GUID>{kRequiredCategory}));
    ASSERT_EQ(info_->EnumImplCategoriesOfClass(kInMemory, e.Put()), S_OK);
    EXPECT_TRUE(Drain(e.Get()).empty());

    ComPtr<IEnumCATEGORYINFO> cats;
    EXPECT_EQ(info_->EnumCategories(0x409, cats.Put()), E_NOTIMPL);
    LPWSTR desc = nullptr;
    EXPECT_EQ(info_->GetCategoryDesc(kDaServer20, 0x409, &desc), E_NOTIMPL);
    EXPECT_EQ(desc, nullptr);
}

}  // namespace
