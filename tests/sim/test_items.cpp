// Items of a group: adding, validating, removing and changing them, with their per-item errors.

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "conformance.h"
#include "expected_space.h"
#include "hr_check.h"

namespace {

using namespace conformance;

CONFORMANCE_SUITE(ItemLifecycle);

const ItemAttributes* FindClient(const std::vector<ItemAttributes>& items, OPCHANDLE client) {
    const auto it = std::find_if(items.begin(), items.end(),
                                 [&](const ItemAttributes& a) { return a.client == client; });
    return it == items.end() ? nullptr : &*it;
}

TEST_P(ItemLifecycle, AddItemsReportsTypesRightsAndHandles) {
    AddedGroup g = MustAddGroup({.name = "Everything"});
    std::vector<ItemDef> defs;
    const std::vector<ExpectedItem>& expected = ExpectedItems();
    for (std::size_t i = 0; i < expected.size(); ++i) {
        defs.push_back({.id = expected[i].id, .client = static_cast<OPCHANDLE>(100 + i)});
    }
    defs.push_back({.id = "Load.Item00000", .client = 1});
    defs.push_back({.id = "Load.Item09999", .client = 2});

    const ItemOutcome added = AddItems(g.object.Get(), defs);
    ASSERT_HR(added.hr, S_OK);
    ASSERT_EQ(added.items.size(), defs.size());
    std::set<OPCHANDLE> handles;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ItemResult& r = added.items[i];
        EXPECT_HR(r.error, S_OK) << expected[i].id;
        EXPECT_EQ(r.canonical, expected[i].type) << expected[i].id;
        if (expected[i].rights != 0) {
            EXPECT_EQ(r.rights, expected[i].rights) << expected[i].id;
        } else {
            EXPECT_NE(r.rights & kRead, 0u) << expected[i].id << " cannot be read";
        }
        handles.insert(r.server);
    }
    for (std::size_t i = expected.size(); i < defs.size(); ++i) {
        EXPECT_EQ(added.items[i].canonical, VT_R8) << defs[i].id;
        EXPECT_NE(added.items[i].rights & kRead, 0u) << defs[i].id;
        handles.insert(added.items[i].server);
    }
    EXPECT_EQ(handles.size(), defs.size()) << "two items share a server handle";

    // The enumerator lists what was added, as it was added.
    const ItemList list = ListItems(g.object.Get());
    ASSERT_HR(list.hr, S_OK);
    ASSERT_EQ(list.items.size(), defs.size());
    for (std::size_t i = 0; i < defs.size(); ++i) {
        const ItemAttributes* item = FindClient(list.items, defs[i].client);
        ASSERT_NE(item, nullptr) << defs[i].id;
        EXPECT_EQ(item->id, defs[i].id);
        EXPECT_EQ(item->server, added.items[i].server);
        EXPECT_EQ(item->canonical, added.items[i].canonical);
        EXPECT_EQ(item->rights, added.items[i].rights);
        EXPECT_EQ(item->requested, VT_EMPTY);
        EXPECT_EQ(item->active, TRUE);
    }
}

