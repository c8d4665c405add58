#include "sim/space_loader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "com/bstr.h"
#include "com/safearray.h"
#include "opcda/types.h"
#include "sim/owned_variant.h"

namespace {

AddressSpace Load(const std::string& text) {
    AddressSpace space;
    std::string error;
    EXPECT_TRUE(LoadAddressSpace(text, &space, &error)) << error;
    return space;
}

std::string ErrorOf(const std::string& text) {
    AddressSpace space;
    space.AddBranch(AddressSpace::kTop, "Kept");
    std::string error;
    EXPECT_FALSE(LoadAddressSpace(text, &space, &error)) << text;
    // A failed load leaves the space as it was.
    EXPECT_TRUE(space.FindBranch("Kept"));
    return error;
}

OwnedVariant ReadAt(const AddressSpace& space, const std::string& id, std::uint64_t ms) {
    const auto leaf = space.FindLeaf(id);
    EXPECT_TRUE(leaf) << id;
    OwnedVariant v;
    if (leaf) {
        EXPECT_EQ(space.Read(*leaf, ms, 1, v.Ptr()), S_OK) << id;
    }
    return v;
}

TEST(SpaceLoader, TypesValuesAndAccess) {
    const AddressSpace space = Load(R"({"leaves": [
        {"name": "i1", "type": "I1", "value": -128},
        {"name": "ui2", "type": "UI2", "value": 65535, "access": "read"},
        {"name": "ui4", "type": "UI4", "value": 4294967295},
        {"name": "r4", "type": "R4", "value": 1.5, "access": "write"},
        {"name": "plain", "value": 2.25},
        {"name": "b", "type": "BOOL", "value": true},
        {"name": "s", "type": "BSTR", "value": "h\u00e9"},
        {"name": "cy", "type": "CY", "value": 12.3456},
        {"name": "d", "type": "DATE", "value": "2026-01-01T12:00:00"},
        {"name": "ra", "type": "R8 array", "value": [1, 2.5]},
        {"name": "sa", "type": "BSTR array"},
        {"name": "st", "type": "I2", "signal": {"kind": "static"}, "itemId": "Custom.Id"}
    ]})");
    EXPECT_EQ(ReadAt(space, "i1", 0).Get().cVal, -128);
    EXPECT_EQ(ReadAt(space, "ui2", 0).Get().uiVal, 65535);
    EXPECT_EQ(ReadAt(space, "ui4", 0).Get().ulVal, 4294967295u);
    EXPECT_EQ(ReadAt(space, "plain", 0).Get().vt, VT_R8);
    EXPECT_EQ(ReadAt(space, "plain", 0).Get().dblVal, 2.25);
    EXPECT_EQ(ReadAt(space, "b", 0).Get().boolVal, VARIANT_TRUE);
    EXPECT_EQ(std::u16string(ReadAt(space, "s", 0).Get().bstrVal), u"h\u00e9");
    EXPECT_EQ(ReadAt(space, "cy", 0).Get().cyVal.int64, 123456);
    EXPECT_EQ(ReadAt(space, "d", 0).Get().date, 46023.5);
    const OwnedVariant ra = ReadAt(space, "ra", 0);
    ASSERT_EQ(ra.Get().vt, VT_ARRAY | VT_R8);
    ASSERT_EQ(ra.Get().parray->rgsabound[0].cElements, 2u);
    EXPECT_EQ(static_cast<const double*>(ra.Get().parray->pvData)[1], 2.5);
    const OwnedVariant sa = ReadAt(space, "sa", 0);
    ASSERT_EQ(sa.Get().vt, VT_ARRAY | VT_BSTR);
    EXPECT_EQ(sa.Get().parray->rgsabound[0].cElements, 0u);

    const SimLeaf& ui2 = space.Leaf(*space.FindLeaf("ui2"));
    EXPECT_EQ(ui2.accessRights, OPC_READABLE);
    EXPECT_EQ(space.Leaf(*space.FindLeaf("r4")).accessRights, OPC_WRITEABLE);
    EXPECT_EQ(space.Leaf(*space.FindLeaf("i1")).accessRights, OPC_READABLE | OPC_WRITEABLE);

    // An explicit item id: found by it, and by its name in its branch.
    const auto custom = space.FindLeaf("Custom.Id");
    ASSERT_TRUE(custom);
    EXPECT_EQ(space.FindChildLeaf(AddressSpace::kTop, "st"), custom);
    EXPECT_FALSE(space.FindLeaf("st"));
}

