// Browsing the address space (IOPCBrowseServerAddressSpace): positions, listings, filters and
// item ids, and the string enumerators the listings come in.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "conformance.h"
#include "expected_space.h"
#include "hr_check.h"

namespace {

using namespace conformance;

CONFORMANCE_SUITE(Browse);

using Names = std::vector<std::string>;

Names Sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
}

struct Listing {
    HRESULT hr = E_FAIL;
    Names names;  // sorted
};

class Browser {
  public:
    explicit Browser(IUnknown* server) : browse_(Query<IOPCBrowseServerAddressSpace>(server)) {
        EXPECT_TRUE(browse_) << "the server does not browse";
    }
    IOPCBrowseServerAddressSpace* operator->() const { return browse_.Get(); }

    HRESULT Move(OPCBROWSEDIRECTION direction, std::string_view name = "") {
        const std::u16string wide = W(name);
        return browse_->ChangeBrowsePosition(direction, wide.c_str());
    }

    // The names a listing gives; a successful listing always comes with an enumerator, and
    // S_FALSE means it is empty.
    Listing List(OPCBROWSETYPE type, std::string_view filter = "", VARTYPE vt = VT_EMPTY,
                 DWORD rights = 0, ULONG chunk = 1) {
        Listing out;
        const std::u16string wide = W(filter);
        IEnumString* raw = nullptr;
        out.hr = browse_->BrowseOPCItemIDs(type, wide.c_str(), vt, rights, &raw);
        ComPtr<IEnumString> names = ComPtr<IEnumString>::Attach(raw);
        if (FAILED(out.hr)) {
            EXPECT_EQ(raw, nullptr) << "a failed listing handed out an enumerator";
            return out;
        }
        if (!names) {
            ADD_FAILURE() << "listing answered " << HrText(out.hr) << " without an enumerator";
            return out;
        }
        out.names = Sorted(DrainStrings(names.Get(), chunk));
        EXPECT_EQ(out.hr == S_FALSE, out.names.empty())
            << "a listing answers S_FALSE exactly when it is empty (" << HrText(out.hr) << ")";
        return out;
    }

    Names Leaves(std::string_view filter = "", VARTYPE vt = VT_EMPTY, DWORD rights = 0) {
        return List(OPC_LEAF, filter, vt, rights).names;
    }
    Names Branches(std::string_view filter = "") { return List(OPC_BRANCH, filter).names; }

    // The fully qualified id of a name at the position; "" and a test failure when refused.
    std::string ItemId(std::string_view name) {
        std::u16string wide = W(name);
        LPWSTR id = nullptr;
        const HRESULT hr = browse_->GetItemID(wide.data(), &id);
        EXPECT_HR(hr, S_OK) << "GetItemID(\"" << name << "\")";
        if (FAILED(hr)) {
            return "";
        }
        return TakeTaskString(id, "an item id");
    }

  private:
    ComPtr<IOPCBrowseServerAddressSpace> browse_;
};

const Names kTopBranches =
    Sorted({"Signals", "Static", "Access", "Plant", "Dotted.Branch", "Load"});
const Names kSignals = Sorted({"Ramp", "Sine", "Random", "Square", "Counter", "Toggle", "Text"});
const Names kStatic =
    Sorted({"Int8", "UInt8", "Int16", "UInt16", "Int32", "UInt32", "Float", "Double", "Bool",
            "String", "Currency", "Date", "DoubleArray", "StringArray"});
const Names kAccess = Sorted({"ReadOnly", "WriteOnly", "ReadWrite"});
const Names kLine1 = Sorted({"Temperature", "Pressure", "Running"});