TEST_P(ItemLifecycle, AddItemsReportsEachBadItemAndAddsTheRest) {
    AddedGroup g = MustAddGroup({.name = "Mixed"});
    const std::vector<ItemDef> defs = {
        {.id = "Signals.Ramp", .client = 1},
        {.id = "Signals.Nope", .client = 2},
        {.id = "", .client = 3},
        {.id = "Signals.Ramp.", .client = 4},
        {.id = ".Signals.Ramp", .client = 5},
        {.id = "Signals..Ramp", .client = 6},
        {.id = "Static.DoubleArray", .client = 7, .requested = VT_I4},
        {.id = "Signals.Ramp", .client = 8, .requested = VT_ARRAY | VT_R8},
        {.id = "Nowhere.At.All", .client = 9},
        {.id = "Signals", .client = 10},
        {.id = "Static.Int32", .client = 11, .requested = VT_BSTR},
    };
    const ItemOutcome added = AddItems(g.object.Get(), defs);
    EXPECT_HR(added.hr, S_FALSE);
    std::vector<HRESULT> errors;
    for (const ItemResult& r : added.items) {
        errors.push_back(r.error);
    }
    EXPECT_HRS(errors, S_OK, OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID, OPC_E_INVALIDITEMID,
               OPC_E_INVALIDITEMID, OPC_E_INVALIDITEMID, OPC_E_BADTYPE, OPC_E_BADTYPE,
               OPC_E_UNKNOWNITEMID, OPC_E_UNKNOWNITEMID, S_OK);

    const ItemList list = ListItems(g.object.Get());
    ASSERT_EQ(list.items.size(), 2u);
    ASSERT_NE(FindClient(list.items, 1), nullptr);
    const ItemAttributes* text = FindClient(list.items, 11);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->requested, VT_BSTR);
    EXPECT_EQ(text->canonical, VT_I4);

    // A call where every item fails still succeeds as a call.
    const ItemOutcome none = AddItems(g.object.Get(), {{.id = "Signals.Nope", .client = 1}});
    EXPECT_HR(none.hr, S_FALSE);
    ASSERT_EQ(none.items.size(), 1u);
    EXPECT_HR(none.items[0].error, OPC_E_UNKNOWNITEMID);

    // No items at all is not a request.
    EXPECT_HR(AddItems(g.object.Get(), {}).hr, E_INVALIDARG);
    EXPECT_EQ(ListItems(g.object.Get()).items.size(), 2u);
}

TEST_P(ItemLifecycle, TheSameItemTwiceIsTwoItems) {
    AddedGroup g = MustAddGroup({.name = "Twice"});
    const ItemOutcome added = AddItems(
        g.object.Get(), {{.id = "Static.Int16", .client = 1}, {.id = "Static.Int16", .client = 2}});
    ASSERT_HR(added.hr, S_OK);
    ASSERT_EQ(added.items.size(), 2u);
    EXPECT_NE(added.items[0].server, added.items[1].server);
    EXPECT_HRS(RemoveItems(g.object.Get(), {added.items[0].server}).errors, S_OK);
    const ItemList list = ListItems(g.object.Get());
    ASSERT_EQ(list.items.size(), 1u);
    EXPECT_EQ(list.items[0].client, 2u);
}

TEST_P(ItemLifecycle, ValidateItemsChecksWithoutAdding) {
    AddedGroup g = MustAddGroup({.name = "Validate"});
    const ItemOutcome checked = ValidateItems(
        g.object.Get(), {{.id = "Access.WriteOnly", .client = 1},
                         {.id = "Signals.Nope", .client = 2},
                         {.id = "Signals.Text.", .client = 3},
                         {.id = "Static.StringArray", .client = 4, .requested = VT_R8},
                         {.id = "Static.Bool", .client = 5, .requested = VT_I2}});
    EXPECT_HR(checked.hr, S_FALSE);
    ASSERT_EQ(checked.items.size(), 5u);
    EXPECT_HR(checked.items[0].error, S_OK);
    EXPECT_EQ(checked.items[0].canonical, VT_R8);
    EXPECT_EQ(checked.items[0].rights, kWrite);
    EXPECT_HR(checked.items[1].error, OPC_E_UNKNOWNITEMID);
    EXPECT_HR(checked.items[2].error, OPC_E_INVALIDITEMID);
    EXPECT_HR(checked.items[3].error, OPC_E_BADTYPE);
    EXPECT_HR(checked.items[4].error, S_OK);
    EXPECT_EQ(checked.items[4].canonical, VT_BOOL);

    EXPECT_HR(ListItems(g.object.Get()).hr, S_FALSE) << "validated items were added";
    EXPECT_HR(ValidateItems(g.object.Get(), {}).hr, E_INVALIDARG);
}