TEST(SpaceLoader, SignalsWithParametersAndTypes) {
    const AddressSpace space = Load(R"({"branches": [{"name": "Sig", "leaves": [
        {"name": "ramp", "signal": {"kind": "ramp", "low": 10, "high": 20, "period": 1000}},
        {"name": "rampI2", "type": "I2", "signal": {"kind": "ramp", "low": 0, "high": 100,
                                                      "period": 1000}},
        {"name": "sine", "range": [-1, 41],
         "signal": {"kind": "sine", "amplitude": 20, "offset": 20, "period": 4000}},
        {"name": "rnd", "signal": {"kind": "random", "low": 5, "high": 6, "period": 50}},
        {"name": "sq", "type": "BOOL", "signal": {"kind": "square", "period": 200}},
        {"name": "cnt", "signal": {"kind": "counter", "low": 100, "step": 5, "period": 10}},
        {"name": "tg", "signal": {"kind": "toggle", "period": 300}},
        {"name": "tx", "signal": {"kind": "text", "texts": ["on", "off"], "period": 100}}
    ]}]})");
    EXPECT_EQ(ReadAt(space, "Sig.ramp", 500).Get().dblVal, 15.0);
    EXPECT_EQ(ReadAt(space, "Sig.ramp", 1000).Get().dblVal, 10.0);
    const OwnedVariant i2 = ReadAt(space, "Sig.rampI2", 255);
    EXPECT_EQ(i2.Get().vt, VT_I2);
    EXPECT_EQ(i2.Get().iVal, 26);  // 25.5 rounds to even
    EXPECT_NEAR(ReadAt(space, "Sig.sine", 1000).Get().dblVal, 40.0, 1e-9);
    EXPECT_TRUE(space.Leaf(*space.FindLeaf("Sig.sine")).hasRange);
    const OwnedVariant rnd = ReadAt(space, "Sig.rnd", 1234);
    EXPECT_EQ(rnd.Get().vt, VT_I4);
    EXPECT_TRUE(rnd.Get().lVal == 5 || rnd.Get().lVal == 6);
    // The draw holds for its period.
    EXPECT_EQ(ReadAt(space, "Sig.rnd", 1200).Get().lVal, ReadAt(space, "Sig.rnd", 1249).Get().lVal);
    EXPECT_EQ(ReadAt(space, "Sig.sq", 99).Get().boolVal, VARIANT_FALSE);
    EXPECT_EQ(ReadAt(space, "Sig.sq", 100).Get().boolVal, VARIANT_TRUE);
    EXPECT_EQ(ReadAt(space, "Sig.cnt", 35).Get().ulVal, 115u);
    EXPECT_EQ(ReadAt(space, "Sig.tg", 299).Get().boolVal, VARIANT_FALSE);
    EXPECT_EQ(ReadAt(space, "Sig.tg", 300).Get().boolVal, VARIANT_TRUE);
    EXPECT_EQ(std::u16string(ReadAt(space, "Sig.tx", 150).Get().bstrVal), u"off");
    EXPECT_EQ(std::u16string(ReadAt(space, "Sig.tx", 200).Get().bstrVal), u"on");

    const SimLeaf& ramp = space.Leaf(*space.FindLeaf("Sig.ramp"));
    EXPECT_EQ(ramp.accessRights, OPC_READABLE);
    EXPECT_EQ(ramp.type, VT_R8);
    // A generated leaf cannot be written.
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    AddressSpace generated = Load(R"({"leaves": [{"name": "r", "signal": {"kind": "ramp"}}]})");
    EXPECT_EQ(generated.Write(0, v), E_ACCESSDENIED);
}

TEST(SpaceLoader, NestedBranchesAndTheLoadBranch) {
    const AddressSpace space = Load(R"({"branches": [
        {"name": "A.B", "branches": [{"name": "C", "leaves": [{"name": "x"}]}]},
        {"name": "Load", "load": 12}
    ]})");
    const auto c = space.FindBranch("A.B.C");
    ASSERT_TRUE(c);
    EXPECT_EQ(space.Branch(*c).parent, *space.FindChildBranch(AddressSpace::kTop, "A.B"));
    EXPECT_TRUE(space.FindLeaf("A.B.C.x"));
    const auto load = space.FindBranch("Load");
    ASSERT_TRUE(load);
    ASSERT_EQ(space.Branch(*load).leaves.size(), 12u);
    EXPECT_EQ(space.Leaf(space.Branch(*load).leaves.back()).itemId, "Load.Item00011");
    EXPECT_EQ(ReadAt(space, "Load.Item00011", 1500).Get().dblVal, 12.5);
}

