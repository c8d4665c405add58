// Arguments a client gets wrong: null pointers where the standard requires something, and
// counts without arrays. The server refuses them and goes on working; nothing is followed,
// nothing is half done.

#include <vector>

#include "conformance.h"
#include "hr_check.h"

namespace {

using namespace conformance;

CONFORMANCE_SUITE(Arguments);

TEST_P(Arguments, ServerCallsRefuseMissingPointers) {
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    EXPECT_TRUE(FAILED(Server().AddGroup(u"NoOut", TRUE, 1000, 0, nullptr, nullptr, 0, &handle,
                                         &revised, IID_IUnknown, nullptr)));
    IUnknown* group = nullptr;
    EXPECT_TRUE(FAILED(Server().AddGroup(u"NoHandle", TRUE, 1000, 0, nullptr, nullptr, 0, nullptr,
                                         &revised, IID_IUnknown, &group)));
    if (group != nullptr) {
        group->Release();
    }
    EXPECT_TRUE(FAILED(Server().GetStatus(nullptr)));
    EXPECT_TRUE(FAILED(Server().GetErrorString(OPC_E_BADTYPE, 0, nullptr)));
    IUnknown* found = nullptr;
    EXPECT_TRUE(FAILED(Server().GetGroupByName(nullptr, IID_IUnknown, &found)));
    EXPECT_EQ(found, nullptr);
    EXPECT_TRUE(FAILED(Server().GetGroupByName(u"NoOut", IID_IUnknown, nullptr)));
    EXPECT_TRUE(FAILED(Server().CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, nullptr)));

    // No group was left behind by the refused calls.
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_HR(Server().GetStatus(&status), S_OK);
    EXPECT_EQ(status->dwGroupCount, 0u);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);

    ComPtr<IOPCBrowseServerAddressSpace> browse =
        Query<IOPCBrowseServerAddressSpace>(ServerUnknown());
    ASSERT_TRUE(browse);
    EXPECT_TRUE(FAILED(browse->QueryOrganization(nullptr)));
    EXPECT_TRUE(FAILED(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, nullptr)));
    EXPECT_TRUE(FAILED(browse->BrowseOPCItemIDs(OPC_LEAF, u"", VT_EMPTY, 0, nullptr)));
    LPWSTR id = nullptr;
    EXPECT_TRUE(FAILED(browse->GetItemID(nullptr, &id)));
    EXPECT_EQ(id, nullptr);
    std::u16string name = u"Signals";
    EXPECT_TRUE(FAILED(browse->GetItemID(name.data(), nullptr)));
}

TEST_P(Arguments, GroupCallsRefuseMissingArraysAndDoNothing) {
    AddedGroup g = MustAddGroup({.name = "Args"});
    ComPtr<IOPCItemMgt> items = Query<IOPCItemMgt>(g.object);
    ComPtr<IOPCSyncIO> sync = Query<IOPCSyncIO>(g.object);
    ComPtr<IOPCGroupStateMgt> state = Query<IOPCGroupStateMgt>(g.object);
    ASSERT_TRUE(items && sync && state);

    std::u16string itemId = u"Static.Int32";
    std::u16string path;
    OPCITEMDEF def{};
    def.szAccessPath = path.data();
    def.szItemID = itemId.data();
    def.bActive = TRUE;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_TRUE(FAILED(items->AddItems(1, nullptr, &results, &errors)));
    EXPECT_TRUE(FAILED(items->AddItems(1, &def, nullptr, &errors)));
    EXPECT_TRUE(FAILED(items->AddItems(1, &def, &results, nullptr)));
    EXPECT_HR(ListItems(g.object.Get()).hr, S_FALSE) << "a refused AddItems added an item";
    ExpectTaskMemoryAndFree(results, "results of a refused call", true);
    ExpectTaskMemoryAndFree(errors, "errors of a refused call", true);

    // An item without an id is an invalid item, or the whole call is refused.
    OPCITEMDEF noId = def;
    noId.szItemID = nullptr;
    results = nullptr;
    errors = nullptr;
    const HRESULT hr = items->AddItems(1, &noId, &results, &errors);
    if (SUCCEEDED(hr)) {
        ASSERT_NE(errors, nullptr);
        EXPECT_TRUE(FAILED(errors[0]));
        EXPECT_HR(hr, S_FALSE);
    }
    ExpectTaskMemoryAndFree(results, "results", FAILED(hr));
    ExpectTaskMemoryAndFree(errors, "errors", FAILED(hr));

    ASSERT_HR(AddItems(g.object.Get(), {{.id = "Static.Int32", .client = 1}}).hr, S_OK);
    EXPECT_TRUE(FAILED(items->RemoveItems(1, nullptr, &errors)));
    EXPECT_TRUE(FAILED(items->SetActiveState(1, nullptr, FALSE, &errors)));
    EXPECT_TRUE(FAILED(items->SetClientHandles(1, nullptr, nullptr, &errors)));
    EXPECT_TRUE(FAILED(items->SetDatatypes(1, nullptr, nullptr, &errors)));
    OPCITEMSTATE* states = nullptr;
    EXPECT_TRUE(FAILED(sync->Read(OPC_DS_DEVICE, 1, nullptr, &states, &errors)));
    EXPECT_EQ(states, nullptr);
    EXPECT_TRUE(FAILED(sync->Write(1, nullptr, nullptr, &errors)));
    EXPECT_TRUE(FAILED(items->CreateEnumerator(IID_IEnumOPCItemAttributes, nullptr)));
    EXPECT_TRUE(FAILED(state->SetName(nullptr)));
    EXPECT_TRUE(FAILED(state->CloneGroup(u"Clone", IID_IUnknown, nullptr)));
    EXPECT_EQ(ListItems(g.object.Get()).items.size(), 1u);
    EXPECT_EQ(GetState(g.object.Get()).name, "Args");
}

}  // namespace