TEST_P(ItemLifecycle, RemoveItemsTakesValidHandlesAndReportsTheOthers) {
    AddedGroup g = MustAddGroup({.name = "Remove"});
    const ItemOutcome added = AddItems(g.object.Get(), {{.id = "Static.Int8", .client = 1},
                                                        {.id = "Static.UInt8", .client = 2},
                                                        {.id = "Static.Int16", .client = 3}});
    ASSERT_HR(added.hr, S_OK);
    const OPCHANDLE h1 = added.items[0].server;
    const OPCHANDLE h2 = added.items[1].server;
    OPCHANDLE unknown = 0xBAD0;
    while (unknown == h1 || unknown == h2 || unknown == added.items[2].server) {
        ++unknown;
    }

    ErrorsOutcome removed = RemoveItems(g.object.Get(), {h1, unknown, h2});
    EXPECT_HR(removed.hr, S_FALSE);
    EXPECT_HRS(removed.errors, S_OK, OPC_E_INVALIDHANDLE, S_OK);
    removed = RemoveItems(g.object.Get(), {h1});
    EXPECT_HR(removed.hr, S_FALSE);
    EXPECT_HRS(removed.errors, OPC_E_INVALIDHANDLE);

    const ItemList list = ListItems(g.object.Get());
    ASSERT_EQ(list.items.size(), 1u);
    EXPECT_EQ(list.items[0].client, 3u);
    EXPECT_HR(RemoveItems(g.object.Get(), {}).hr, E_INVALIDARG);

    // A removed item's handle is refused everywhere.
    EXPECT_HRS(SetActiveState(g.object.Get(), {h1}, false).errors, OPC_E_INVALIDHANDLE);
    const ReadOutcome read = SyncRead(g.object.Get(), OPC_DS_DEVICE, {h1});
    EXPECT_HR(read.hr, S_FALSE);
    ASSERT_EQ(read.items.size(), 1u);
    EXPECT_HR(read.items[0].error, OPC_E_INVALIDHANDLE);
}

TEST_P(ItemLifecycle, ItemSettingsChangeThroughTheirCalls) {
    AddedGroup g = MustAddGroup({.name = "Settings"});
    const ItemOutcome added = AddItems(g.object.Get(), {{.id = "Static.Int32", .client = 1},
                                                        {.id = "Static.Double", .client = 2}});
    ASSERT_HR(added.hr, S_OK);
    const OPCHANDLE h1 = added.items[0].server;
    const OPCHANDLE h2 = added.items[1].server;
    const OPCHANDLE bad = std::max(h1, h2) + 1000;

    ErrorsOutcome result = SetActiveState(g.object.Get(), {h1, bad}, false);
    EXPECT_HR(result.hr, S_FALSE);
    EXPECT_HRS(result.errors, S_OK, OPC_E_INVALIDHANDLE);

    result = SetClientHandles(g.object.Get(), {h2, bad}, {0xFFFFFFFF, 5});
    EXPECT_HR(result.hr, S_FALSE);
    EXPECT_HRS(result.errors, S_OK, OPC_E_INVALIDHANDLE);

    result = SetDatatypes(g.object.Get(), {h1, h2, bad}, {VT_BSTR, VT_ARRAY | VT_BSTR, VT_I4});
    EXPECT_HR(result.hr, S_FALSE);
    EXPECT_HRS(result.errors, S_OK, OPC_E_BADTYPE, OPC_E_INVALIDHANDLE);

    const ItemList list = ListItems(g.object.Get());
    ASSERT_EQ(list.items.size(), 2u);
    const ItemAttributes* first = FindClient(list.items, 1);
    const ItemAttributes* second = FindClient(list.items, 0xFFFFFFFF);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->active, FALSE);
    EXPECT_EQ(first->requested, VT_BSTR);
    EXPECT_EQ(second->active, TRUE);
    EXPECT_EQ(second->requested, VT_EMPTY) << "a refused type change took effect";

    // A read answers in the requested type.
    const ItemState read = ReadOne(g.object.Get(), h1);
    EXPECT_EQ(read.value.Type(), VT_BSTR);
    EXPECT_EQ(TextOf(read.value.Get()), "0");

    // VT_EMPTY asks for the canonical type again.
    ASSERT_HR(SetDatatypes(g.object.Get(), {h1}, {VT_EMPTY}).hr, S_OK);
    EXPECT_EQ(ReadOne(g.object.Get(), h1).value.Type(), VT_I4);

    EXPECT_HR(SetActiveState(g.object.Get(), {}, true).hr, E_INVALIDARG);
    EXPECT_HR(SetClientHandles(g.object.Get(), {}, {}).hr, E_INVALIDARG);
    EXPECT_HR(SetDatatypes(g.object.Get(), {}, {}).hr, E_INVALIDARG);
}