TEST_P(Browse, TheSpaceIsHierarchicalWithItsBranchesAtTheTop) {
    Browser b(ServerUnknown());
    OPCNAMESPACETYPE type = OPC_NS_FLAT;
    EXPECT_HR(b->QueryOrganization(&type), S_OK);
    EXPECT_EQ(type, OPC_NS_HIERARCHIAL);

    const Listing branches = b.List(OPC_BRANCH);
    EXPECT_HR(branches.hr, S_OK);
    EXPECT_EQ(branches.names, kTopBranches);
    const Listing leaves = b.List(OPC_LEAF);
    EXPECT_HR(leaves.hr, S_FALSE);
    EXPECT_TRUE(leaves.names.empty());
    // A star and an empty filter both mean everything.
    EXPECT_EQ(b.Branches("*"), kTopBranches);
}

TEST_P(Browse, MovesUpAndDownAndRefusesWhatCannotBe) {
    Browser b(ServerUnknown());
    EXPECT_HR(b.Move(OPC_BROWSE_UP), E_FAIL) << "up from the top";
    EXPECT_EQ(b.Branches(), kTopBranches) << "a refused move moved";

    ASSERT_HR(b.Move(OPC_BROWSE_DOWN, "Signals"), S_OK);
    EXPECT_EQ(b.Leaves(), kSignals);
    EXPECT_HR(b.List(OPC_BRANCH).hr, S_FALSE);
    // A leaf is not a place to go, nor is a branch that does not exist.
    EXPECT_HR(b.Move(OPC_BROWSE_DOWN, "Ramp"), E_INVALIDARG);
    EXPECT_HR(b.Move(OPC_BROWSE_DOWN, "Nowhere"), E_INVALIDARG);
    EXPECT_HR(b.Move(OPC_BROWSE_DOWN, ""), E_INVALIDARG);
    EXPECT_EQ(b.Leaves(), kSignals) << "a refused move moved";
    ASSERT_HR(b.Move(OPC_BROWSE_UP), S_OK);
    EXPECT_EQ(b.Branches(), kTopBranches);

    ASSERT_HR(b.Move(OPC_BROWSE_DOWN, "Plant"), S_OK);
    EXPECT_EQ(b.Branches(), Sorted({"Area1", "Area2"}));
    EXPECT_TRUE(b.Leaves().empty());
    ASSERT_HR(b.Move(OPC_BROWSE_DOWN, "Area1"), S_OK);
    ASSERT_HR(b.Move(OPC_BROWSE_DOWN, "Line1"), S_OK);
    EXPECT_EQ(b.Leaves(), kLine1);
    EXPECT_EQ(b.ItemId("Temperature"), "Plant.Area1.Line1.Temperature");
    ASSERT_HR(b.Move(OPC_BROWSE_UP), S_OK);
    ASSERT_HR(b.Move(OPC_BROWSE_UP), S_OK);
    EXPECT_EQ(b.Branches(), Sorted({"Area1", "Area2"}));
    ASSERT_HR(b.Move(OPC_BROWSE_DOWN, "Area2"), S_OK);
    EXPECT_HR(b.List(OPC_LEAF).hr, S_FALSE);
    EXPECT_HR(b.List(OPC_BRANCH).hr, S_FALSE);

    // Climbing ends at the top.
    int climbs = 0;
    while (b.Move(OPC_BROWSE_UP) == S_OK && climbs < 10) {
        ++climbs;
    }
    EXPECT_EQ(climbs, 2);
    EXPECT_EQ(b.Branches(), kTopBranches);

    EXPECT_HR(b.Move(static_cast<OPCBROWSEDIRECTION>(0), "Signals"), E_INVALIDARG);
    EXPECT_HR(b.Move(static_cast<OPCBROWSEDIRECTION>(9), "Signals"), E_INVALIDARG);
    EXPECT_EQ(b.Branches(), kTopBranches);
}

