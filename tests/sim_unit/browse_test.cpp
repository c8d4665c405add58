// The browse position and the browse enumerator, with the faults that bend them.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/browse_enum.h"
#include "sim_client.h"

namespace {

std::vector<std::u16string> Drain(IEnumString* e, HRESULT* last = nullptr) {
    std::vector<std::u16string> names;
    for (;;) {
        LPOLESTR name = nullptr;
        const HRESULT hr = e->Next(1, &name, nullptr);
        if (hr != S_OK) {
            if (last != nullptr) {
                *last = hr;
            }
            return names;
        }
        names.emplace_back(name);
        CoTaskMemFree(name);
    }
}

TEST(BrowseEnum, FailsAfterTheConfiguredNumberOfNames) {
    auto names =
        std::make_shared<SimBrowseEnum::Names>(SimBrowseEnum::Names{u"a", u"b", u"c", u"d"});
    auto e = MakeComObject<SimBrowseEnum>(names, 0, 2, E_OUTOFMEMORY);
    HRESULT last = S_OK;
    EXPECT_EQ(Drain(e.Get(), &last), (std::vector<std::u16string>{u"a", u"b"}));
    EXPECT_EQ(last, E_OUTOFMEMORY);
    EXPECT_EQ(Drain(e.Get(), &last).size(), 0u);  // it keeps failing
    EXPECT_EQ(last, E_OUTOFMEMORY);

    // A call for several names that crosses the limit hands out none of them.
    ASSERT_EQ(e->Reset(), S_OK);
    LPOLESTR batch[3] = {};
    ULONG fetched = 99;
    EXPECT_EQ(e->Next(3, batch, &fetched), E_OUTOFMEMORY);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(batch[0], nullptr);

    // A clone starts where its original stands; without a limit the end is S_FALSE.
    auto plain = MakeComObject<SimBrowseEnum>(names, 0, 0, E_FAIL);
    ASSERT_EQ(plain->Skip(3), S_OK);
    ComPtr<IEnumString> clone;
    ASSERT_EQ(plain->Clone(clone.Put()), S_OK);
    EXPECT_EQ(Drain(clone.Get(), &last), (std::vector<std::u16string>{u"d"}));
    EXPECT_EQ(last, S_FALSE);
    EXPECT_EQ(plain->Skip(5), S_FALSE);
}

struct Browser {
    explicit Browser(Simulator& sim) : server(sim) { EXPECT_EQ(server.server.As(browse), S_OK); }
    std::vector<std::u16string> List(OPCBROWSETYPE type, const char16_t* filter = u"",
                                     VARTYPE vt = VT_EMPTY, DWORD rights = 0,
                                     HRESULT* result = nullptr) {
        ComPtr<IEnumString> e;
        const HRESULT hr = browse->BrowseOPCItemIDs(type, filter, vt, rights, e.Put());
        if (result != nullptr) {
            *result = hr;
        }
        return e ? Drain(e.Get()) : std::vector<std::u16string>{};
    }
    TestServer server;
    ComPtr<IOPCBrowseServerAddressSpace> browse;
};

TEST(Browse, PositionsFiltersAndFlatListings) {
    Simulator sim;
    Browser b(sim);
    EXPECT_EQ(b.browse->ChangeBrowsePosition(OPC_BROWSE_UP, u""), E_FAIL);
    EXPECT_EQ(b.List(OPC_BRANCH, u"*.*"), (std::vector<std::u16string>{u"Dotted.Branch"}));
    EXPECT_EQ(b.browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Dotted.Branch"), S_OK);
    EXPECT_EQ(b.List(OPC_LEAF), (std::vector<std::u16string>{u"Value"}));
    LPWSTR id = nullptr;
    ASSERT_EQ(b.browse->GetItemID(const_cast<LPWSTR>(u"Value"), &id), S_OK);
    EXPECT_EQ(std::u16string(id), u"Dotted.Branch.Value");
    CoTaskMemFree(id);

    ASSERT_EQ(b.browse->ChangeBrowsePosition(OPC_BROWSE_TO, u"Static"), S_OK);
    EXPECT_EQ(b.List(OPC_LEAF, u"*Array"),
              (std::vector<std::u16string>{u"DoubleArray", u"StringArray"}));
    EXPECT_EQ(b.List(OPC_LEAF, u"", VT_BSTR), (std::vector<std::u16string>{u"String"}));
    ASSERT_EQ(b.browse->ChangeBrowsePosition(OPC_BROWSE_TO, u"Access"), S_OK);
    EXPECT_EQ(b.List(OPC_LEAF, u"*", VT_EMPTY, OPC_WRITEABLE),
              (std::vector<std::u16string>{u"WriteOnly", u"ReadWrite"}));
    HRESULT hr = S_OK;
    EXPECT_TRUE(b.List(OPC_LEAF, u"Nothing*", VT_EMPTY, 0, &hr).empty());
    EXPECT_EQ(hr, S_FALSE);

    // Flat: full ids at and below the position.
    ASSERT_EQ(b.browse->ChangeBrowsePosition(OPC_BROWSE_TO, u"Plant"), S_OK);
    EXPECT_EQ(b.List(OPC_FLAT), (std::vector<std::u16string>{u"Plant.Area1.Line1.Temperature",
                                                             u"Plant.Area1.Line1.Pressure",
                                                             u"Plant.Area1.Line1.Running"}));
    ASSERT_EQ(b.browse->ChangeBrowsePosition(OPC_BROWSE_TO, u""), S_OK);
    EXPECT_EQ(b.List(OPC_FLAT, u"Load.*").size(), 10000u);
    EXPECT_EQ(b.List(OPC_FLAT, u"Load.Item0000#").size(), 10u);
}

TEST(Browse, FaultsBendThePosition) {
    Simulator sim;
    Browser b(sim);
    sim.Faults().neverRefuseBrowseUp = true;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(b.browse->ChangeBrowsePosition(OPC_BROWSE_UP, u""), S_OK);
    }
    EXPECT_EQ(b.List(OPC_BRANCH).size(), 6u);  // still at the top

    sim.Faults().enumFailAfter = 3;
    sim.Faults().enumFailure = E_UNEXPECTED;
    EXPECT_EQ(b.List(OPC_BRANCH).size(), 3u);

    sim.Faults().callResults["ChangeBrowsePosition"] = S_FALSE;
    EXPECT_EQ(b.browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Plant"), S_FALSE);
    sim.Faults().callResults.clear();
    EXPECT_EQ(b.List(OPC_LEAF).size(), 0u);  // the faulted call did not move
}

}  // namespace