TEST_P(ItemLifecycle, ItemEnumeratorFollowsTheEnumeratorRules) {
    AddedGroup g = MustAddGroup({.name = "Enumerate"});
    IUnknown* raw = ServerUnknown();
    ComPtr<IOPCItemMgt> mgt = Query<IOPCItemMgt>(g.object);
    ASSERT_TRUE(mgt);
    EXPECT_HR(mgt->CreateEnumerator(IID_IEnumOPCItemAttributes, &raw), S_FALSE);
    EXPECT_EQ(raw, nullptr) << "an empty group still gave an enumerator";

    std::vector<ItemDef> defs;
    for (int i = 0; i < 10; ++i) {
        defs.push_back({.id = "Load." + LoadLeafName(i), .client = static_cast<OPCHANDLE>(i)});
    }
    ASSERT_HR(AddItems(g.object.Get(), defs).hr, S_OK);

    raw = ServerUnknown();
    EXPECT_HR(mgt->CreateEnumerator(IID_IEnumString, &raw), E_NOINTERFACE);
    EXPECT_EQ(raw, nullptr);
    ASSERT_HR(mgt->CreateEnumerator(IID_IEnumOPCItemAttributes, &raw), S_OK);
    ComPtr<IUnknown> unknown = ComPtr<IUnknown>::Attach(raw);
    ComPtr<IEnumOPCItemAttributes> e = Query<IEnumOPCItemAttributes>(unknown);
    ASSERT_TRUE(e);

    std::set<std::string> seen;
    const auto next = [&](IEnumOPCItemAttributes* from, ULONG celt, HRESULT expected,
                          ULONG expectedCount) {
        OPCITEMATTRIBUTES* array = nullptr;
        ULONG fetched = 99;
        EXPECT_HR(from->Next(celt, &array, &fetched), expected);
        EXPECT_EQ(fetched, expectedCount);
        std::vector<ItemAttributes> items = TakeAttributes(array, fetched);
        if (fetched == 0 && array != nullptr) {
            ExpectTaskMemoryAndFree(array, "an empty attribute array");
        }
        return items;
    };
    for (const ItemAttributes& a : next(e.Get(), 4, S_OK, 4)) {
        seen.insert(a.id);
    }
    EXPECT_HR(e->Skip(2), S_OK);

    IEnumOPCItemAttributes* cloneRaw = nullptr;
    ASSERT_HR(e->Clone(&cloneRaw), S_OK);
    ComPtr<IEnumOPCItemAttributes> clone = ComPtr<IEnumOPCItemAttributes>::Attach(cloneRaw);
    const std::vector<ItemAttributes> rest = next(e.Get(), 10, S_FALSE, 4);
    next(e.Get(), 1, S_FALSE, 0);
    // The clone started where the original stood and moves on its own.
    const std::vector<ItemAttributes> cloneRest = next(clone.Get(), 10, S_FALSE, 4);
    ASSERT_EQ(rest.size(), cloneRest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        EXPECT_EQ(rest[i].id, cloneRest[i].id);
        seen.insert(rest[i].id);
    }
    EXPECT_EQ(seen.size(), 8u);

    EXPECT_HR(e->Reset(), S_OK);
    EXPECT_HR(e->Skip(11), S_FALSE);
    EXPECT_HR(e->Reset(), S_OK);
    const std::vector<ItemAttributes> all = next(e.Get(), 10, S_OK, 10);
    std::set<OPCHANDLE> clients;
    for (const ItemAttributes& a : all) {
        clients.insert(a.client);
        EXPECT_EQ(a.id, "Load." + LoadLeafName(static_cast<int>(a.client)));
        EXPECT_EQ(a.canonical, VT_R8);
    }
    EXPECT_EQ(clients.size(), 10u);
}

}  // namespace
