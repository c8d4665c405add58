#include "sim/address_space.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opcda/types.h"

namespace {

std::vector<std::string> Names(const AddressSpace& space, const std::vector<NodeIndex>& branches) {
    std::vector<std::string> names;
    for (const NodeIndex b : branches) {
        names.push_back(space.Branch(b).name);
    }
    return names;
}

TEST(AddressSpace, BuiltInTreeAndIds) {
    const AddressSpace space = AddressSpace::BuiltIn();
    const SimBranch& top = space.Branch(AddressSpace::kTop);
    EXPECT_EQ(Names(space, top.branches),
              (std::vector<std::string>{"Signals", "Static", "Access", "Plant", "Dotted.Branch",
                                        "Load"}));
    EXPECT_TRUE(top.leaves.empty());

    const auto temperature = space.FindLeaf("Plant.Area1.Line1.Temperature");
    ASSERT_TRUE(temperature);
    EXPECT_EQ(space.Leaf(*temperature).type, VT_R8);
    EXPECT_EQ(space.Leaf(*temperature).accessRights, OPC_READABLE);
    EXPECT_TRUE(space.Leaf(*temperature).hasRange);

    const auto area2 = space.FindBranch("Plant.Area2");
    ASSERT_TRUE(area2);
    EXPECT_TRUE(space.Branch(*area2).leaves.empty());
    EXPECT_TRUE(space.Branch(*area2).branches.empty());

    // The branch whose own name holds a dot is one level, not two.
    const auto dotted = space.FindChildBranch(AddressSpace::kTop, "Dotted.Branch");
    ASSERT_TRUE(dotted);
    EXPECT_FALSE(space.FindChildBranch(AddressSpace::kTop, "Dotted"));
    const auto value = space.FindChildLeaf(*dotted, "Value");
    ASSERT_TRUE(value);
    EXPECT_EQ(space.Leaf(*value).itemId, "Dotted.Branch.Value");
    EXPECT_EQ(space.Leaf(*value).type, VT_I2);
    EXPECT_EQ(space.FindLeaf("Dotted.Branch.Value"), value);

    // A child lookup finds only children of that branch.
    const auto signals = space.FindBranch("Signals");
    ASSERT_TRUE(signals);
    EXPECT_TRUE(space.FindChildLeaf(*signals, "Ramp"));
    EXPECT_FALSE(space.FindChildLeaf(AddressSpace::kTop, "Ramp"));
    EXPECT_FALSE(space.FindChildBranch(*signals, "Area1"));

    const auto load = space.FindBranch("Load");
    ASSERT_TRUE(load);
    ASSERT_EQ(space.Branch(*load).leaves.size(), kLoadItemCount);
    EXPECT_EQ(space.Leaf(space.Branch(*load).leaves.front()).itemId, "Load.Item00000");
    EXPECT_EQ(space.Leaf(space.Branch(*load).leaves.back()).itemId, "Load.Item09999");
    EXPECT_FALSE(space.FindLeaf("Load.Item10000"));
}

TEST(AddressSpace, StaticItemsStartEmptyAndAccessRightsDiffer) {
    const AddressSpace space = AddressSpace::BuiltIn();
    const std::pair<const char*, VARTYPE> expected[] = {
        {"Static.Int8", VT_I1},
        {"Static.UInt8", VT_UI1},
        {"Static.Int16", VT_I2},
        {"Static.UInt16", VT_UI2},
        {"Static.Int32", VT_I4},
        {"Static.UInt32", VT_UI4},
        {"Static.Float", VT_R4},
        {"Static.Double", VT_R8},
        {"Static.Bool", VT_BOOL},
        {"Static.String", VT_BSTR},
        {"Static.Currency", VT_CY},
        {"Static.Date", VT_DATE},
        {"Static.DoubleArray", VT_ARRAY | VT_R8},
        {"Static.StringArray", VT_ARRAY | VT_BSTR},
    };
    for (const auto& [id, vt] : expected) {
        const auto leaf = space.FindLeaf(id);
        ASSERT_TRUE(leaf) << id;
        EXPECT_EQ(space.Leaf(*leaf).type, vt) << id;
        EXPECT_EQ(space.Leaf(*leaf).accessRights, OPC_READABLE | OPC_WRITEABLE) << id;
        OwnedVariant v;
        ASSERT_EQ(space.Read(*leaf, 5000, 1, v.Ptr()), S_OK);
        EXPECT_EQ(v.Type(), vt) << id;
    }
    OwnedVariant text;
    ASSERT_EQ(space.Read(*space.FindLeaf("Static.String"), 0, 1, text.Ptr()), S_OK);
    EXPECT_TRUE(BstrView(text.Get().bstrVal).empty());

    OwnedVariant doubles;
    ASSERT_EQ(space.Read(*space.FindLeaf("Static.DoubleArray"), 0, 1, doubles.Ptr()), S_OK);
    ASSERT_EQ(doubles.Get().parray->rgsabound[0].cElements, 2u);
    EXPECT_EQ(static_cast<double*>(doubles.Get().parray->pvData)[1], 2.5);
    OwnedVariant strings;
    ASSERT_EQ(space.Read(*space.FindLeaf("Static.StringArray"), 0, 1, strings.Ptr()), S_OK);
    EXPECT_EQ(BstrView(static_cast<BSTR*>(strings.Get().parray->pvData)[1]), u"b");

    EXPECT_EQ(space.Leaf(*space.FindLeaf("Access.ReadOnly")).accessRights, OPC_READABLE);
    EXPECT_EQ(space.Leaf(*space.FindLeaf("Access.WriteOnly")).accessRights, OPC_WRITEABLE);
    EXPECT_EQ(space.Leaf(*space.FindLeaf("Access.ReadWrite")).accessRights,
              OPC_READABLE | OPC_WRITEABLE);
}

TEST(AddressSpace, WritesConvertToTheCanonicalTypeOrChangeNothing) {
    AddressSpace space = AddressSpace::BuiltIn();
    const NodeIndex int16 = *space.FindLeaf("Static.Int16");

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = 41.6;
    ASSERT_EQ(space.Write(int16, v), S_OK);
    OwnedVariant read;
    ASSERT_EQ(space.Read(int16, 0, 1, read.Ptr()), S_OK);
    ASSERT_EQ(read.Type(), VT_I2);
    EXPECT_EQ(read.Get().iVal, 42);

    v.dblVal = 1e9;  // beyond a 16-bit integer
    EXPECT_TRUE(FAILED(space.Write(int16, v)));
    read.Clear();
    ASSERT_EQ(space.Read(int16, 0, 1, read.Ptr()), S_OK);
    EXPECT_EQ(read.Get().iVal, 42);

    // A scalar is no array, and a generator takes no writes.
    EXPECT_TRUE(FAILED(space.Write(*space.FindLeaf("Static.DoubleArray"), v)));
    EXPECT_EQ(space.Write(*space.FindLeaf("Signals.Ramp"), v), E_ACCESSDENIED);

    // Currency takes a double through the simulator's own bridge.
    v.dblVal = 12.345;
    const NodeIndex currency = *space.FindLeaf("Static.Currency");
    ASSERT_EQ(space.Write(currency, v), S_OK);
    read.Clear();
    ASSERT_EQ(space.Read(currency, 0, 1, read.Ptr()), S_OK);
    EXPECT_EQ(read.Get().cyVal.int64, 123450);
}

TEST(AddressSpace, AddingRefusesClashes) {
    AddressSpace space;
    const auto a = space.AddBranch(AddressSpace::kTop, "A");
    ASSERT_TRUE(a);
    EXPECT_FALSE(space.AddBranch(AddressSpace::kTop, "A"));
    EXPECT_FALSE(space.AddBranch(AddressSpace::kTop, ""));
    const auto b = space.AddBranch(*a, "B");
    ASSERT_TRUE(b);
    // "A.B" as one name at the top would have the path of A > B.
    EXPECT_FALSE(space.AddBranch(AddressSpace::kTop, "A.B"));
    ASSERT_TRUE(space.AddSignal(*b, "X", SignalKind::Ramp));
    EXPECT_FALSE(space.AddSignal(*b, "X", SignalKind::Sine));
    EXPECT_FALSE(space.AddSignal(*b, "Y", SignalKind::Static));
    EXPECT_EQ(space.Leaf(*space.FindLeaf("A.B.X")).itemId, "A.B.X");

    const auto c = space.AddBranch(*a, "C");
    ASSERT_TRUE(space.AddSignal(*a, "L", SignalKind::Toggle));
    ASSERT_TRUE(space.AddSignal(*c, "M", SignalKind::Toggle));
    std::vector<std::string> below;
    for (const NodeIndex l : space.LeavesBelow(*a)) {
        below.push_back(space.Leaf(l).itemId);
    }
    EXPECT_EQ(below, (std::vector<std::string>{"A.L", "A.B.X", "A.C.M"}));
}

TEST(AddressSpace, ItemIdSyntax) {
    EXPECT_TRUE(IsWellFormedItemId("Signals.Ramp"));
    EXPECT_TRUE(IsWellFormedItemId("NoSuch"));
    EXPECT_FALSE(IsWellFormedItemId(""));
    EXPECT_FALSE(IsWellFormedItemId("Signals."));
    EXPECT_FALSE(IsWellFormedItemId(".Signals"));
    EXPECT_FALSE(IsWellFormedItemId("Signals..Ramp"));
    EXPECT_FALSE(IsWellFormedItemId("Signals.\tRamp"));
}

}  // namespace