TEST_P(Browse, BrowseToGoesToAWholeBranchPath) {
    Browser b(ServerUnknown());
    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Plant.Area1.Line1"), S_OK);
    EXPECT_EQ(b.Leaves(), kLine1);
    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Plant.Area1"), S_OK);
    EXPECT_EQ(b.Branches(), Names{"Line1"});
    ASSERT_HR(b.Move(OPC_BROWSE_UP), S_OK);
    EXPECT_EQ(b.Branches(), Sorted({"Area1", "Area2"}));

    ASSERT_HR(b.Move(OPC_BROWSE_TO, ""), S_OK);
    EXPECT_EQ(b.Branches(), kTopBranches);
    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Dotted.Branch"), S_OK);
    EXPECT_EQ(b.Leaves(), Names{"Value"});

    EXPECT_HR(b.Move(OPC_BROWSE_TO, "Nowhere.At.All"), E_INVALIDARG);
    EXPECT_HR(b.Move(OPC_BROWSE_TO, "Signals.Ramp"), E_INVALIDARG) << "a leaf is no branch";
    EXPECT_EQ(b.Leaves(), Names{"Value"}) << "a refused move moved";
}

TEST_P(Browse, ABranchWithADotInItsNameIsOneBranch) {
    Browser b(ServerUnknown());
    EXPECT_EQ(b.Branches("*.*"), Names{"Dotted.Branch"});
    ASSERT_HR(b.Move(OPC_BROWSE_DOWN, "Dotted.Branch"), S_OK);
    EXPECT_EQ(b.Leaves(), Names{"Value"});
    EXPECT_HR(b.List(OPC_BRANCH).hr, S_FALSE);
    const std::string id = b.ItemId("Value");
    EXPECT_EQ(id, "Dotted.Branch.Value");
    ASSERT_HR(b.Move(OPC_BROWSE_UP), S_OK);
    EXPECT_EQ(b.Branches(), kTopBranches) << "one step up from the dotted branch is the top";
    // Its parts are not branches.
    EXPECT_HR(b.Move(OPC_BROWSE_DOWN, "Dotted"), E_INVALIDARG);

    AddedGroup g = MustAddGroup({.name = "Dotted"});
    const ItemOutcome added = AddItems(g.object.Get(), {{.id = id, .client = 1}});
    ASSERT_HR(added.hr, S_OK);
    EXPECT_EQ(added.items[0].canonical, VT_I2);
}

TEST_P(Browse, GetItemIdQualifiesLeavesAndBranches) {
    Browser b(ServerUnknown());
    EXPECT_EQ(b.ItemId("Plant"), "Plant");
    ASSERT_HR(b.Move(OPC_BROWSE_DOWN, "Plant"), S_OK);
    EXPECT_EQ(b.ItemId("Area1"), "Plant.Area1");
    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Static"), S_OK);
    for (const std::string& leaf : kStatic) {
        EXPECT_EQ(b.ItemId(leaf), "Static." + leaf);
    }
    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Load"), S_OK);
    EXPECT_EQ(b.ItemId("Item04242"), "Load.Item04242");

    std::u16string unknown = u"Item10000";
    LPWSTR id = unknown.data();
    EXPECT_HR(b->GetItemID(unknown.data(), &id), E_INVALIDARG);
    EXPECT_EQ(id, nullptr);
    // A name is looked up at the position, not anywhere.
    std::u16string elsewhere = u"Ramp";
    id = elsewhere.data();
    EXPECT_HR(b->GetItemID(elsewhere.data(), &id), E_INVALIDARG);
    EXPECT_EQ(id, nullptr);

    // Every id it gives can be added.
    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Access"), S_OK);
    AddedGroup g = MustAddGroup({.name = "Ids"});
    std::vector<ItemDef> defs;
    for (const std::string& leaf : b.Leaves()) {
        defs.push_back({.id = b.ItemId(leaf), .client = static_cast<OPCHANDLE>(defs.size())});
    }
    EXPECT_HR(AddItems(g.object.Get(), defs).hr, S_OK);
}

