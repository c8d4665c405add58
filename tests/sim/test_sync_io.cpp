// Synchronous reads and writes (IOPCSyncIO).

#include <cmath>
#include <string>
#include <vector>

#include "conformance.h"
#include "expected_space.h"
#include "hr_check.h"

namespace {

using namespace conformance;

CONFORMANCE_SUITE(SyncIO);

struct Added {
    AddedGroup group;
    std::vector<OPCHANDLE> handles;  // server handles, in the order of the definitions
};

Added AddAll(IOPCServer& server, const std::vector<ItemDef>& defs, bool active = true) {
    Added out;
    out.group = AddGroup(server, {.name = "IO", .active = active});
    EXPECT_TRUE(SUCCEEDED(out.group.hr));
    const ItemOutcome added = AddItems(out.group.object.Get(), defs);
    EXPECT_HR(added.hr, S_OK);
    for (const ItemResult& r : added.items) {
        out.handles.push_back(r.server);
    }
    if (out.handles.size() != defs.size()) {
        out.handles.assign(defs.size(), 0);
    }
    return out;
}

TEST_P(SyncIO, ReadGivesTheStaticInitialValues) {
    std::vector<ItemDef> defs;
    for (const ExpectedItem& item : ExpectedItems()) {
        if (std::string(item.id).starts_with("Static.")) {
            defs.push_back({.id = item.id, .client = static_cast<OPCHANDLE>(defs.size() + 40)});
        }
    }
    Added a = AddAll(Server(), defs);
    // Long enough for the cache to have been filled.
    Advance(milliseconds(2500));
    for (const OPCDATASOURCE source : {OPC_DS_DEVICE, OPC_DS_CACHE}) {
        SCOPED_TRACE(source == OPC_DS_DEVICE ? "device" : "cache");
        const ReadOutcome read = SyncRead(a.group.object.Get(), source, a.handles);
        ASSERT_HR(read.hr, S_OK);
        ASSERT_EQ(read.items.size(), defs.size());
        for (std::size_t i = 0; i < defs.size(); ++i) {
            const ItemState& s = read.items[i];
            const std::string& id = defs[i].id;
            EXPECT_EQ(s.client, defs[i].client) << id;
            EXPECT_EQ(s.quality, OPC_QUALITY_GOOD) << id;
            EXPECT_GE(SimSeconds(s.time), 0.0) << id;
            if (Exact()) {
                EXPECT_LE(SimSeconds(s.time), 2.5) << id << ": a time in the future";
            }
            const VARIANT& v = s.value.Get();
            if (id == "Static.String") {
                EXPECT_EQ(TextOf(v), "") << id;
            } else if (id == "Static.DoubleArray") {
                EXPECT_EQ(R8ArrayOf(v), (std::vector<double>{1.0, 2.5}));
            } else if (id == "Static.StringArray") {
                EXPECT_EQ(TextArrayOf(v), (std::vector<std::string>{"a", "b"}));
            } else if (id == "Static.Currency") {
                EXPECT_EQ(v.vt, VT_CY);
                EXPECT_EQ(v.cyVal.int64, 0);
            } else if (id == "Static.Date") {
                EXPECT_EQ(v.vt, VT_DATE);
                EXPECT_EQ(v.date, 0.0);
            } else {
                EXPECT_EQ(NumberOf(v), 0.0) << id;
            }
        }
        // Each value comes in the item's canonical type.
        for (std::size_t i = 0; i < defs.size(); ++i) {
            for (const ExpectedItem& e : ExpectedItems()) {
                if (defs[i].id == e.id) {
                    EXPECT_EQ(read.items[i].value.Type(), e.type) << e.id;
                }
            }
        }
    }
}

TEST_P(SyncIO, GeneratedValuesFollowTheTimeTheyCarry) {
    Added a = AddAll(Server(), {{.id = "Signals.Ramp", .client = 1},
                                {.id = "Signals.Sine", .client = 2},
                                {.id = "Signals.Counter", .client = 3},
                                {.id = "Signals.Random", .client = 4},
                                {.id = "Signals.Text", .client = 5},
                                {.id = "Signals.Square", .client = 6},
                                {.id = "Signals.Toggle", .client = 7},
                                {.id = "Load.Item00042", .client = 8}});
    for (const int step : {0, 12345, 100000, 3210}) {
        Advance(milliseconds(step));
        const ReadOutcome read = SyncRead(a.group.object.Get(), OPC_DS_DEVICE, a.handles);
        ASSERT_HR(read.hr, S_OK);
        ASSERT_EQ(read.items.size(), 8u);
        const double t = SimSeconds(read.items[0].time);
        SCOPED_TRACE("at " + std::to_string(t) + " s");
        EXPECT_NEAR(*NumberOf(read.items[0].value.Get()), RampAt(t), 1e-6);
        EXPECT_NEAR(*NumberOf(read.items[1].value.Get()), SineAt(SimSeconds(read.items[1].time)),
                    1e-6);
        EXPECT_EQ(*NumberOf(read.items[2].value.Get()), CounterAt(SimSeconds(read.items[2].time)));
        const double random = NumberOf(read.items[3].value.Get()).value_or(-1);
        EXPECT_GE(random, 0);
        EXPECT_LE(random, 999);
        const std::optional<std::string> word = TextOf(read.items[4].value.Get());
        ASSERT_TRUE(word);
        EXPECT_NE(std::find(TextCycle().begin(), TextCycle().end(), *word), TextCycle().end())
            << *word;
        EXPECT_EQ(read.items[5].value.Type(), VT_BOOL);
        EXPECT_EQ(read.items[6].value.Type(), VT_BOOL);
        EXPECT_NEAR(*NumberOf(read.items[7].value.Get()),
                    LoadAt(SimSeconds(read.items[7].time), 42), 1e-6);
        for (const ItemState& s : read.items) {
            EXPECT_EQ(s.quality, OPC_QUALITY_GOOD);
        }
    }
}

TEST_P(SyncIO, ReadAnswersInTheRequestedType) {
    Added a = AddAll(Server(), {{.id = "Static.Int32", .client = 1, .requested = VT_BSTR},
                                {.id = "Signals.Counter", .client = 2, .requested = VT_R8},
                                {.id = "Static.Bool", .client = 3, .requested = VT_I2},
                                {.id = "Static.Double", .client = 4, .requested = VT_BSTR}});
    ASSERT_HR(SyncWrite(a.group.object.Get(), {a.handles[2], a.handles[3]},
                        {Variant::Bool(true), Variant::R8(2.5)})
                  .hr,
              S_OK);
    Advance(milliseconds(4000));
    const ReadOutcome read = SyncRead(a.group.object.Get(), OPC_DS_DEVICE, a.handles);
    ASSERT_HR(read.hr, S_OK);
    ASSERT_EQ(read.items.size(), 4u);
    EXPECT_EQ(TextOf(read.items[0].value.Get()), "0");
    EXPECT_EQ(read.items[1].value.Type(), VT_R8);
    EXPECT_EQ(NumberOf(read.items[1].value.Get()), CounterAt(SimSeconds(read.items[1].time)));
    EXPECT_EQ(read.items[2].value.Type(), VT_I2);
    EXPECT_EQ(NumberOf(read.items[2].value.Get()), -1.0);
    EXPECT_EQ(TextOf(read.items[3].value.Get()), "2.5");

    // A changed request takes effect at the next read.
    ASSERT_HR(SetDatatypes(a.group.object.Get(), {a.handles[0]}, {VT_R4}).hr, S_OK);
    EXPECT_EQ(ReadOne(a.group.object.Get(), a.handles[0]).value.Type(), VT_R4);
}

TEST_P(SyncIO, ReadReportsBadHandlesAndRights) {
    Added a = AddAll(Server(), {{.id = "Access.ReadOnly", .client = 1},
                                {.id = "Access.WriteOnly", .client = 2},
                                {.id = "Access.ReadWrite", .client = 3}});
    const OPCHANDLE bad = a.handles[0] + a.handles[1] + a.handles[2] + 1;
    for (const OPCDATASOURCE source : {OPC_DS_DEVICE, OPC_DS_CACHE}) {
        const ReadOutcome read =
            SyncRead(a.group.object.Get(), source, {a.handles[0], bad, a.handles[1], a.handles[2]});
        EXPECT_HR(read.hr, S_FALSE);
        ASSERT_EQ(read.items.size(), 4u);
        EXPECT_HR(read.items[0].error, S_OK);
        EXPECT_HR(read.items[1].error, OPC_E_INVALIDHANDLE);
        EXPECT_HR(read.items[2].error, OPC_E_BADRIGHTS);
        EXPECT_HR(read.items[3].error, S_OK);
        EXPECT_EQ(read.items[3].client, 3u);
    }
    EXPECT_HR(SyncRead(a.group.object.Get(), OPC_DS_DEVICE, {}).hr, E_INVALIDARG);
}

TEST_P(SyncIO, CacheReadsOfInactiveItemsAreOutOfService) {
    Added inactive = AddAll(Server(), {{.id = "Static.Int32", .client = 1}}, false);
    AddedGroup active = MustAddGroup({.name = "Active"});
    const ItemOutcome added = AddItems(
        active.object.Get(),
        {{.id = "Static.Int16", .client = 2}, {.id = "Static.Int8", .client = 3, .active = false}});
    ASSERT_HR(added.hr, S_OK);
    Advance(milliseconds(2000));

    const auto cacheQuality = [](IUnknown* group, OPCHANDLE handle) -> WORD {
        const ReadOutcome read = SyncRead(group, OPC_DS_CACHE, {handle});
        EXPECT_HR(read.hr, S_OK);
        return read.items.empty() ? 0xFFFF : read.items[0].quality;
    };
    EXPECT_EQ(OpcStatusOf(cacheQuality(inactive.group.object.Get(), inactive.handles[0])),
              OPC_QUALITY_OUT_OF_SERVICE)
        << "cache read in an inactive group";
    EXPECT_EQ(OpcStatusOf(cacheQuality(active.object.Get(), added.items[1].server)),
              OPC_QUALITY_OUT_OF_SERVICE)
        << "cache read of an inactive item";
    EXPECT_EQ(cacheQuality(active.object.Get(), added.items[0].server), OPC_QUALITY_GOOD);
    // The device is read whatever the active state.
    EXPECT_EQ(ReadOne(inactive.group.object.Get(), inactive.handles[0]).quality, OPC_QUALITY_GOOD);
    EXPECT_EQ(ReadOne(active.object.Get(), added.items[1].server).quality, OPC_QUALITY_GOOD);
}

TEST_P(SyncIO, WritesRoundTripEveryStaticType) {
    struct Case {
        const char* id;
        Variant value;
    };
    std::vector<Case> cases;
    cases.push_back({"Static.Int8", Variant::I1(-5)});
    cases.push_back({"Static.UInt8", Variant::UI1(200)});
    cases.push_back({"Static.Int16", Variant::I2(-30000)});
    cases.push_back({"Static.UInt16", Variant::UI2(60000)});
    cases.push_back({"Static.Int32", Variant::I4(-2000000000)});
    cases.push_back({"Static.UInt32", Variant::UI4(4000000000u)});
    cases.push_back({"Static.Float", Variant::R4(1.5f)});
    cases.push_back({"Static.Double", Variant::R8(-1234.0625)});
    cases.push_back({"Static.Bool", Variant::Bool(true)});
    cases.push_back({"Static.String", Variant::Text("Grüße, 世界")});
    cases.push_back({"Static.Currency", Variant::Currency(12345678)});
    cases.push_back({"Static.Date", Variant::Date(46023.75)});
    cases.push_back({"Static.DoubleArray", Variant::R8Array({3.0, -4.5, 5.25})});
    cases.push_back({"Static.StringArray", Variant::TextArray({"x", "", "yz"})});
    cases.push_back({"Access.WriteOnly", Variant::R8(8.5)});
    cases.push_back({"Access.ReadWrite", Variant::R8(9.5)});

    std::vector<ItemDef> defs;
    std::vector<Variant> values;
    for (const Case& c : cases) {
        defs.push_back({.id = c.id, .client = static_cast<OPCHANDLE>(defs.size())});
        values.push_back(c.value);
    }
    Added a = AddAll(Server(), defs);
    const ErrorsOutcome written = SyncWrite(a.group.object.Get(), a.handles, values);
    EXPECT_HR(written.hr, S_OK);
    EXPECT_EQ(written.errors, std::vector<HRESULT>(cases.size(), S_OK));

    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (std::string(cases[i].id) == "Access.WriteOnly") {
            continue;
        }
        SCOPED_TRACE(cases[i].id);
        const ItemState read = ReadOne(a.group.object.Get(), a.handles[i]);
        const VARIANT& got = read.value.Get();
        const VARIANT& want = cases[i].value.Get();
        ASSERT_EQ(got.vt, want.vt);
        if (want.vt == VT_BSTR) {
            EXPECT_EQ(TextOf(got), TextOf(want));
        } else if (want.vt == (VT_ARRAY | VT_R8)) {
            EXPECT_EQ(R8ArrayOf(got), R8ArrayOf(want));
        } else if (want.vt == (VT_ARRAY | VT_BSTR)) {
            EXPECT_EQ(TextArrayOf(got), TextArrayOf(want));
        } else if (want.vt == VT_CY) {
            EXPECT_EQ(got.cyVal.int64, want.cyVal.int64);
        } else if (want.vt == VT_DATE) {
            EXPECT_EQ(got.date, want.date);
        } else {
            EXPECT_EQ(NumberOf(got), NumberOf(want));
        }
    }
}