TEST(SpaceLoader, BadEntriesAreNamedWithTheirPlace) {
    struct Case {
        const char* text;
        const char* words;
    };
    const Case cases[] = {
        {"[]", "line 1, column 1: the file must hold one object"},
        {"{\"name\": \"x\"}", "the top branch has no name"},
        {"{\"leafs\": []}", "line 1, column 11: unknown key \"leafs\" in a branch"},
        {"{\"branches\": [{}]}", "without a \"name\""},
        {"{\"branches\": [{\"name\": \"\"}]}", "an empty name"},
        {"{\"branches\": [{\"name\": \"a\"}, {\"name\": \"a\"}]}", "is there already"},
        {"{\"leaves\": [{\"name\": \"a\"}, {\"name\": \"a\"}]}", "is there already"},
        {"{\"leaves\": [{\"name\": \"a\", \"itemId\": \"x\"}, {\"name\": \"b\", \"itemId\": "
         "\"x\"}]}",
         "is there already"},
        {"{\"leaves\": [{\"name\": \"a\", \"itemId\": \"x..y\"}]}", "not a well-formed item id"},
        {"{\"leaves\": [{\"name\": \"a\", \"itemId\": \"x\"}, {\"name\": \"a\"}]}",
         "is there already"},
        {"{\"leaves\": [{\"name\": \"a\", \"type\": \"R16\"}]}", "unknown type \"R16\""},
        {"{\"leaves\": [{\"name\": \"a\", \"access\": \"rw\"}]}", "unknown access"},
        {"{\"leaves\": [{\"name\": \"a\", \"type\": \"I1\", \"value\": 128}]}", "out of the"},
        {"{\"leaves\": [{\"name\": \"a\", \"type\": \"UI4\", \"value\": -1}]}", "out of the"},
        {"{\"leaves\": [{\"name\": \"a\", \"type\": \"I4\", \"value\": 1.5}]}", "whole number"},
        {"{\"leaves\": [{\"name\": \"a\", \"type\": \"CY\", \"value\": 1.23456}]}",
         "four decimals"},
        {"{\"leaves\": [{\"name\": \"a\", \"type\": \"BOOL\", \"value\": 1}]}",
         "must be true or false, not a number"},
        {"{\"leaves\": [{\"name\": \"a\", \"type\": \"DATE\", \"value\": \"2026-02-30\"}]}",
         "YYYY-MM-DD"},
        {"{\"leaves\": [{\"name\": \"a\", \"type\": \"R8 array\", \"value\": [1, \"x\"]}]}",
         "an element of an R8 array must be a number"},
        {"{\"leaves\": [{\"name\": \"a\", \"signal\": {\"kind\": \"saw\"}}]}", "unknown signal"},
        {"{\"leaves\": [{\"name\": \"a\", \"signal\": {\"period\": 5}}]}", "without a \"kind\""},
        {"{\"leaves\": [{\"name\": \"a\", \"signal\": {\"kind\": \"ramp\", \"period\": 0}}]}",
         "\"period\" must be a whole number from 1"},
        {"{\"leaves\": [{\"name\": \"a\", \"signal\": {\"kind\": \"sine\", \"low\": 0}}]}",
         "unknown key \"low\" in a sine"},
        {"{\"leaves\": [{\"name\": \"a\", \"signal\": {\"kind\": \"ramp\"}, \"access\": "
         "\"read-write\"}]}",
         "can only be read"},
        {"{\"leaves\": [{\"name\": \"a\", \"signal\": {\"kind\": \"ramp\"}, \"value\": 1}]}",
         "has no \"value\""},
        {"{\"leaves\": [{\"name\": \"a\", \"type\": \"R8\", \"signal\": {\"kind\": \"text\"}}]}",
         "cannot be had as the leaf's type"},
        {"{\"leaves\": [{\"name\": \"a\", \"signal\": {\"kind\": \"text\", \"texts\": []}}]}",
         "at least one text"},
        {"{\"leaves\": [{\"name\": \"a\", \"type\": \"I4\", \"range\": [0, 1]}]}",
         "only an R4 or R8 leaf has a range"},
        {"{\"leaves\": [{\"name\": \"a\", \"range\": [1, 0]}]}", "low below high"},
        {"{\"load\": 2000001}", "\"load\" must be a whole number from 0 to"},
        {"{\"leaves\": [{\"name\": \"Item00001\"}], \"load\": 5}", "name is taken"},
        {"{\"leaves\": [1]}", "a leaf must be an object, not a number"},
        {"{\"leaves\": [{\"name\": \"a\"}\n  {\"name\": \"b\"}]}", "line 2, column 3"},
    };
    for (const Case& c : cases) {
        const std::string error = ErrorOf(c.text);
        EXPECT_NE(error.find(c.words), std::string::npos) << c.text << "\n  gave: " << error;
        EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
    }
}

TEST(SpaceLoader, FilesAndTheShippedExample) {
    AddressSpace space;
    std::string error;
    EXPECT_FALSE(LoadAddressSpaceFile("/nonexistent/space.json", &space, &error));
    EXPECT_NE(error.find("/nonexistent/space.json"), std::string::npos);

    const std::filesystem::path bad =
        std::filesystem::temp_directory_path() / ("tgv-space-" + std::to_string(::getpid()));
    std::ofstream(bad) << "{\n  \"leaves\": [}\n";
    EXPECT_FALSE(LoadAddressSpaceFile(bad, &space, &error));
    EXPECT_EQ(error, bad.string() + ": line 2, column 14: unexpected character '}'");
    std::filesystem::remove(bad);

    const std::filesystem::path example =
        std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "examples" /
        "opcsim-plant.json";
    ASSERT_TRUE(LoadAddressSpaceFile(example, &space, &error)) << error;
    EXPECT_GT(space.LeafCount(), 10u);
}

}  // namespace