TEST_P(Browse, FlatListingHoldsEveryItemIdOnce) {
    Browser b(ServerUnknown());
    const auto started = std::chrono::steady_clock::now();
    const Listing flat = b.List(OPC_FLAT, "", VT_EMPTY, 0, 500);
    const auto took = std::chrono::steady_clock::now() - started;
    std::printf("[ figures  ] flat listing of %zu ids: %lld ms\n", flat.names.size(),
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    ASSERT_HR(flat.hr, S_OK);
    const std::set<std::string> ids(flat.names.begin(), flat.names.end());
    EXPECT_EQ(ids.size(), flat.names.size()) << "an id listed twice";
    EXPECT_EQ(flat.names.size(), ExpectedItems().size() + kLoadLeaves);
    for (const ExpectedItem& item : ExpectedItems()) {
        EXPECT_TRUE(ids.contains(item.id)) << item.id;
    }
    EXPECT_TRUE(ids.contains("Load.Item00000"));
    EXPECT_TRUE(ids.contains("Load.Item09999"));
    for (const char* branch : {"Plant", "Plant.Area1", "Plant.Area2", "Dotted.Branch", "Load"}) {
        EXPECT_FALSE(ids.contains(branch)) << "a branch in the flat listing: " << branch;
    }
    EXPECT_EQ(b.List(OPC_FLAT, "*Temperature").names, Names{"Plant.Area1.Line1.Temperature"});
    // Below a branch, the flat listing holds what lies below it.
    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Plant"), S_OK);
    EXPECT_EQ(b.List(OPC_FLAT).names.size(), kLine1.size());
    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Plant.Area2"), S_OK);
    EXPECT_HR(b.List(OPC_FLAT).hr, S_FALSE);

    // The walk through the tree finds the same ids.
    std::set<std::string> walked;
    std::function<void(const std::string&)> walk = [&](const std::string& path) {
        ASSERT_HR(b.Move(OPC_BROWSE_TO, path), S_OK) << path;
        const std::string prefix = path.empty() ? "" : path + ".";
        const Names leaves = b.Leaves();
        if (path != "Load") {
            for (const std::string& leaf : leaves) {
                walked.insert(b.ItemId(leaf));
            }
        } else {
            for (const std::string& leaf : leaves) {
                walked.insert(prefix + leaf);
            }
        }
        for (const std::string& branch : b.Branches()) {
            walk(prefix + branch);
        }
    };
    walk("");
    EXPECT_EQ(walked, ids);
}

TEST_P(Browse, NameFiltersFollowTheWildcardRules) {
    Browser b(ServerUnknown());
    EXPECT_EQ(b.Branches("P*"), Names{"Plant"});
    EXPECT_EQ(b.Branches("S?????"), Sorted({"Static"}));
    EXPECT_EQ(b.Branches("S*"), Sorted({"Signals", "Static"}));

    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Static"), S_OK);
    EXPECT_EQ(b.Leaves("*Int*"), Sorted({"Int8", "UInt8", "Int16", "UInt16", "Int32", "UInt32"}));
    EXPECT_EQ(b.Leaves("[IU]*"), Sorted({"Int8", "UInt8", "Int16", "UInt16", "Int32", "UInt32"}));
    EXPECT_EQ(b.Leaves("?nt#"), Names{"Int8"});
    EXPECT_EQ(b.Leaves("?nt##"), Sorted({"Int16", "Int32"}));
    EXPECT_EQ(b.Leaves("[!IU]*"), Sorted({"Float", "Double", "Bool", "String", "Currency", "Date",
                                          "DoubleArray", "StringArray"}));
    EXPECT_EQ(b.Leaves("*Array"), Sorted({"DoubleArray", "StringArray"}));
    EXPECT_EQ(b.Leaves("*"), kStatic);
    const Listing none = b.List(OPC_LEAF, "Nothing*");
    EXPECT_HR(none.hr, S_FALSE);

    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Load"), S_OK);
    EXPECT_EQ(b.Leaves("Item0000?").size(), 10u);
    EXPECT_EQ(b.Leaves("Item#####").size(), static_cast<std::size_t>(kLoadLeaves));
    EXPECT_EQ(b.Leaves("Item0999[5-9]"),
              Sorted({"Item09995", "Item09996", "Item09997", "Item09998", "Item09999"}));
    EXPECT_EQ(b.Leaves("Item0999[!5-9]"),
              Sorted({"Item09990", "Item09991", "Item09992", "Item09993", "Item09994"}));
    EXPECT_EQ(b.Leaves("*9999"), Names{"Item09999"});
    EXPECT_EQ(b.Leaves("Item*42").size(), 100u);
}

TEST_P(Browse, DataTypeAndRightsFiltersSelectLeaves) {
    Browser b(ServerUnknown());
    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Static"), S_OK);
    EXPECT_EQ(b.Leaves("", VT_ARRAY | VT_R8), Names{"DoubleArray"});
    EXPECT_EQ(b.Leaves("", VT_ARRAY | VT_BSTR), Names{"StringArray"});
    EXPECT_EQ(b.Leaves("*Int*", VT_I4), Names{"Int32"});

    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Access"), S_OK);
    EXPECT_EQ(b.Leaves("", VT_R8), kAccess);
    EXPECT_EQ(b.Leaves("", VT_EMPTY, 0), kAccess);
    EXPECT_EQ(b.Leaves("", VT_EMPTY, OPC_READABLE), Sorted({"ReadOnly", "ReadWrite"}));
    EXPECT_EQ(b.Leaves("", VT_EMPTY, OPC_WRITEABLE), Sorted({"WriteOnly", "ReadWrite"}));
    EXPECT_EQ(b.Leaves("Read*", VT_R8, OPC_WRITEABLE), Names{"ReadWrite"});

    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Signals"), S_OK);
    EXPECT_HR(b.List(OPC_LEAF, "", VT_EMPTY, OPC_WRITEABLE).hr, S_FALSE);
    EXPECT_HR(b.List(OPC_LEAF, "", VT_ARRAY | VT_I4).hr, S_FALSE);
}

TEST_P(Browse, RightsFilterWithBothBitsKeepsItemsWithEither) {
    // The filter's bits are ANDed with an item's rights; a non-zero result selects the item.
    Browser b(ServerUnknown());
    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Access"), S_OK);
    EXPECT_EQ(b.Leaves("", VT_EMPTY, OPC_READABLE | OPC_WRITEABLE), kAccess);
}

TEST_P(Browse, TenThousandLeavesComeInChunks) {
    Browser b(ServerUnknown());
    ASSERT_HR(b.Move(OPC_BROWSE_DOWN, "Load"), S_OK);
    IEnumString* raw = nullptr;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_HR(b->BrowseOPCItemIDs(OPC_LEAF, u"", VT_EMPTY, 0, &raw), S_OK);
    ComPtr<IEnumString> names = ComPtr<IEnumString>::Attach(raw);
    std::vector<LPOLESTR> chunk(4096, nullptr);
    std::set<std::string> seen;
    for (const auto& [expected, count] :
         std::vector<std::pair<HRESULT, ULONG>>{{S_OK, 4096}, {S_OK, 4096}, {S_FALSE, 1808}}) {
        ULONG fetched = 0;
        EXPECT_HR(names->Next(4096, chunk.data(), &fetched), expected);
        ASSERT_EQ(fetched, count);
        for (ULONG i = 0; i < fetched; ++i) {
            seen.insert(TakeTaskString(chunk[i], "a leaf name"));
        }
    }
    const auto took = std::chrono::steady_clock::now() - started;
    std::printf("[ figures  ] listing 10000 leaves: %lld ms\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    ULONG fetched = 7;
    EXPECT_HR(names->Next(1, chunk.data(), &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kLoadLeaves));
    for (int i = 0; i < kLoadLeaves; i += 999) {
        EXPECT_TRUE(seen.contains(LoadLeafName(i))) << LoadLeafName(i);
    }
}

TEST_P(Browse, StringEnumeratorsCountCloneSkipAndReset) {
    Browser b(ServerUnknown());
    ASSERT_HR(b.Move(OPC_BROWSE_TO, "Signals"), S_OK);
    IEnumString* raw = nullptr;
    ASSERT_HR(b->BrowseOPCItemIDs(OPC_LEAF, u"*", VT_EMPTY, 0, &raw), S_OK);
    ComPtr<IEnumString> e = ComPtr<IEnumString>::Attach(raw);

    LPOLESTR got[10] = {};
    ULONG fetched = 0;
    EXPECT_HR(e->Next(3, got, &fetched), S_OK);
    ASSERT_EQ(fetched, 3u);
    Names first;
    for (ULONG i = 0; i < fetched; ++i) {
        first.push_back(TakeTaskString(got[i], "a name"));
    }
    IEnumString* cloneRaw = nullptr;
    ASSERT_HR(e->Clone(&cloneRaw), S_OK);
    ComPtr<IEnumString> clone = ComPtr<IEnumString>::Attach(cloneRaw);
    const Names rest = DrainStrings(e.Get(), 10);
    const Names cloneRest = DrainStrings(clone.Get(), 2);
    EXPECT_EQ(rest.size(), 4u);
    EXPECT_EQ(rest, cloneRest) << "a clone goes on from its original's position";
    Names all = first;
    all.insert(all.end(), rest.begin(), rest.end());
    EXPECT_EQ(Sorted(all), kSignals);

    // Asking for several without a place for the count hands out nothing and moves nothing.
    EXPECT_HR(e->Reset(), S_OK);
    LPOLESTR several[3] = {};
    EXPECT_TRUE(FAILED(e->Next(3, several, nullptr)));
    EXPECT_EQ(Sorted(DrainStrings(e.Get(), 4)), kSignals);

    // With one element asked for, the count may be left out.
    EXPECT_HR(e->Reset(), S_OK);
    LPOLESTR one = nullptr;
    EXPECT_HR(e->Next(1, &one, nullptr), S_OK);
    EXPECT_EQ(TakeTaskString(one, "a name"), first[0]);
    EXPECT_HR(e->Skip(5), S_OK);
    EXPECT_EQ(DrainStrings(e.Get()).size(), 1u);
    EXPECT_HR(e->Reset(), S_OK);
    EXPECT_HR(e->Skip(8), S_FALSE);
    EXPECT_TRUE(DrainStrings(e.Get()).empty());
}

TEST_P(Browse, EachServerObjectHasItsOwnPosition) {
    Browser first(ServerUnknown());
    ComPtr<IOPCServer> other = NewServer();
    ASSERT_TRUE(other);
    Browser second(other.Get());
    ASSERT_HR(first.Move(OPC_BROWSE_DOWN, "Signals"), S_OK);
    EXPECT_EQ(second.Branches(), kTopBranches);
    ASSERT_HR(second.Move(OPC_BROWSE_DOWN, "Access"), S_OK);
    EXPECT_EQ(first.Leaves(), kSignals);
    EXPECT_EQ(second.Leaves(), kAccess);
}

TEST_P(Browse, RefusesBadListingsAndAccessPaths) {
    Browser b(ServerUnknown());
    IEnumString* raw = nullptr;
    for (const DWORD type : {0u, 4u, 99u}) {
        EXPECT_HR(b->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(type), u"", VT_EMPTY, 0, &raw),
                  E_INVALIDARG)
            << type;
        EXPECT_EQ(raw, nullptr);
    }
    raw = nullptr;
    EXPECT_HR(b->BrowseAccessPaths(u"Signals.Ramp", &raw), E_NOTIMPL);
    EXPECT_EQ(raw, nullptr);
}

}  // namespace