TEST_P(SyncIO, WritesAreConvertedToTheCanonicalType) {
    Added a = AddAll(Server(), {{.id = "Static.Int16", .client = 1},
                                {.id = "Static.Int32", .client = 2},
                                {.id = "Static.Bool", .client = 3},
                                {.id = "Static.String", .client = 4}});
    const ErrorsOutcome written =
        SyncWrite(a.group.object.Get(), a.handles,
                  {Variant::Text("42"), Variant::R8(3.0), Variant::I4(1), Variant::I4(17)});
    EXPECT_HR(written.hr, S_OK);
    const ItemState i2 = ReadOne(a.group.object.Get(), a.handles[0]);
    EXPECT_EQ(i2.value.Type(), VT_I2);
    EXPECT_EQ(NumberOf(i2.value.Get()), 42.0);
    const ItemState i4 = ReadOne(a.group.object.Get(), a.handles[1]);
    EXPECT_EQ(i4.value.Type(), VT_I4);
    EXPECT_EQ(NumberOf(i4.value.Get()), 3.0);
    const ItemState b = ReadOne(a.group.object.Get(), a.handles[2]);
    EXPECT_EQ(b.value.Type(), VT_BOOL);
    EXPECT_EQ(b.value->boolVal, VARIANT_TRUE);
    EXPECT_EQ(TextOf(ReadOne(a.group.object.Get(), a.handles[3]).value.Get()), "17");
}

TEST_P(SyncIO, WriteReportsEachItemThatCannotBeWritten) {
    Added a = AddAll(Server(), {{.id = "Access.ReadOnly", .client = 1},
                                {.id = "Signals.Ramp", .client = 2},
                                {.id = "Static.Int32", .client = 3},
                                {.id = "Static.UInt8", .client = 4},
                                {.id = "Static.Int16", .client = 5}});
    const OPCHANDLE bad =
        a.handles[0] + a.handles[1] + a.handles[2] + a.handles[3] + a.handles[4] + 1;
    const double readOnlyBefore =
        *NumberOf(ReadOne(a.group.object.Get(), a.handles[0]).value.Get());
    const ErrorsOutcome written =
        SyncWrite(a.group.object.Get(),
                  {a.handles[0], a.handles[1], bad, a.handles[2], a.handles[3], a.handles[4]},
                  {Variant::R8(1.0), Variant::R8(2.0), Variant::R8(3.0), Variant::Text("abc"),
                   Variant::I4(300), Variant::I2(7)});
    EXPECT_HR(written.hr, S_FALSE);
    EXPECT_HRS(written.errors, OPC_E_BADRIGHTS, OPC_E_BADRIGHTS, OPC_E_INVALIDHANDLE, OPC_E_BADTYPE,
               OPC_E_RANGE, S_OK);

    // Refused writes change nothing; the good one went through.
    EXPECT_EQ(NumberOf(ReadOne(a.group.object.Get(), a.handles[0]).value.Get()), readOnlyBefore);
    EXPECT_EQ(NumberOf(ReadOne(a.group.object.Get(), a.handles[2]).value.Get()), 0.0);
    EXPECT_EQ(NumberOf(ReadOne(a.group.object.Get(), a.handles[3]).value.Get()), 0.0);
    EXPECT_EQ(NumberOf(ReadOne(a.group.object.Get(), a.handles[4]).value.Get()), 7.0);

    EXPECT_HR(SyncWrite(a.group.object.Get(), {}, {}).hr, E_INVALIDARG);
}

}  // namespace
